// The send session fed any server stream. It sends QUIT at most once and
// nothing after it, keeps what it shows and sends bounded, files a sent copy
// for exactly the messages it counts as sent (never more than there were),
// takes out of the waiting folder exactly what the server accepted, and
// stops at the first acceptance it cannot record.
#include "fuzz/SessionStream.h"
#include "tests/support/FakeSendStore.h"
#include "transfer/SmtpSession.h"

#include <string>

using namespace tegalo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const unsigned options = input.Byte();
    smtp_test::FakeSendStore store;
    const int messages = 1 + static_cast<int>(options % 3);
    for (int i = 0; i < messages; ++i) {
        const std::string subject = "message " + std::to_string(i);
        store.Wait(smtp_test::Composed(subject, i == 1 ? "a@example.jp,b@example.jp" : "c@example.jp",
                                       "text " + std::to_string(i) + "\r\n.\r\nmore\r\n"));
    }
    if ((options & 4) != 0) {
        store.fileAnswer = StoreStatus::kCannotWrite;
    }
    if ((options & 8) != 0) {
        store.removeAnswer = StoreStatus::kCannotWrite;
    }
    SmtpSession session(store, [] { return LocalTime{2026, 12, 7, 10, 0, 0, 1, 540}; });
    const SmtpAccount account{"pop.example.jp", "smtp.example.jp", 587, "taro@example.jp", "Taro"};

    fuzz::CommandLog log;
    // A message's text goes out whole in one output.
    constexpr std::size_t kMaxSend = 64 * 1024;
    log.Take(session.SendWaiting(account), kMaxSend);
    log.Take(session.OnServerConnect(), kMaxSend);
    for (const fuzz::StreamPiece& piece : fuzz::ServerStream(input)) {
        if (!session.Busy()) {
            break;
        }
        switch (piece.event) {
        case fuzz::StreamEvent::kBytes:
            log.Take(session.ReadArrival(piece.bytes), kMaxSend);
            break;
        case fuzz::StreamEvent::kSilentMinute:
            for (int tick = 0; tick < 60 && session.Busy(); ++tick) {
                log.Take(session.OnTick(), kMaxSend);
            }
            break;
        case fuzz::StreamEvent::kClose:
            log.Take(session.OnServerClose(), kMaxSend);
            break;
        }
    }
    FUZZ_CHECK(log.quits <= 1);
    FUZZ_CHECK(!session.Busy());
    FUZZ_CHECK(session.Sent() + session.Refused() <= messages);
    int dataCommands = 0;
    for (const std::string& command : log.commands) {
        dataCommands += command == "DATA" ? 1 : 0;
    }
    FUZZ_CHECK(session.Sent() <= dataCommands);
    if (store.removeAnswer != StoreStatus::kOk || store.fileAnswer != StoreStatus::kOk) {
        // The first acceptance that cannot be recorded stops the session:
        // nothing filed, nothing further sent.
        FUZZ_CHECK(session.Sent() <= 1);
        FUZZ_CHECK(store.sent.empty());
    } else {
        FUZZ_CHECK(static_cast<int>(store.sent.size()) == session.Sent());
    }
    // What was noted as sent leaves the waiting folder; nothing else does.
    const int noted = store.removeAnswer == StoreStatus::kOk ? session.Sent() : 0;
    FUZZ_CHECK(static_cast<int>(store.waiting.size()) == messages - noted);
    return 0;
}
