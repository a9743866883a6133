#include "session/MailSessions.h"

#include "store/TegaloDoc.h"
#include "text/unicode.h"
#include "transfer/CheckTimer.h"
#include "transfer/qt/Sock.h"

#include <utility>

namespace tegalo {

using namespace tegalo::literals;

MailSessions::MailSessions(CTegaloDoc& doc, QObject* parent)
    : QObject(parent), doc_(doc), socket_(std::make_unique<CSock>(doc, this)) {
    socket_->onStatusText = [this](const std::string& text) { emit statusText(text); };
    socket_->onNotice = [this](const std::string& text) { emit notice(text); };
    socket_->onReceived = [this] { emit received(); };
    socket_->onSent = [this] { emit sent(); };
    socket_->onEnded = [this](SessionEnd how) { OnEnded(how); };
    socket_->onProgress = [this] { emit progress(); };
    socket_->onEncrypted = [this](bool on) { emit encryptedChanged(on); };
    connect(&checkTimer_, &QTimer::timeout, this, [this] { StartReceive(); });
}

MailSessions::~MailSessions() = default;

SettingsStatus MailSessions::ReadSettings(StoreUi& ui) {
    const SettingsStatus status = ReadAccountSettings(doc_.BaseDir(), settings_, ui);
    emit settingsChanged();
    return status;
}

void MailSessions::ApplySettings(const AccountSettings& settings) {
    settings_ = settings;
    emit settingsChanged();
}

void MailSessions::StartCheckTimer() {
    if (!settings_.checkNewMail) {
        return;
    }
    if (const auto period = CheckTimerPeriod(settings_.checkInterval)) {
        checkTimer_.start(*period);
    }
}

bool MailSessions::Busy() const {
    return socket_->Busy();
}

SessionProgress MailSessions::Progress() const {
    return socket_->Progress();
}

void MailSessions::Stop() {
    socket_->Stop();
}

void MailSessions::Begin() {
    if (!busy_ && !socket_->Busy()) {
        busy_ = true;
        emit busyChanged(true);
    }
}

void MailSessions::SettleBusy() {
    if (busy_ && !socket_->Busy()) {
        busy_ = false;
        emit busyChanged(false);
    }
}

void MailSessions::StartReceive() {
    Begin();
    socket_->StartReceive(settings_);
    SettleBusy(); // refused before it began: nothing runs
}

void MailSessions::SendWaiting() {
    Begin();
    socket_->SendWaiting(settings_);
    SettleBusy();
}

bool MailSessions::SendComposed(OutgoingMessage message, std::function<bool()> keepIfNotSent) {
    if (socket_->Busy()) {
        return false;
    }
    Begin();
    lastEnd_ = SessionEnd::None;
    keepIfNotSent_ = std::move(keepIfNotSent);
    const bool taken = socket_->SendComposed(settings_, std::move(message));
    if (!socket_->Busy()) {
        keepIfNotSent_ = {}; // refused before it went out: the caller still has it
    }
    SettleBusy();
    return taken && (socket_->Busy() || lastEnd_ == SessionEnd::Normal);
}

void MailSessions::OnEnded(SessionEnd how) {
    lastEnd_ = how;
    // A composed message the server accepted is filed as sent, whatever
    // happened after (a broken connection before QUIT's answer, a stop): it
    // must not wait to be sent a second time.
    if (std::function<bool()> keep = std::exchange(keepIfNotSent_, {});
        keep && how != SessionEnd::Normal && socket_->smtp().Sent() == 0) {
        // The composed message did not go out: it waits in the folder for
        // the next "送信待" instead of being lost.
        if (keep()) {
            emit notice("送信できなかったメッセージを送信待ちフォルダーに保存しました"_sjis);
            emit unsentKept();
        }
    }
    if (socket_->Receiving() && socket_->pop3().Received() > 0) {
        emit newMail(socket_->pop3().Received());
    }
    emit ended(how);
    SettleBusy();
}

} // namespace tegalo
