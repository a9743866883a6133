#include "transfer/qt/Sock.h"

#include "config/AccountSettings.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"

namespace tegalo {

namespace {

std::string SjisReason(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return Utf8ToSjis(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size()))).text;
}

} // namespace

CSock::CSock(CTegaloDoc& doc, QObject* parent)
    : QObject(parent), doc_(doc), receiveStore_(doc), sendStore_(doc),
      uidl_(std::make_unique<UidlFile>(doc.BaseDir())), pop3_(receiveStore_, uidl_.get()), smtp_(sendStore_) {
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

void CSock::StartReceive(const AccountSettings& settings) {
    if (smtp_.Busy() && RefuseWhileBusy()) {
        return;
    }
    if (!pop3_.Busy()) {
        reportedReceived_ = 0;
        mode_ = Mode::Pop3;
        account_ = Pop3Account{settings.serverName, settings.pop3Port, settings.userName, settings.password,
                               settings.keepOnServer};
    }
    Apply(pop3_.StartReceive(account_));
}

void CSock::SendWaiting(const AccountSettings& settings) {
    if (pop3_.Busy() && RefuseWhileBusy()) {
        return;
    }
    if (!smtp_.Busy()) {
        reportedSent_ = 0;
        mode_ = Mode::Smtp;
    }
    Apply(smtp_.SendWaiting(SmtpAccountFrom(settings)));
}

bool CSock::SendComposed(const AccountSettings& settings, OutgoingMessage message) {
    if (RefuseWhileBusy()) {
        return false;
    }
    reportedSent_ = 0;
    mode_ = Mode::Smtp;
    Apply(smtp_.SendComposed(SmtpAccountFrom(settings), std::move(message)));
    return true;
}

void CSock::Connect(const std::string& host, int port) {
    // The socket is made only once the session checked the server and port.
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_->deleteLater();
    }
    socket_ = new QTcpSocket(this);
    connected_ = false;
    connect(socket_, &QTcpSocket::connected, this, &CSock::OnConnected);
    connect(socket_, &QTcpSocket::readyRead, this, &CSock::OnReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, &CSock::OnDisconnected);
    connect(socket_, &QAbstractSocket::errorOccurred, this, &CSock::OnError);
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
        if (mode_ == Mode::Smtp) {
            Apply(smtp_.OnBytesWritten());
        }
    });
    socket_->connectToHost(QString::fromUtf8(SjisToUtf8(host)), static_cast<quint16>(port));
}

template <typename Output>
void CSock::Apply(Output out) {
    if (out.connect) {
        if constexpr (std::is_same_v<Output, SmtpOutput>) {
            Connect(out.host, out.port);
        } else {
            Connect(account_.serverName, account_.pop3Port);
        }
    }
    if (!out.send.empty() && socket_) {
        // QTcpSocket keeps what the network does not take at once and writes
        // it as the connection allows: the whole text goes out.
        socket_->write(out.send.data(), static_cast<qint64>(out.send.size()));
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
    const QByteArray bytes = socket_->readAll();
    const std::string_view data(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (mode_ == Mode::Smtp) {
        Apply(smtp_.ReadArrival(data));
    } else {
        Apply(pop3_.ReadArrival(data));
    }
}

void CSock::OnDisconnected() {
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
    const std::string reason = SjisReason(socket_->errorString());
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
