// The program's one connection to a mail server. CSock moves bytes and
// events between a QSslSocket and the session state machines (POP3 to
// receive, SMTP to send); it holds no protocol logic of its own. One session
// runs at a time. The same driver runs in the window and without one.
//
// TLS: 1.2 or newer, the server's certificate checked against the system's
// authorities and the host name. A certificate they do not vouch for is
// accepted only when the mailbox's "trusted-certs" pins exactly it for that
// server; otherwise the session ends and the certificate is kept as
// RefusedCertificate(), which the window may offer the user to trust.
#pragma once

#include "transfer/DocReceiveStore.h"
#include "transfer/DocSendStore.h"
#include "transfer/Pop3Session.h"
#include "transfer/SessionProgress.h"
#include "transfer/SmtpSession.h"
#include "transfer/TrustedCerts.h"
#include "transfer/UidlFile.h"

#include <QObject>
#include <QSslError>
#include <QSslSocket>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
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
    // The connection became encrypted (true) or the encrypted one ended (false).
    std::function<void(bool)> onEncrypted;

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

    // The session runs over TLS.
    bool Encrypted() const { return encrypted_; }

    // The certificate the last session refused, if any: "host", port and
    // SHA-256 fingerprint (64 lowercase hex). Cleared when a session starts.
    struct RefusedCert {
        std::string host;
        int port = 0;
        std::string fingerprint;
    };
    const std::optional<RefusedCert>& RefusedCertificate() const { return refused_; }
    // Pins the refused certificate in "trusted-certs". Returns an empty
    // string on success, else what went wrong.
    [[nodiscard]] std::string TrustRefusedCertificate();
    const Pop3Session& pop3() const { return pop3_; }
    const SmtpSession& smtp() const { return smtp_; }

private:
    enum class Mode { Pop3, Smtp };

    // Carries out what a session asked for.
    template <typename Output>
    void Apply(Output out);
    void Connect(const std::string& host, int port, bool tls);
    void StartTls();
    void OnEncrypted();
    void OnSslErrors(const QList<QSslError>& errors);
    void SetEncrypted(bool on);
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
    std::unique_ptr<UidlFile> digests_;
    Pop3Session pop3_;
    SmtpSession smtp_;
    Mode mode_ = Mode::Pop3;
    Pop3Account account_;
    // A QSslSocket when the session may use TLS; a plain QTcpSocket when its
    // settings say plain text, so that such a session does not load and
    // start OpenSSL at all.
    QTcpSocket* socket_ = nullptr;
    bool mayUseTls_ = true; // the settings of the session ask for TLS (from the start or by STLS/STARTTLS)
    QTimer ticker_;
    bool connected_ = false;   // the session was told the connection is open
    bool handshaking_ = false; // a TLS handshake runs
    bool encrypted_ = false;
    std::string host_;         // the server of the connection and its port
    int port_ = 0;
    std::optional<RefusedCert> refused_;
    std::string refusedReason_; // the status text of a certificate just refused
    int reportedReceived_ = 0;
    int reportedSent_ = 0;
    SessionProgress reportedProgress_;
};

} // namespace tegalo
