// The receive session fed any server stream. It never deletes a message that
// was not stored whole and made durable first, sends QUIT at most once and
// nothing after it, and keeps what it shows and sends bounded; what it
// stores reads back as a folder file with the same records.
#include "fuzz/SessionStream.h"
#include "store/FolderFile.h"
#include "store/Record.h"
#include "tests/support/FakeReceiveStore.h"
#include "transfer/Pop3Session.h"

#include <set>
#include <string>

using namespace tegalo;

namespace {

// A received folder that knows which message number each record is.
class WatchingStore final : public ReceiveStore {
public:
    pop3_test::FakeReceiveStore folder;
    const Pop3Session* session = nullptr;
    unsigned answers = 0;   // two bits per call: the answer of the store
    bool commitFails = false;
    std::set<int> whole;    // stored whole this session
    std::set<int> durable;  // stored whole and committed

    StoreResult AddReceived(const PartSizes& sizes, std::string_view recordText) override {
        static constexpr StoreResult kAnswers[] = {StoreResult::Stored, StoreResult::Stored, StoreResult::TooLarge,
                                                   StoreResult::WriteFailed};
        const StoreResult answer = kAnswers[answers & 3];
        answers >>= 2;
        if (answer == StoreResult::Stored) {
            FUZZ_CHECK(folder.AddReceived(sizes, recordText) == StoreResult::Stored);
            const ReceivedMessage& message = session->LastMessage();
            // The message being received: a server that sends ahead gets
            // its next message read before the harness sees the RETR.
            if (message.partsLeftOut == 0 && !message.nulRemoved) {
                whole.insert(session->NextRetrieve());
            }
        }
        return answer;
    }
    bool Commit() override {
        if (commitFails) {
            return false;
        }
        durable = whole;
        return true;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const unsigned options = input.Byte();
    WatchingStore store;
    store.answers = input.Byte();
    store.commitFails = (options & 4) != 0;
    pop3_test::FakeUidlStore uidl;
    Pop3Session session(store, (options & 2) != 0 ? &uidl : nullptr);
    store.session = &session;
    const Pop3Account account{"pop.example.jp", 110, "taro", "secret", (options & 1) != 0};

    fuzz::CommandLog log;
    constexpr std::size_t kMaxSend = 512;
    const auto take = [&](const Pop3Output& out) {
        const std::size_t before = log.commands.size();
        log.Take(out, kMaxSend);
        for (std::size_t i = before; i < log.commands.size(); ++i) {
            const std::string& command = log.commands[i];
            if (command.rfind("DELE ", 0) == 0) {
                FUZZ_CHECK(store.durable.count(std::stoi(command.substr(5))) == 1);
            }
        }
    };
    take(session.StartReceive(account));
    take(session.OnServerConnect());
    for (const fuzz::StreamPiece& piece : fuzz::ServerStream(input)) {
        if (!session.Busy()) {
            break;
        }
        switch (piece.event) {
        case fuzz::StreamEvent::kBytes:
            take(session.ReadArrival(piece.bytes));
            break;
        case fuzz::StreamEvent::kSilentMinute:
            for (int tick = 0; tick < 60 && session.Busy(); ++tick) {
                take(session.OnTick());
            }
            break;
        case fuzz::StreamEvent::kClose:
            take(session.OnServerClose());
            break;
        }
    }
    FUZZ_CHECK(log.quits <= 1);
    FUZZ_CHECK(!session.Busy());

    const RecordList folder = ParseFolderBytes(store.folder.FolderFile(), kReceived);
    FUZZ_CHECK(!folder.Damaged());
    FUZZ_CHECK(folder.size() == store.folder.records.size());
    for (std::size_t i = 0; i < folder.size(); ++i) {
        FUZZ_CHECK(folder[i] == BuildRecord(store.folder.records[i].sizes, store.folder.records[i].text));
    }
    return 0;
}
