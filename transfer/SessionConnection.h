// What every mail session does with its connection: the phase it is in, the
// reply timeout, the TLS handshake, and the answers to a connection that
// fails, closes, breaks or falls silent. A session derives from it (naming
// itself and its output type) and provides ConnectFailed, CloseSocket,
// StepSession, QuitSent, TlsStarted and a `reader_` that is fed the arrivals.
//
// TLS: the session asks the adapter for it with `startTls` in its output
// (after the server agreed to STLS or STARTTLS) or with `tls` beside
// `connect` (TLS from the start, reported by OnServerConnect only once the
// handshake is done). Between the request and OnTlsStarted nothing the
// server sends is read: bytes that arrive in the clear after the server's
// "go ahead" could have been put there by anyone on the way.
#pragma once

#include "text/unicode.h"
#include "transfer/SessionEnd.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace tegalo {

template <typename Session, typename Output>
class SessionConnection {
public:
    // A session with no byte from the server for this many ticks ends.
    static constexpr int kReplyTimeoutTicks = 60;
    // Silence is not the only way to stall: a server may send a byte now
    // and then and never finish. So every step (from a command sent to the
    // next one, such as a whole message fetched) must end within
    // kReplyTimeoutTicks plus one tick for each kMinBytesPerTick bytes the
    // server sent in it: its answers must keep coming at that rate on
    // average, however large they are.
    static constexpr std::size_t kMinBytesPerTick = 1024;

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
        if (phase_ == Phase::Running && tlsPending_) {
            idleTicks_ = 0; // the adapter reads nothing during the handshake; whatever came is dropped
            return Take();
        }
        if (phase_ == Phase::Running) {
            idleTicks_ = 0;
            stepBytes_ += recvData.size();
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

    // The handshake asked for with `startTls` succeeded: from here on the
    // connection is encrypted and the server is asked again what it offers.
    Output OnTlsStarted() {
        if (phase_ == Phase::Running && tlsPending_) {
            tlsPending_ = false;
            encrypted_ = true;
            idleTicks_ = 0;
            Progressed();
            self().reader_.Clear();
            self().TlsStarted();
        }
        return Take();
    }

    // The handshake failed or the server's certificate was refused; `reason`
    // (Shift_JIS) is shown. Nothing more is said on the connection: it is not
    // safe, and falling back to plain text is no option.
    Output OnTlsFailed(std::string_view reason) {
        if (phase_ == Phase::Connecting) {
            self().ConnectFailed(reason);
        } else if (phase_ == Phase::Running) {
            tlsPending_ = false;
            Status("TLS Failed: " + std::string(reason));
            self().CloseSocket(SessionEnd::Failed);
        }
        return Take();
    }

    // The connection is encrypted (TLS from the start, or after STLS or
    // STARTTLS).
    bool Encrypted() const { return phase_ == Phase::Running && encrypted_; }

    // One second passed. The adapter ticks while Busy().
    Output OnTick() {
        if (phase_ == Phase::Running && ++stepTicks_ > StepAllowance()) {
            if (self().QuitSent()) {
                self().CloseSocket(pendingEnd_);
            } else {
                Status("Server Too Slow: Session Ended");
                self().CloseSocket(SessionEnd::Failed);
            }
            return Take();
        }
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

    Output Take() {
        if (!out_.send.empty()) {
            Progressed(); // a command went out: the next step begins
        }
        return std::exchange(out_, {});
    }

    // The session moved on (a command sent, the connection opened or made
    // secure, bytes of ours taken by the connection): the step begins anew.
    void Progressed() {
        stepTicks_ = 0;
        stepBytes_ = 0;
    }

    // The ticks the current step may last.
    std::size_t StepAllowance() const {
        return static_cast<std::size_t>(kReplyTimeoutTicks) + stepBytes_ / kMinBytesPerTick;
    }

    // Asks the adapter for the TLS handshake, after what is to be sent now.
    // Bytes already read and not taken are dropped.
    void BeginTls() {
        out_.startTls = true;
        tlsPending_ = true;
        self().reader_.Clear();
    }

    // Called by a session's OnServerConnect: the connection starts plain or,
    // when `implicitTls`, encrypted.
    void ConnectionOpened(bool implicitTls) {
        Progressed();
        tlsPending_ = false;
        encrypted_ = implicitTls;
    }
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
    std::size_t stepTicks_ = 0; // ticks since the step began
    std::size_t stepBytes_ = 0; // bytes the server sent in the step
    SessionEnd pendingEnd_ = SessionEnd::None; // the outcome once QUIT is answered
    bool tlsPending_ = false; // the handshake was asked for and has not ended
    bool encrypted_ = false;  // the connection is encrypted

private:
    Session& self() { return static_cast<Session&>(*this); }
};

} // namespace tegalo
