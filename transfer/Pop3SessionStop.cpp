// The user's stop of a receive session.
#include "transfer/Pop3Session.h"

#include "text/unicode.h"

namespace tegalo {

using namespace tegalo::literals;

Pop3Output Pop3Session::Stop() {
    if (phase_ == Phase::Connecting) {
        Status(ReceiveStoppedText(0));
        phase_ = Phase::Idle;
        out_.close = true;
        out_.ended = SessionEnd::Stopped;
        return Take();
    }
    if (phase_ != Phase::Running) {
        return Take();
    }
    // During the change to TLS a QUIT in clear text has no place: the
    // connection is closed (nothing was fetched yet).
    if (stopping_ || sessionState == Pop3State::QuitSent || sessionState == Pop3State::StlsSent ||
        sessionState == Pop3State::TlsHandshake) {
        // Closing without QUIT: the server deletes nothing, so a message
        // stored here but not yet deleted is deleted by a later session
        // (its id is remembered as stored).
        Status(ReceiveStoppedText(received_));
        stopping_ = true;
        CloseSocket(SessionEnd::Stopped);
        return Take();
    }
    stopping_ = true;
    switch (sessionState) {
    case Pop3State::RetrSent:
    case Pop3State::MessageText:
        // The server sends the message under way whatever follows; it is
        // stored, then the stored ones are deleted and the session quits.
        stopRetrieving_ = true;
        Status("受信を中止しています"_sjis);
        break;
    case Pop3State::DeleSent:
        // Only messages stored whole are deleted: those deletions go on.
        Status("受信を中止しています"_sjis);
        break;
    default:
        // Nothing fetched yet. The answer to the command under way, or to
        // QUIT, ends the session.
        Quit(SessionEnd::Normal);
        break;
    }
    return Take();
}

} // namespace tegalo
