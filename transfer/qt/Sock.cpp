#include "transfer/qt/Sock.h"

#include "config/AccountSettings.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"

#include <QCryptographicHash>
#include <QSslConfiguration>

namespace tegalo {

namespace {

std::string SjisReason(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return Utf8ToSjis(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size()))).text;
}

} // namespace

CSock::CSock(CTegaloDoc& doc, QObject* parent)
    : QObject(parent), doc_(doc), receiveStore_(doc), sendStore_(doc),
      uidl_(std::make_unique<UidlFile>(doc.BaseDir())),
      digests_(std::make_unique<UidlFile>(doc.BaseDir(), UidlFile::kDigestFileName)), pop3_(receiveStore_, uidl_.get()),
      smtp_(sendStore_) {
    pop3_.SetDigestStore(digests_.get());
    ticker_.setInterval(1000);
    connect(&ticker_, &QTimer::timeout, this, &CSock::OnTick);
}

CSock::~CSock() {
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
    }
}

bool CSock::RefuseWhileBusy() {
    // Each session refuses a second start of its own; a start of the other
    // kind is refused here, since there is one connection.
    if (!Busy()) {
        return false;
    }
    if (onStatusText) {
        onStatusText("Session Running: Request Ignored");
    }
    return true;
}

std::string CSock::TrustRefusedCertificate() {
    if (!refused_) {
        return "no certificate was refused";
    }
    std::string error = TrustedCertsFile(doc_.BaseDir()).Trust(refused_->host, refused_->port, refused_->fingerprint);
    if (error.empty()) {
        refused_.reset();
    }
    return error;
}

void CSock::StartReceive(const AccountSettings& settings) {
    if (smtp_.Busy() && RefuseWhileBusy()) {
        return;
    }
    if (!pop3_.Busy()) {
        refused_.reset();
        reportedReceived_ = 0;
        mode_ = Mode::Pop3;
        account_ = Pop3AccountFrom(settings);
        mayUseTls_ = settings.pop3Security != Security::None;
    }
    Apply(pop3_.StartReceive(account_));
}

void CSock::SendWaiting(const AccountSettings& settings) {
    if (pop3_.Busy() && RefuseWhileBusy()) {
        return;
    }
    if (!smtp_.Busy()) {
        refused_.reset();
        reportedSent_ = 0;
        mode_ = Mode::Smtp;
        mayUseTls_ = settings.smtpSecurity != Security::None;
    }
    Apply(smtp_.SendWaiting(SmtpAccountFrom(settings)));
}

bool CSock::SendComposed(const AccountSettings& settings, OutgoingMessage message) {
    if (RefuseWhileBusy()) {
        return false;
    }
    refused_.reset();
    reportedSent_ = 0;
    mode_ = Mode::Smtp;
    mayUseTls_ = settings.smtpSecurity != Security::None;
    Apply(smtp_.SendComposed(SmtpAccountFrom(settings), std::move(message)));
    return true;
}

void CSock::Connect(const std::string& host, int port, bool tls) {
    // The socket is made only once the session checked the server and port.
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_->deleteLater();
    }
    QSslSocket* tlsSocket = tls || mayUseTls_ ? new QSslSocket(this) : nullptr;
    socket_ = tlsSocket != nullptr ? tlsSocket : new QTcpSocket(this);
    connected_ = false;
    handshaking_ = tls;
    SetEncrypted(false);
    host_ = SjisToUtf8(host);
    port_ = port;
    if (tlsSocket != nullptr) {
        QSslConfiguration tlsConfig = QSslConfiguration::defaultConfiguration();
        tlsConfig.setProtocol(QSsl::TlsV1_2OrLater);
        tlsConfig.setPeerVerifyMode(QSslSocket::VerifyPeer);
        tlsSocket->setSslConfiguration(tlsConfig);
        connect(tlsSocket, &QSslSocket::encrypted, this, &CSock::OnEncrypted);
        connect(tlsSocket, &QSslSocket::sslErrors, this, &CSock::OnSslErrors);
    }
    connect(socket_, &QTcpSocket::connected, this, &CSock::OnConnected);
    connect(socket_, &QTcpSocket::readyRead, this, &CSock::OnReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, &CSock::OnDisconnected);
    connect(socket_, &QAbstractSocket::errorOccurred, this, &CSock::OnError);
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
        if (mode_ == Mode::Smtp) {
            Apply(smtp_.OnBytesWritten());
        }
    });
    const QString name = QString::fromUtf8(host_);
    if (tls) {
        tlsSocket->connectToHostEncrypted(name, static_cast<quint16>(port));
    } else {
        socket_->connectToHost(name, static_cast<quint16>(port));
    }
}

