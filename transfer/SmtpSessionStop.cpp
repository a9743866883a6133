// The user's stop of a send session.
#include "transfer/SmtpSession.h"

#include "text/unicode.h"

namespace tegalo {

using namespace tegalo::literals;

SmtpOutput SmtpSession::Stop() {
    if (phase_ == Phase::Connecting) {
        Status(SendStoppedText(sent_));
        stopping_ = true;
        CloseSocket(SessionEnd::Stopped);
        return Take();
    }
    if (phase_ != Phase::Running) {
        return Take();
    }
    if (stopping_ || sessionState == SmtpState::QuitSent || sessionState == SmtpState::DataSent ||
        sessionState == SmtpState::StartTlsSent || sessionState == SmtpState::TlsHandshake) {
        // After DATA a QUIT would be read as message text, and during the
        // change to TLS it has no place: the connection is closed instead,
        // and a server drops a message whose text never ended. A message
        // left unanswered stays waiting.
        stopping_ = true;
        Status(SendStoppedText(sent_));
        CloseSocket(SessionEnd::Stopped);
        return Take();
    }
    stopping_ = true;
    if (sessionState == SmtpState::MessageSent) {
        Status("送信を中止しています"_sjis); // the answer decides where the message goes
        return Take();
    }
    // Before the text: QUIT drops the transaction. The answer to the command
    // under way, or to QUIT, ends the session.
    Status(SendStoppedText(sent_));
    Quit(SessionEnd::Stopped);
    return Take();
}

} // namespace tegalo
