#include "transfer/Sock.h"

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
    : QObject(parent), doc_(doc), store_(doc), uidl_(std::make_unique<UidlFile>(doc.BaseDir())),
      pop3_(store_, uidl_.get()) {
    ticker_.setInterval(1000);
    connect(&ticker_, &QTimer::timeout, this, [this] { Apply(pop3_.OnTick()); });
}

CSock::~CSock() {
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
    }
}

bool CSock::Busy() const {
    return pop3_.Busy();
}

void CSock::StartReceive(const AccountSettings& settings) {
    if (!pop3_.Busy()) {
        reportedReceived_ = 0;
        account_ = Pop3Account{settings.serverName, settings.pop3Port, settings.userName, settings.password,
                               settings.keepOnServer};
    }
    Apply(pop3_.StartReceive(account_));
}

void CSock::Apply(Pop3Output out) {
    if (out.connect) {
        // The socket is made only once the session checked the server and port.
        if (socket_) {
            socket_->disconnect(this);
            socket_->abort();
            socket_->deleteLater();
        }
        socket_ = new QTcpSocket(this);
        // Commands are short and each waits for its answer: send them at once.
        socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connected_ = false;
        connect(socket_, &QTcpSocket::connected, this, &CSock::OnConnected);
        connect(socket_, &QTcpSocket::readyRead, this, &CSock::OnReadyRead);
        connect(socket_, &QTcpSocket::disconnected, this, &CSock::OnDisconnected);
        connect(socket_, &QAbstractSocket::errorOccurred, this, &CSock::OnError);
        socket_->connectToHost(QString::fromUtf8(SjisToUtf8(account_.serverName)),
                               static_cast<quint16>(account_.pop3Port));
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
    if (pop3_.Busy() && !ticker_.isActive()) {
        ticker_.start();
    } else if (!pop3_.Busy()) {
        ticker_.stop();
    }
    if (pop3_.Received() != reportedReceived_) {
        reportedReceived_ = pop3_.Received();
        if (onReceived) {
            onReceived();
        }
    }
    if (out.ended != SessionEnd::None && onEnded) {
        onEnded(out.ended);
    }
}

void CSock::OnConnected() {
    connected_ = true;
    Apply(pop3_.OnServerConnect());
}

void CSock::OnReadyRead() {
    if (!socket_) {
        return;
    }
    const QByteArray bytes = socket_->readAll();
    Apply(pop3_.ReadArrival(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))));
}

void CSock::OnDisconnected() {
    Apply(pop3_.OnServerClose());
}

void CSock::OnError(QAbstractSocket::SocketError error) {
    if (!socket_) {
        return;
    }
    if (error == QAbstractSocket::RemoteHostClosedError) {
        return; // reported by OnDisconnected
    }
    const std::string reason = SjisReason(socket_->errorString());
    Apply(connected_ ? pop3_.OnSocketError(reason) : pop3_.OnConnectFailed(reason));
}

} // namespace tegalo
