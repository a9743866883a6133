#include "transfer/SessionProgress.h"

#include "text/unicode.h"
#include "transfer/Pop3Session.h"
#include "transfer/SmtpSession.h"

#include <algorithm>

namespace tegalo {

using namespace tegalo::literals;

SessionProgress ProgressOf(const Pop3Session& session) {
    SessionProgress progress;
    if (!session.Busy()) {
        return progress;
    }
    if (session.Stopping()) {
        progress.step = SessionProgress::Step::Stopping;
    } else if (session.DeleteCurrent() > 0) {
        progress.step = SessionProgress::Step::Deleting;
        progress.current = session.DeleteCurrent();
        progress.total = session.DeleteTotal();
    } else if (session.RetrieveCurrent() > 0) {
        progress.step = SessionProgress::Step::Receiving;
        progress.current = session.RetrieveCurrent();
        progress.total = session.RetrieveTotal();
    } else {
        progress.step = SessionProgress::Step::Connecting;
    }
    return progress;
}

SessionProgress ProgressOf(const SmtpSession& session) {
    SessionProgress progress;
    progress.sending = true;
    if (!session.Busy()) {
        return progress;
    }
    const SmtpState state = session.State();
    if (session.Stopping()) {
        progress.step = SessionProgress::Step::Stopping;
    } else if (state == SmtpState::Idle || state == SmtpState::Greeting || state == SmtpState::EhloSent ||
               state == SmtpState::StartTlsSent || state == SmtpState::TlsHandshake || state == SmtpState::AuthSent) {
        progress.step = SessionProgress::Step::Connecting;
    } else {
        progress.step = SessionProgress::Step::Sending;
        progress.total = session.MessagesTotal();
        // Refused and accepted ones are behind; the one in its transaction is next.
        progress.current = std::min(progress.total, session.MessagesTotal() - session.MessagesLeft() + 1);
    }
    return progress;
}

std::string ProgressText(const SessionProgress& progress) {
    const auto counted = [&](std::string word) {
        return word + " " + std::to_string(progress.current) + "/" + std::to_string(progress.total);
    };
    switch (progress.step) {
    case SessionProgress::Step::Idle:
        return {};
    case SessionProgress::Step::Connecting:
        return "接続中"_sjis;
    case SessionProgress::Step::Receiving:
        return counted("受信中"_sjis);
    case SessionProgress::Step::Deleting:
        return counted("削除中"_sjis);
    case SessionProgress::Step::Sending:
        return counted("送信中"_sjis);
    case SessionProgress::Step::Stopping:
        return progress.sending ? "送信を中止しています"_sjis : "受信を中止しています"_sjis;
    }
    return {};
}

} // namespace tegalo
