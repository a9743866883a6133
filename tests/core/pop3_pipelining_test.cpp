// RETR and DELE in groups with a server that lists PIPELINING: the replies
// are matched to the commands in flight in turn, whatever the arrivals, and
// nothing is deleted before the store committed what it took.
#include "transfer/Pop3Session.h"

#include "tests/support/FakeReceiveStore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tegalo {
namespace {

using pop3_test::FakeReceiveStore;
using pop3_test::FakeUidlStore;

// The received folder, noting how much was committed when.
class CommitLog final : public ReceiveStore {
public:
    FakeReceiveStore inner;
    const Pop3Session* session = nullptr;
    std::vector<std::size_t> commits; // records held at each commit
    int delesBeforeFirstCommit = -1;  // the DELE number sent before the first commit (0: none)

    StoreResult AddReceived(const PartSizes& sizes, std::string_view recordText) override {
        return inner.AddReceived(sizes, recordText);
    }
    bool Commit() override {
        if (commits.empty()) {
            delesBeforeFirstCommit = session->NextDelete();
        }
        commits.push_back(inner.records.size());
        return true;
    }
};

struct Client {
    CommitLog store;
    FakeUidlStore uidl;
    Pop3Session session{store, &uidl};
    std::string sent;
    std::vector<std::string> status;
    bool closed = false;
    SessionEnd ended = SessionEnd::None;

    std::string Take(const Pop3Output& out) {
        sent += out.send;
        status.insert(status.end(), out.statusTexts.begin(), out.statusTexts.end());
        closed = closed || out.close;
        if (out.ended != SessionEnd::None) {
            ended = out.ended;
        }
        return out.send;
    }
    void Connect() {
        store.session = &session;
        Pop3Account account{"pop.example.jp", 110, "taro", "secret"};
        account.login = Pop3Login::Automatic;
        Take(session.StartReceive(account));
        Take(session.OnServerConnect());
    }
    std::string Server(std::string_view bytes) { return Take(session.ReadArrival(bytes)); }
    // Feeds `stream` cut at every `piece` bytes (0: whole).
    void Feed(const std::string& stream, std::size_t piece = 0) {
        if (piece == 0) {
            Server(stream);
            return;
        }
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            Server(std::string_view(stream).substr(at, piece));
        }
    }
};

std::string Message(int i) {
    return "+OK\r\nSubject: m" + std::to_string(i) + "\r\n\r\n..dot " + std::to_string(i) + "\r\n.\r\n";
}

std::string Capa(bool pipelining) {
    return std::string("+OK\r\nUSER\r\nUIDL\r\n") + (pipelining ? "PIPELINING\r\n" : "") + ".\r\n";
}

std::string Login(int count, bool pipelining) {
    std::string stream = "+OK ready\r\n" + Capa(pipelining) + "+OK\r\n+OK\r\n+OK " + std::to_string(count) +
                         " 0\r\n+OK\r\n";
    for (int i = 1; i <= count; ++i) {
        stream += std::to_string(i) + " id" + std::to_string(i) + "\r\n";
    }
    return stream + ".\r\n";
}

std::string Commands(const char* verb, int from, int to) {
    std::string out;
    for (int i = from; i <= to; ++i) {
        out += std::string(verb) + " " + std::to_string(i) + "\r\n";
    }
    return out;
}

TEST(Pop3Pipelining, RetrThenDeleInWindowsAfterTheCommit) {
    constexpr int kWindow = static_cast<int>(Pop3Session::kWindow);
    constexpr int kCount = kWindow + 4;
    std::string stream = Login(kCount, true);
    for (int i = 1; i <= kCount; ++i) {
        stream += Message(i);
    }
    for (int i = 1; i <= kCount; ++i) {
        stream += "+OK\r\n";
    }
    stream += "+OK bye\r\n";

    // The first window goes out at once; each answer whole lets one more go.
    Client step;
    step.Connect();
    const std::string head = Login(kCount, true);
    step.Server(head);
    EXPECT_EQ(step.sent, "CAPA\r\nUSER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\n" + Commands("RETR", 1, kWindow));
    EXPECT_EQ(step.Server(Message(1)), "RETR " + std::to_string(kWindow + 1) + "\r\n");
    std::string rest;
    for (int i = 2; i <= kCount; ++i) {
        rest += step.Server(Message(i));
    }
    EXPECT_EQ(rest, Commands("RETR", kWindow + 2, kCount) + Commands("DELE", 1, kWindow)) << "the DELEs wait for the last message";
    ASSERT_EQ(step.store.commits.size(), 1u);
    EXPECT_EQ(step.store.commits[0], std::size_t(kCount)) << "committed before the first DELE";
    EXPECT_EQ(step.Server("+OK\r\n+OK\r\n"), Commands("DELE", kWindow + 1, kWindow + 2));

    const std::string expected = "CAPA\r\nUSER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\n" + Commands("RETR", 1, kCount) +
                                 Commands("DELE", 1, kCount) + "QUIT\r\n";
    for (const std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(2), std::size_t(7)}) {
        Client c;
        c.Connect();
        c.Feed(stream, piece);
        EXPECT_EQ(c.sent, expected) << "pieces of " << piece;
        EXPECT_TRUE(c.closed);
        EXPECT_EQ(c.ended, SessionEnd::Normal);
        ASSERT_EQ(c.store.inner.records.size(), std::size_t(kCount));
        EXPECT_TRUE(c.store.inner.records[kCount - 1].Body().ends_with("\r\n.dot " + std::to_string(kCount))) << "each text to its own RETR";
        ASSERT_FALSE(c.store.commits.empty());
        EXPECT_EQ(c.store.commits[0], std::size_t(kCount));
        EXPECT_EQ(c.store.delesBeforeFirstCommit, 0) << "committed before the first DELE";
        EXPECT_EQ(c.status.back(), std::to_string(kCount) + " Messages Received! Server messages Deleted");
    }
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        Client c;
        c.Connect();
        c.Server(std::string_view(stream).substr(0, cut));
        c.Server(std::string_view(stream).substr(cut));
        ASSERT_EQ(c.sent, expected) << "split at " << cut;
        ASSERT_EQ(c.store.inner.records.size(), std::size_t(kCount)) << "split at " << cut;
    }
}

