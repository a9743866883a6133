// What every mail session does with its connection: the phase it is in, the
// reply timeout, and the answers to a connection that fails, closes, breaks
// or falls silent. A session derives from it (naming itself and its output
// type) and provides ConnectFailed, CloseSocket, StepSession, QuitSent and a
// `reader_` that is fed the arrivals.
#pragma once

#include "text/unicode.h"
#include "transfer/SessionEnd.h"

#include <string>
#include <string_view>
#include <utility>

namespace tegalo {

template <typename Session, typename Output>
class SessionConnection {
public:
    // A session with no byte from the server for this many ticks ends.
    static constexpr int kReplyTimeoutTicks = 60;

    // A session is connecting or running.
    bool Busy() const { return phase_ != Phase::Idle; }

    // The connection could not be opened; `reason` (Shift_JIS) is shown.
    Output OnConnectFailed(std::string_view reason) {
        if (phase_ == Phase::Connecting) {
            self().ConnectFailed(reason);
        }
        return Take();
    }

    // Bytes arrived, in any pieces.
    Output ReadArrival(std::string_view recvData) {
        if (phase_ == Phase::Running) {
            idleTicks_ = 0;
            self().reader_.Feed(recvData);
            self().StepSession();
        }
        return Take();
    }

    // The server closed the connection.
    Output OnServerClose() {
        if (phase_ == Phase::Connecting) {
            self().ConnectFailed("connection closed");
        }
        if (phase_ == Phase::Running) {
            if (self().QuitSent()) {
                self().CloseSocket(pendingEnd_);
            } else {
                // Nothing half received is stored and nothing half sent
                // counts as accepted; without QUIT the server deletes nothing.
                Status("Server Closed the Connection: Session Ended");
                self().CloseSocket(SessionEnd::Failed);
            }
        }
        return Take();
    }

    // The connection failed while open; `reason` (Shift_JIS) is shown.
    Output OnSocketError(std::string_view reason) {
        if (phase_ == Phase::Connecting) {
            self().ConnectFailed(reason);
        }
        if (phase_ == Phase::Running) {
            std::string text = tegalo::SjisLiteral("サーバエラーメッセージ");
            if (!reason.empty()) {
                text += " ";
                text += reason;
            }
            Status(std::move(text));
            self().CloseSocket(SessionEnd::Failed);
        }
        return Take();
    }

    // One second passed. The adapter ticks while Busy().
    Output OnTick() {
        if (phase_ != Phase::Idle && ++idleTicks_ >= kReplyTimeoutTicks) {
            if (phase_ == Phase::Connecting) {
                self().ConnectFailed("no answer in 60 seconds");
            } else if (self().QuitSent()) {
                self().CloseSocket(pendingEnd_);
            } else {
                Status("Server Timeout: No Answer in 60 Seconds");
                self().CloseSocket(SessionEnd::Failed);
            }
        }
        return Take();
    }

protected:
    enum class Phase { Idle, Connecting, Running };

    Output Take() { return std::exchange(out_, {}); }
    void Status(std::string text) { out_.statusTexts.push_back(std::move(text)); }

    // The common part of a failed connection: the status text, and the
    // session is over.
    void EndConnectFailed(std::string_view reason) {
        Status("Server Connection Failed: " + std::string(reason));
        phase_ = Phase::Idle;
        out_.close = true;
        out_.ended = SessionEnd::Failed;
    }

    Output out_;
    Phase phase_ = Phase::Idle;
    int idleTicks_ = 0;
    SessionEnd pendingEnd_ = SessionEnd::None; // the outcome once QUIT is answered

private:
    Session& self() { return static_cast<Session&>(*this); }
};

} // namespace tegalo