void CSock::StartTls() {
    auto* tlsSocket = qobject_cast<QSslSocket*>(socket_);
    if (tlsSocket == nullptr) {
        // A session set to plain text never asks for TLS; should one, it
        // ends here rather than wait for a handshake that cannot come.
        const std::string reason = "TLS not available on a plain connection";
        if (mode_ == Mode::Smtp) {
            Apply(smtp_.OnTlsFailed(reason));
        } else {
            Apply(pop3_.OnTlsFailed(reason));
        }
        return;
    }
    // Whatever the server sent in the clear after its go-ahead is not read:
    // anyone on the way could have put it there.
    tlsSocket->readAll();
    handshaking_ = true;
    tlsSocket->startClientEncryption();
}

void CSock::OnEncrypted() {
    handshaking_ = false;
    SetEncrypted(true);
    if (!connected_) {
        OnConnected(); // TLS from the start: the session starts now
        return;
    }
    if (mode_ == Mode::Smtp) {
        Apply(smtp_.OnTlsStarted());
    } else {
        Apply(pop3_.OnTlsStarted());
    }
}

void CSock::OnSslErrors(const QList<QSslError>& errors) {
    auto* tlsSocket = qobject_cast<QSslSocket*>(socket_);
    if (tlsSocket == nullptr) {
        return;
    }
    const QSslCertificate certificate = tlsSocket->peerCertificate();
    if (certificate.isNull()) {
        return; // refused: the handshake fails
    }
    const QByteArray hex = certificate.digest(QCryptographicHash::Sha256).toHex();
    const std::string fingerprint(hex.constData(), static_cast<std::size_t>(hex.size()));
    const CertTrust trust = CheckPinned(TrustedCertsFile(doc_.BaseDir()).Load(), host_, port_, fingerprint);
    if (trust == CertTrust::Pinned) {
        // The user trusts exactly this certificate for this server, whoever
        // signed it and whatever name it carries.
        tlsSocket->ignoreSslErrors(errors);
        return;
    }
    refused_ = RefusedCert{host_, port_, fingerprint};
    std::string reason = UntrustedCertificateText(Utf8ToSjis(host_).text, port_, fingerprint, trust);
    if (!errors.isEmpty()) {
        reason += " (" + SjisReason(errors.front().errorString()) + ")";
    }
    refusedReason_ = std::move(reason);
}

void CSock::SetEncrypted(bool on) {
    if (encrypted_ == on) {
        return;
    }
    encrypted_ = on;
    if (onEncrypted) {
        onEncrypted(on);
    }
}