TEST(Pop3Pipelining, RefusalOrFullFolderMidWindowDeletesOnlyWhatWasStored) {
    // RETR 2 refused: RETR 3 and 4 are still answered, in turn, and left on
    // the server; only message 1 was stored, but nothing is deleted after a
    // refusal, as in a one-at-a-time session.
    {
        Client c;
        c.Connect();
        c.Server(Login(4, true));
        c.Server(Message(1) + "-ERR no such message\r\n" + Message(3));
        EXPECT_EQ(c.sent.find("QUIT"), std::string::npos) << "RETR 4 is still in flight";
        c.Server(Message(4));
        EXPECT_EQ(c.sent, "CAPA\r\nUSER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\n" + Commands("RETR", 1, 4) + "QUIT\r\n");
        EXPECT_EQ(c.status.back(), "5 -ERR no such message");
        c.Server("+OK bye\r\n");
        EXPECT_EQ(c.ended, SessionEnd::Failed);
        EXPECT_EQ(c.store.inner.records.size(), 1u);
        ASSERT_TRUE(c.uidl.list.has_value());
        EXPECT_EQ(c.uidl.list->marks.size(), 1u) << "3 and 4 are fetched again next time";
    }
    // The folder fills at message 2: 3 and 4 arrive but are neither stored
    // nor remembered; message 1 alone is deleted, after the commit.
    {
        Client c;
        c.store.inner.answers = {StoreResult::Stored, StoreResult::FolderFull, StoreResult::Stored,
                                 StoreResult::Stored};
        c.Connect();
        c.Server(Login(4, true) + Message(1) + Message(2) + Message(3) + Message(4) + "+OK\r\n+OK bye\r\n");
        EXPECT_EQ(c.sent, "CAPA\r\nUSER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\n" + Commands("RETR", 1, 4) +
                              "DELE 1\r\nQUIT\r\n");
        EXPECT_EQ(c.store.inner.calls, 2) << "nothing offered to a full folder";
        EXPECT_EQ(c.store.delesBeforeFirstCommit, 0);
        ASSERT_TRUE(c.uidl.list.has_value());
        EXPECT_TRUE(c.uidl.list->marks.empty());
    }
    // A refused DELE: the others in flight are answered before QUIT.
    {
        Client c;
        c.Connect();
        c.Server(Login(3, true) + Message(1) + Message(2) + Message(3) + "+OK\r\n-ERR locked\r\n");
        EXPECT_EQ(c.sent.find("QUIT"), std::string::npos);
        c.Server("+OK\r\n+OK bye\r\n");
        EXPECT_EQ(c.sent, "CAPA\r\nUSER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\n" + Commands("RETR", 1, 3) +
                              Commands("DELE", 1, 3) + "QUIT\r\n");
        EXPECT_EQ(c.status.back(), "1 -ERR locked");
        EXPECT_EQ(c.ended, SessionEnd::Failed);
    }
}

TEST(Pop3Pipelining, WithoutPipeliningOneCommandAtATime) {
    Client c;
    c.Connect();
    EXPECT_TRUE(c.Server(Login(2, false)).ends_with("UIDL\r\nRETR 1\r\n"));
    EXPECT_EQ(c.Server(Message(1)), "RETR 2\r\n");
    EXPECT_EQ(c.Server(Message(2)), "DELE 1\r\n");
    EXPECT_EQ(c.Server("+OK\r\n"), "DELE 2\r\n");
    EXPECT_EQ(c.Server("+OK\r\n"), "QUIT\r\n");
}

} // namespace
} // namespace tegalo
