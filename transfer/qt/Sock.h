// The program's one connection to a mail server. CSock moves bytes and
// events between a QTcpSocket and the session state machines (POP3 to
// receive, SMTP to send); it holds no protocol logic of its own. One session
// runs at a time. The same driver runs in the window and without one.
#pragma once

#include "transfer/DocReceiveStore.h"
#include "transfer/DocSendStore.h"
#include "transfer/Pop3Session.h"
#include "transfer/SessionProgress.h"
#include "transfer/SmtpSession.h"
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
    explicit CSock(CTegaloDoc& doc, QObject* parent = nullptr);
    ~CSock() override;

    // What the session reports, in Shift_JIS. Status texts go to the status
    // bar (or standard output); notices must not block (no nested event loop
    // while a session runs); `onEnded` follows the last of them.
    std::function<void(const std::string&)> onStatusText;
    std::function<void(const std::string&)> onNotice;
    std::function<void(SessionEnd)> onEnded;
    // A message was stored in the received folder, or one was sent (and
    // moved from the waiting folder to the sent one).
    std::function<void()> onReceived;
    std::function<void()> onSent;
    // The running session moved on (see Progress()); also once it ended.
    std::function<void()> onProgress;

    // Starts a receive session with the account's settings.
    void StartReceive(const AccountSettings& settings);
    // Sends every message of the waiting folder, each in its own transaction.
    void SendWaiting(const AccountSettings& settings);
    // Sends one composed message at once. False (with a status text) when
    // another session runs: the message was not taken.
    bool SendComposed(const AccountSettings& settings, OutgoingMessage message);

    // The user stops the running session (see the sessions' Stop); nothing
    // happens when none runs.
    void Stop();

    bool Busy() const { return pop3_.Busy() || smtp_.Busy(); }
    // True while a receive session runs, or when the last one was a receive.
    bool Receiving() const { return mode_ == Mode::Pop3; }
    SessionProgress Progress() const { return mode_ == Mode::Smtp ? ProgressOf(smtp_) : ProgressOf(pop3_); }
    const Pop3Session& pop3() const { return pop3_; }
    const SmtpSession& smtp() const { return smtp_; }

private:
    enum class Mode { Pop3, Smtp };

    // Carries out what a session asked for.
    template <typename Output>
    void Apply(Output out);
    void Connect(const std::string& host, int port);
    bool RefuseWhileBusy();
    void OnConnected();
    void OnReadyRead();
    void OnDisconnected();
    void OnError(QAbstractSocket::SocketError error);
    void OnTick();

    CTegaloDoc& doc_;
    DocReceiveStore receiveStore_;
    DocSendStore sendStore_;
    std::unique_ptr<UidlFile> uidl_;
    Pop3Session pop3_;
    SmtpSession smtp_;
    Mode mode_ = Mode::Pop3;
    Pop3Account account_;
    QTcpSocket* socket_ = nullptr;
    QTimer ticker_;
    bool connected_ = false;
    int reportedReceived_ = 0;
    int reportedSent_ = 0;
    SessionProgress reportedProgress_;
};

} // namespace tegalo
