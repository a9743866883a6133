// The program's one connection to a mail server. CSock moves bytes and
// events between a QTcpSocket and the session state machine; it holds no
// protocol logic of its own. The same driver runs in the window and in a
// run without one.
#pragma once

#include "transfer/DocReceiveStore.h"
#include "transfer/Pop3Session.h"
#include "transfer/UidlFile.h"

#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

namespace tegalo {

struct AccountSettings;
class CTegaloDoc;

class CSock : public QObject {
    Q_OBJECT
public:
    CSock(CTegaloDoc& doc, QObject* parent = nullptr);
    ~CSock() override;

    // What the session reports, in Shift_JIS. Status texts go to the status
    // bar (or standard output); notices must not block (no nested event loop
    // while a session runs); `onEnded` follows the last of them.
    std::function<void(const std::string&)> onStatusText;
    std::function<void(const std::string&)> onNotice;
    std::function<void(SessionEnd)> onEnded;
    // A message was stored in the received folder.
    std::function<void()> onReceived;

    // Starts a receive session with the account's settings; refused with a
    // status text while a session runs.
    void StartReceive(const AccountSettings& settings);

    bool Busy() const;
    const Pop3Session& pop3() const { return pop3_; }

private:
    void Apply(Pop3Output out);
    void OnConnected();
    void OnReadyRead();
    void OnDisconnected();
    void OnError(QAbstractSocket::SocketError error);

    CTegaloDoc& doc_;
    DocReceiveStore store_;
    std::unique_ptr<UidlFile> uidl_;
    Pop3Session pop3_;
    Pop3Account account_;
    QTcpSocket* socket_ = nullptr;
    QTimer ticker_;
    bool connected_ = false;
    int reportedReceived_ = 0;
};

} // namespace tegalo