template <typename Output>
void CSock::Apply(Output out) {
    if (out.connect) {
        if constexpr (std::is_same_v<Output, SmtpOutput>) {
            Connect(out.host, out.port, out.tls);
        } else {
            Connect(account_.serverName, account_.pop3Port, out.tls);
        }
    }
    if (!out.send.empty() && socket_) {
        // QTcpSocket keeps what the network does not take at once and writes
        // it as the connection allows: the whole text goes out.
        socket_->write(out.send.data(), static_cast<qint64>(out.send.size()));
    }
    if (out.startTls) {
        StartTls();
    }
    for (const std::string& text : out.statusTexts) {
        if (onStatusText) {
            onStatusText(text);
        }
    }
    for (const std::string& notice : out.notices) {
        if (onNotice) {
            onNotice(notice);
        }
    }
    if (out.close && socket_) {
        socket_->disconnect(this);
        socket_->disconnectFromHost();
        socket_->deleteLater();
        socket_ = nullptr;
        handshaking_ = false;
        SetEncrypted(false);
    }
    if (Busy() && !ticker_.isActive()) {
        ticker_.start();
    } else if (!Busy()) {
        ticker_.stop();
    }
    if (pop3_.Received() != reportedReceived_) {
        reportedReceived_ = pop3_.Received();
        if (onReceived) {
            onReceived();
        }
    }
    if (smtp_.Sent() != reportedSent_) {
        reportedSent_ = smtp_.Sent();
        if (onSent) {
            onSent();
        }
    }
    if (const SessionProgress progress = Progress(); progress != reportedProgress_) {
        reportedProgress_ = progress;
        if (onProgress) {
            onProgress();
        }
    }
    if (out.ended != SessionEnd::None && onEnded) {
        onEnded(out.ended);
    }
}

void CSock::Stop() {
    if (mode_ == Mode::Smtp) {
        Apply(smtp_.Stop());
    } else {
        Apply(pop3_.Stop());
    }
}

void CSock::OnConnected() {
    if (handshaking_ && !connected_ && !encrypted_) {
        return; // TLS from the start: the session hears of the connection once it is encrypted
    }
    connected_ = true;
    if (socket_) {
        // Commands are short and each waits for its answer: send them at once.
        socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    }
    if (mode_ == Mode::Smtp) {
        Apply(smtp_.OnServerConnect());
    } else {
        Apply(pop3_.OnServerConnect());
    }
}

void CSock::OnReadyRead() {
    if (!socket_) {
        return;
    }
    // A piece at a time, each answer on its way at once: the server works
    // on the next commands while the session takes the rest of what came.
    constexpr qint64 kPiece = 64 * 1024;
    QByteArray bytes;
    while (socket_ && socket_->bytesAvailable() > 0) {
        bytes = socket_->read(kPiece);
        const std::string_view data(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        if (mode_ == Mode::Smtp) {
            Apply(smtp_.ReadArrival(data));
        } else {
            Apply(pop3_.ReadArrival(data));
        }
        if (socket_) {
            socket_->flush();
        }
    }
}

void CSock::OnDisconnected() {
    if (handshaking_) {
        // The server gave up on the handshake.
        OnError(QAbstractSocket::SslHandshakeFailedError);
        return;
    }
    if (mode_ == Mode::Smtp) {
        Apply(smtp_.OnServerClose());
    } else {
        Apply(pop3_.OnServerClose());
    }
}

void CSock::OnError(QAbstractSocket::SocketError error) {
    if (!socket_ || error == QAbstractSocket::RemoteHostClosedError) {
        return; // a closed connection is reported by OnDisconnected
    }
    std::string reason = SjisReason(socket_->errorString());
    if (handshaking_) {
        // No plain-text fallback: a failed handshake ends the session.
        if (!refusedReason_.empty()) {
            reason = std::exchange(refusedReason_, {});
        }
        handshaking_ = false;
        if (mode_ == Mode::Smtp) {
            Apply(smtp_.OnTlsFailed(reason));
        } else {
            Apply(pop3_.OnTlsFailed(reason));
        }
        return;
    }
    if (mode_ == Mode::Smtp) {
        Apply(connected_ ? smtp_.OnSocketError(reason) : smtp_.OnConnectFailed(reason));
    } else {
        Apply(connected_ ? pop3_.OnSocketError(reason) : pop3_.OnConnectFailed(reason));
    }
}

void CSock::OnTick() {
    if (mode_ == Mode::Smtp) {
        Apply(smtp_.OnTick());
    } else {
        Apply(pop3_.OnTick());
    }
}

} // namespace tegalo
