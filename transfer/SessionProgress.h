// Where a running session stands, for the status bar: what it does and how
// far it got ("受信中 12/277").
#pragma once

#include <string>

namespace tegalo {

class Pop3Session;
class SmtpSession;

struct SessionProgress {
    enum class Step {
        Idle,       // no session runs
        Connecting, // connecting, logging in, listing
        Receiving,  // fetching message `current` of `total`
        Deleting,   // deleting message `current` of `total` from the server
        Sending,    // sending message `current` of `total`
        Stopping,   // the user stopped it; it ends the transaction under way
    };
    Step step = Step::Idle;
    int current = 0; // 1 for the first message; 0 when not known
    int total = 0;
    bool sending = false; // a send session (else a receive session)

    bool operator==(const SessionProgress&) const = default;
};

SessionProgress ProgressOf(const Pop3Session& session);
SessionProgress ProgressOf(const SmtpSession& session);

// The status text of `progress` in Shift_JIS: "受信中 12/277", "削除中 3/12",
// "送信中 1/3", "接続中", "中止しています"; empty when idle.
std::string ProgressText(const SessionProgress& progress);

} // namespace tegalo
