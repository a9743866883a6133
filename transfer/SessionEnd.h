// How a mail session ended, shared by the receive and the send session so
// that the socket adapter drives both the same way.
#pragma once

namespace tegalo {

enum class SessionEnd {
    None,   // the session goes on (or none ran)
    Normal, // every step succeeded
    Failed, // it ended on a failure; its status text says which
    Stopped, // the user stopped it; what was done before the stop stands
};

} // namespace tegalo
