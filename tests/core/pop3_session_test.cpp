#include "transfer/Pop3Session.h"

#include "tests/support/FakeReceiveStore.h"
#include "text/header_words.h"
#include "text/jis.h"
#include "text/unicode.h"
#include "transfer/CheckTimer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>

namespace tegalo {
namespace {

using namespace std::chrono_literals;
using pop3_test::FakeReceiveStore;
using pop3_test::FakeUidlStore;

Pop3Account Account(bool keepOnServer = false) {
    return {"pop.example.jp", 110, "taro", "secret", keepOnServer};
}

// The session as the socket adapter sees it, with a fake received folder and
// a fake UIDL list.
struct Client {
    FakeReceiveStore store;
    FakeUidlStore uidl;
    Pop3Session session{store, &uidl};
    std::vector<std::string> status;
    std::vector<std::string> notices;
    std::string sent;
    bool closed = false;
    SessionEnd ended = SessionEnd::None;

    std::string Take(const Pop3Output& out) {
        status.insert(status.end(), out.statusTexts.begin(), out.statusTexts.end());
        notices.insert(notices.end(), out.notices.begin(), out.notices.end());
        sent += out.send;
        closed = closed || out.close;
        if (out.ended != SessionEnd::None) {
            ended = out.ended;
        }
        return out.send;
    }
    void Connect(const Pop3Account& account = Account()) {
        closed = false;
        ended = SessionEnd::None;
        EXPECT_TRUE(Take(session.StartReceive(account)).empty());
        Take(session.OnServerConnect());
    }
    std::string Server(std::string_view bytes) { return Take(session.ReadArrival(bytes)); }
    std::string LastStatus() const { return status.empty() ? std::string() : status.back(); }
};

// A message as the server sends it in answer to RETR: dot-stuffed, ended by
// the "." line.
std::string Retr(std::string_view message) {
    std::string out = "+OK message follows\r\n";
    std::size_t at = 0;
    while (at <= message.size()) {
        std::size_t end = message.find("\r\n", at);
        end = end == std::string_view::npos ? message.size() : end;
        const std::string_view line = message.substr(at, end - at);
        out += (line.starts_with('.') ? "." : "") + std::string(line) + "\r\n";
        at = end + 2;
    }
    return out + ".\r\n";
}

std::string Listing(const std::vector<std::string>& ids) {
    std::string out = "+OK\r\n";
    for (std::size_t i = 0; i < ids.size(); ++i) {
        out += std::to_string(i + 1) + " " + ids[i] + "\r\n";
    }
    return out + ".\r\n";
}

const std::string kPlain = "Subject: one\r\nContent-Type: text/plain\r\n\r\nline\r\n.\r\n..two dots\r\nend.";
const std::string kMixed =
    "Subject: " + EncodeHeaderWords(SjisToJis(SjisLiteral("添付"))) +
    "\r\nContent-Type: multipart/mixed; boundary=\"=_b\"\r\n\r\n--=_b\r\nContent-Type: text/plain\r\n\r\n" +
    SjisToJis(SjisLiteral("本文\r\n.")) +
    "\r\n--=_b\r\nContent-Type: application/pdf; name=a.pdf\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    "QUJD\r\n--=_b--";
const std::string kNested =
    "Content-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\nContent-Type: multipart/alternative; boundary=a\r\n"
    "\r\n--a\r\nContent-Type: text/plain\r\n\r\nplain\r\n--a\r\nContent-Type: text/html\r\n\r\n<b>\r\n--a--\r\n--o--";

// The server side of a whole session that fetches and deletes `messages`.
std::string ServerStream(const std::vector<std::string>& messages) {
    std::string stream = "+OK ready\r\n+OK\r\n+OK logged in\r\n+OK " + std::to_string(messages.size()) + " 0\r\n";
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        ids.push_back("id" + std::to_string(i + 1));
    }
    stream += Listing(ids);
    for (const std::string& message : messages) {
        stream += Retr(message);
    }
    for (std::size_t i = 0; i < messages.size(); ++i) {
        stream += "+OK deleted\r\n";
    }
    return stream + "+OK bye\r\n";
}

TEST(Pop3Session, FetchesStoresAndDeletes) {
    Client c;
    c.Connect();
    EXPECT_EQ(c.status, std::vector<std::string>{"Server Connection OK"});
    EXPECT_EQ(c.Server("+OK ready\r\n"), "USER taro\r\n");
    EXPECT_EQ(c.Server("+OK\r\n"), "PASS secret\r\n");
    EXPECT_EQ(c.Server("+OK logged in\r\n"), "STAT\r\n");
    EXPECT_EQ(c.Server("+OK 2 320\r\n"), "UIDL\r\n");
    EXPECT_EQ(c.Server(Listing({"a1", "a2"})), "RETR 1\r\n");
    EXPECT_EQ(c.Server(Retr(kPlain)), "RETR 2\r\n");
    EXPECT_EQ(c.Server(Retr(kMixed)), "DELE 1\r\n");
    EXPECT_EQ(c.Server("+OK\r\n"), "DELE 2\r\n");
    EXPECT_EQ(c.Server("+OK\r\n"), "QUIT\r\n");
    EXPECT_EQ(c.LastStatus(), "2 Messages Received! Server messages Deleted");
    EXPECT_FALSE(c.closed) << "the goodbye confirms the deletions";
    EXPECT_EQ(c.Server("+OK bye\r\n"), "");
    EXPECT_TRUE(c.closed);
    EXPECT_EQ(c.ended, SessionEnd::Normal);
    EXPECT_FALSE(c.session.Busy());

    ASSERT_EQ(c.store.records.size(), 2u);
    EXPECT_EQ(c.store.records[0].Body(), "line\r\n.\r\n..two dots\r\nend.") << "unstuffed";
    EXPECT_EQ(c.store.records[1].Subject(), SjisLiteral(" 添付"));
    EXPECT_EQ(c.store.records[1].Body(), PartHeader("", "") + SjisLiteral("本文\r\n."));
    EXPECT_EQ(c.store.records[1].Attachment(0), PartHeader("a.pdf", "base64\r\n") + "QUJD");
    ASSERT_TRUE(c.uidl.list.has_value());
    EXPECT_TRUE(c.uidl.list->marks.empty()) << "deleted for good: nothing left to remember";
}

TEST(Pop3Session, KeptOnServerIsNotFetchedAgain) {
    Client c;
    c.Connect(Account(true));
    c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 2 0\r\n" + Listing({"a1", "a2"}) + Retr(kPlain) + Retr(kNested));
    EXPECT_EQ(c.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\nRETR 1\r\nRETR 2\r\nQUIT\r\n");
    EXPECT_EQ(c.LastStatus(), "2 Messages Recieved");
    c.Server("+OK\r\n");
    EXPECT_EQ(c.ended, SessionEnd::Normal);
    ASSERT_EQ(c.store.records.size(), 2u);
    EXPECT_EQ(c.store.records[1].Body(), PartHeader("", "") + "plain");
    EXPECT_EQ(c.store.records[1].Attachment(0), PartHeader(SjisLiteral("HTML形式.html"), "7bit\r\n") + "<b>");

    // The next session sees a new message and fetches only that one.
    c.sent.clear();
    c.Connect(Account(true));
    c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 3 0\r\n" + Listing({"a1", "a2", "a3"}) + Retr(kPlain) + "+OK\r\n");
    EXPECT_EQ(c.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\nRETR 3\r\nQUIT\r\n");
    EXPECT_EQ(c.LastStatus(), "1 Messages Recieved");

    // Then with mail no longer kept: what was stored before is deleted
    // without being fetched again.
    c.sent.clear();
    c.Connect(Account(false));
    c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 3 0\r\n" + Listing({"a1", "a2", "a3"}) + "+OK\r\n+OK\r\n+OK\r\n+OK\r\n");
    EXPECT_EQ(c.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\nDELE 1\r\nDELE 2\r\nDELE 3\r\nQUIT\r\n");
    // Not "No New Message": the session did delete something.
    EXPECT_EQ(c.LastStatus(), "No New Message! 3 Stored Messages Deleted from Server");
    EXPECT_EQ(c.store.records.size(), 3u);
}

TEST(Pop3Session, ServerWithoutUidlGetsEveryMessageFetched) {
    Client c;
    c.Connect(Account(true));
    c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 2 0\r\n-ERR unknown command\r\n" + Retr(kPlain) + Retr(kPlain) + "+OK\r\n");
    EXPECT_EQ(c.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\nRETR 1\r\nRETR 2\r\nQUIT\r\n");
    EXPECT_EQ(c.LastStatus(), "2 Messages Recieved");
}

// Each refusal ends the session with its step number; QUIT is sent, nothing
// is deleted.
TEST(Pop3Session, RefusalsEndTheSession) {
    using namespace tegalo::literals;
    struct Row {
        const char* name;
        std::string before; // replies that lead up to the refused one
        std::string reply;
        std::string status;
    };
    const std::string ok3 = "+OK\r\n+OK\r\n+OK\r\n";
    const std::vector<Row> rows = {
        {"greeting", "", "-ERR busy", "1 -ERR busy" + " ＩＤエラー"_sjis},
        {"USER", "+OK\r\n", "-ERR who", "2 -ERR who" + " パスワードエラー"_sjis},
        {"PASS", "+OK\r\n+OK\r\n", "-ERR [AUTH] failed", "3 -ERR [AUTH] failed"},
        {"STAT", ok3, "-ERR", "4 -ERR"},
        {"STAT without a count", ok3, "+OK", "4 +OK"},
        {"STAT with a negative count", ok3, "+OK -1 0", "4 +OK -1 0"},
        {"STAT with garbage", ok3, "+OK lots", "4 +OK lots"},
        {"STAT beyond any mailbox", ok3, "+OK 123456789 0", "4 +OK 123456789 0"},
        {"RETR", ok3 + "+OK 1 0\r\n" + Listing({"x"}), "-ERR gone", "5 -ERR gone"},
        {"DELE", ok3 + "+OK 1 0\r\n" + Listing({"x"}) + Retr(kPlain), "-ERR locked", "1 -ERR locked"},
        {"control bytes shown as ?", "", std::string("-ERR a\0b\x1b", 9), "1 -ERR a?b?" + " ＩＤエラー"_sjis},
        {"long reply cut", "", "-ERR " + std::string(300, 'x'),
         "1 -ERR " + std::string(195, 'x') + "..." + " ＩＤエラー"_sjis},
    };
    for (const Row& row : rows) {
        Client c;
        c.Connect();
        c.Server(row.before);
        EXPECT_EQ(c.Server(row.reply + "\r\n"), "QUIT\r\n") << row.name;
        EXPECT_EQ(c.LastStatus(), row.status) << row.name;
        c.Server("+OK\r\n");
        EXPECT_TRUE(c.closed) << row.name;
        EXPECT_EQ(c.ended, SessionEnd::Failed) << row.name;
        EXPECT_EQ(c.sent.find("DELE") != std::string::npos, std::string_view(row.name) == "DELE") << row.name;
    }
}

TEST(Pop3Session, EmptyMailbox) {
    Client c;
    c.Connect();
    c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 0 0\r\n");
    EXPECT_EQ(c.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nQUIT\r\n");
    EXPECT_EQ(c.LastStatus(), "No New Message");
    c.Server("+OK\r\n");
    EXPECT_EQ(c.ended, SessionEnd::Normal);
}

// The same conversation in any arrivals gives the same bytes sent, the same
// folder file and the same status texts.
TEST(Pop3Session, ArrivalsOfAnySizeGiveTheSameResult) {
    const auto run = [](const std::string& stream, const std::vector<std::size_t>& cuts) {
        Client c;
        c.Connect();
        std::size_t at = 0;
        for (const std::size_t cut : cuts) {
            c.Server(std::string_view(stream).substr(at, cut - at));
            at = cut;
        }
        c.Server(std::string_view(stream).substr(at));
        EXPECT_TRUE(c.closed);
        return c.sent + "|" + c.store.FolderFile() + "|" + c.LastStatus();
    };
    const auto pieces = [](std::size_t size, std::size_t piece) {
        std::vector<std::size_t> cuts;
        for (std::size_t at = piece; at < size; at += piece) {
            cuts.push_back(at);
        }
        return cuts;
    };

    const std::string small = ServerStream({kPlain, kMixed, kNested});
    const std::string expected = run(small, {});
    EXPECT_NE(expected.find("3 Messages Received!"), std::string::npos);
    for (std::size_t cut = 1; cut < small.size(); ++cut) {
        ASSERT_EQ(run(small, {cut}), expected) << "split at " << cut;
    }
    EXPECT_EQ(run(small, pieces(small.size(), 1)), expected) << "one byte at a time";

    std::vector<std::string> messages = {kPlain, kMixed, kNested};
    for (const char* name : {"large-3att.eml", "large-4att.eml", "jp-2att.eml"}) {
        std::ifstream in(std::string(TEGALO_TEST_DATA) + "/pop3/" + name, std::ios::binary);
        ASSERT_TRUE(in) << name;
        std::stringstream text;
        text << in.rdbuf();
        messages.push_back(text.str().substr(0, text.str().size() - 2));
    }
    const std::string large = ServerStream(messages);
    const std::string whole = run(large, {});
    for (const std::size_t piece : {std::size_t(1), std::size_t(10'000), std::size_t(10'001)}) {
        EXPECT_EQ(run(large, pieces(large.size(), piece)), whole) << "pieces of " << piece;
    }
    std::mt19937 random(6);
    std::vector<std::size_t> cuts;
    for (std::size_t at = 0; at < large.size(); at += 1 + random() % 3000) {
        cuts.push_back(at);
    }
    EXPECT_EQ(run(large, cuts), whole) << "random pieces";
}

TEST(Pop3Session, ServerClosesMidMessage) {
    Client c;
    c.Connect();
    const std::string retr2 = Retr(kMixed);
    c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 2 0\r\n" + Listing({"a1", "a2"}) + Retr(kPlain) +
             retr2.substr(0, retr2.size() - 4));
    c.Take(c.session.OnServerClose());
    EXPECT_EQ(c.LastStatus(), "Server Closed the Connection: Session Ended");
    EXPECT_EQ(c.ended, SessionEnd::Failed);
    EXPECT_EQ(c.store.records.size(), 1u) << "the first message whole, nothing of the second";
    EXPECT_EQ(c.sent.find("DELE"), std::string::npos);
    ASSERT_TRUE(c.uidl.list.has_value());
    EXPECT_EQ(c.uidl.list->marks, (std::map<std::string, UidlMark, std::less<>>{{"a1", UidlMark::Stored}}));
}

TEST(Pop3Session, ServerAnswersOkAndCloses) {
    Client c;
    c.Connect();
    EXPECT_EQ(c.Server("+OK\r\n"), "USER taro\r\n");
    c.Take(c.session.OnServerClose());
    EXPECT_EQ(c.LastStatus(), "Server Closed the Connection: Session Ended");
    EXPECT_TRUE(c.closed);
    EXPECT_EQ(c.ended, SessionEnd::Failed);
}

TEST(Pop3Session, ServerThatStopsAnsweringTimesOut) {
    Client c;
    c.Connect();
    c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 1 0\r\n" + Listing({"a1"}) + "+OK\r\nSubject: x\r\n");
    for (int tick = 1; tick < Pop3Session::kReplyTimeoutTicks; ++tick) {
        c.Take(c.session.OnTick());
    }
    // Any byte starts the wait anew (a minute's worth of text, so that the
    // step does not run out of time first).
    c.Server(std::string(Pop3Session::kReplyTimeoutTicks * Pop3Session::kMinBytesPerTick, 'a') + "\r\n");
    for (int tick = 1; tick < Pop3Session::kReplyTimeoutTicks; ++tick) {
        c.Take(c.session.OnTick());
    }
    EXPECT_FALSE(c.closed);
    c.Take(c.session.OnTick());
    EXPECT_EQ(c.LastStatus(), "Server Timeout: No Answer in 60 Seconds");
    EXPECT_TRUE(c.closed);
    EXPECT_EQ(c.ended, SessionEnd::Failed);
    EXPECT_TRUE(c.store.records.empty());
    EXPECT_EQ(c.sent.find("DELE"), std::string::npos);
}

// What is not stored whole stays on the server, is remembered so that it is
// not fetched again, and the status text says so.
TEST(Pop3Session, MessagesNotStoredWholeStayOnTheServer) {
    struct Row {
        const char* name;
        std::string message;
        StoreResult answer;
        std::string status;
        std::size_t stored;
    };
    const std::string six = "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nt\r\n"
                            "--b\r\n\r\n1\r\n--b\r\n\r\n2\r\n--b\r\n\r\n3\r\n--b\r\n\r\n4\r\n--b--";
    const std::vector<Row> rows = {
        {"refused by the store", kPlain, StoreResult::TooLarge, "1 Kept on Server (too large to store)", 0},
        {"a megabyte line", "Subject: big\r\n\r\n" + std::string(1 << 20, 'x'), StoreResult::Stored,
         "1 Kept on Server (too large to store)", 0},
        {"NUL bytes", std::string("Subject: a\0b\r\n\r\nc", 18), StoreResult::Stored,
         "1 Kept on Server (NUL bytes removed)", 1},
        {"attachments left out", six, StoreResult::Stored, "1 Kept on Server (attachments left out)", 1},
    };
    for (const Row& row : rows) {
        Client c;
        c.store.answers = {StoreResult::Stored, row.answer};
        c.Connect();
        c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 2 0\r\n" + Listing({"ok", "bad"}) + Retr(kPlain) + Retr(row.message) +
                 "+OK\r\n+OK\r\n");
        EXPECT_EQ(c.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\nRETR 1\r\nRETR 2\r\nDELE 1\r\nQUIT\r\n")
            << row.name;
        EXPECT_EQ(c.status[1], std::to_string(1 + row.stored) + " Messages Received! Server messages Deleted, " +
                                   row.status)
            << row.name;
        EXPECT_EQ(c.store.records.size(), 1 + row.stored) << row.name;
        EXPECT_EQ(c.uidl.list->marks.at("bad"), UidlMark::Kept) << row.name;

        c.sent.clear();
        c.Connect();
        c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 1 0\r\n" + Listing({"bad"}) + "+OK\r\n");
        EXPECT_EQ(c.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\nQUIT\r\n") << row.name << ": neither again";
    }
}

// A store that keeps each original stores what a record cannot hold whole
// (more than three attachments, NUL bytes, a text over a record's size) and
// the message leaves the server; only a refusal keeps it there.
TEST(Pop3Session, MessagesKeptWithTheirOriginalLeaveTheServer) {
    struct Row {
        const char* name;
        std::string message;
        StoreResult answer;
        bool deleted;
    };
    const std::string six = "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nt\r\n"
                            "--b\r\n\r\n1\r\n--b\r\n\r\n2\r\n--b\r\n\r\n3\r\n--b\r\n\r\n4\r\n--b--";
    const std::vector<Row> rows = {
        {"attachments left out", six, StoreResult::Stored, true},
        {"NUL bytes", std::string("Subject: a\0b\r\n\r\nc", 18), StoreResult::Stored, true},
        {"a megabyte line, cut in the record", "Subject: big\r\n\r\n" + std::string(1 << 20, 'x'),
         StoreResult::Stored, true},
        {"refused by the store", kPlain, StoreResult::TooLarge, false},
    };
    for (const Row& row : rows) {
        Client c;
        c.store.keepOriginals = true;
        c.store.answers = {row.answer};
        c.Connect();
        c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 1 0\r\n" + Listing({"m"}) + Retr(row.message) + "+OK\r\n+OK\r\n");
        EXPECT_EQ(c.sent.find("DELE 1") != std::string::npos, row.deleted) << row.name;
        if (!row.deleted) {
            continue;
        }
        ASSERT_EQ(c.store.originals.size(), 1u) << row.name;
        EXPECT_EQ(c.store.originals[0], row.message) << row.name << ": the original as the server sent it";
        ASSERT_EQ(c.store.records.size(), 1u) << row.name;
        EXPECT_LE(c.store.records[0].text.size() + static_cast<std::size_t>(kSizeEntriesLength), static_cast<std::size_t>(kFieldMax)) << row.name;
        EXPECT_EQ(c.LastStatus(), "1 Messages Received! Server messages Deleted") << row.name;
    }
}

// A folder that cannot be written ends the fetching; the message is not
// remembered, so that the next session tries it again.
TEST(Pop3Session, UnwritableFolderStopsFetching) {
    Client c;
    c.store.answers = {StoreResult::WriteFailed};
    c.Connect();
    c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 2 0\r\n" + Listing({"a1", "a2"}) + Retr(kPlain) + "+OK\r\n");
    EXPECT_EQ(c.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\nRETR 1\r\nQUIT\r\n");
    EXPECT_EQ(c.LastStatus(), "0 Messages Recieved, 1 Kept on Server (received folder not written)");
    EXPECT_FALSE(c.uidl.list.has_value() && c.uidl.list->marks.count("a1"));
    // Messages the store could not take make the session a failure (the
    // program's exit status), though the server did everything asked.
    c.Server("+OK\r\n");
    EXPECT_EQ(c.ended, SessionEnd::Failed);
}

// A server without UIDL: the digest of each message tells what an earlier
// session stored or kept, so a message left on the server is not stored
// again, and is deleted once mail is no longer kept.
TEST(Pop3Session, ServerWithoutUidlRecognisesStoredMessagesByDigest) {
    Client c;
    FakeUidlStore digests;
    c.session.SetDigestStore(&digests);
    const std::string noUidl = "+OK\r\n+OK\r\n+OK\r\n+OK 2 0\r\n-ERR unknown command\r\n";
    c.Connect(Account(true));
    c.Server(noUidl + Retr(kPlain) + Retr(kMixed) + "+OK\r\n");
    EXPECT_EQ(c.store.records.size(), 2u);
    ASSERT_TRUE(digests.list.has_value());
    EXPECT_EQ(digests.list->marks.size(), 2u);

    // The same two again, and a new one: only the new one is stored.
    c.sent.clear();
    c.Connect(Account(true));
    c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 3 0\r\n-ERR unknown command\r\n" + Retr(kPlain) + Retr(kNested) +
             Retr(kMixed) + "+OK\r\n");
    EXPECT_EQ(c.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\nRETR 1\r\nRETR 2\r\nRETR 3\r\nQUIT\r\n");
    EXPECT_EQ(c.store.records.size(), 3u);
    EXPECT_EQ(c.LastStatus(), "1 Messages Recieved");
    EXPECT_EQ(digests.list->marks.size(), 3u);

    // Mail no longer kept: the known ones are deleted, not stored, and once
    // the QUIT made that final their digests go.
    c.sent.clear();
    c.Connect(Account(false));
    c.Server(noUidl + Retr(kPlain) + Retr(kMixed) + "+OK\r\n+OK\r\n+OK\r\n");
    EXPECT_EQ(c.sent,
              "USER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\nRETR 1\r\nRETR 2\r\nDELE 1\r\nDELE 2\r\nQUIT\r\n");
    EXPECT_EQ(c.store.records.size(), 3u);
    EXPECT_EQ(c.LastStatus(), "No New Message! 2 Stored Messages Deleted from Server");
    EXPECT_EQ(c.ended, SessionEnd::Normal);
    // kNested is no longer on the server either: every digest is gone.
    EXPECT_TRUE(digests.list->marks.empty()) << digests.list->marks.size() << " " << digests.saves;
}

// The ids of a batch are saved when the batch is committed, before the first
// DELE: a session that dies in the DELE phase (the server then deletes
// nothing) leaves the next session to delete the messages, not to store them
// a second time.
TEST(Pop3Session, IdsOfTheBatchSavedBeforeTheFirstDele) {
    Client c;
    c.Connect();
    EXPECT_TRUE(c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 2 0\r\n" + Listing({"a1", "a2"}) + Retr(kPlain) + Retr(kPlain))
                    .ends_with("RETR 2\r\nDELE 1\r\n"));
    ASSERT_TRUE(c.uidl.list.has_value());
    EXPECT_EQ(c.uidl.list->marks,
              (std::map<std::string, UidlMark, std::less<>>{{"a1", UidlMark::Stored}, {"a2", UidlMark::Stored}}));
    EXPECT_EQ(c.store.records.size(), 2u);

    // Killed here; the next session finds both still on the server.
    Client next;
    next.uidl.list = c.uidl.list;
    next.Connect();
    next.Server("+OK\r\n+OK\r\n+OK\r\n+OK 2 0\r\n" + Listing({"a1", "a2"}) + "+OK\r\n+OK\r\n+OK\r\n");
    EXPECT_EQ(next.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\nDELE 1\r\nDELE 2\r\nQUIT\r\n");
    EXPECT_TRUE(next.store.records.empty());
    EXPECT_EQ(next.ended, SessionEnd::Normal);
    EXPECT_TRUE(next.uidl.list->marks.empty()); // deleted for good: ids forgotten
}

// A DELE the server refuses leaves that message on the server: its id stays,
// so that the next session deletes it instead of storing it again. The ids of
// the messages deleted before it go with the QUIT that makes them final.
TEST(Pop3Session, RefusedDeleKeepsTheId) {
    Client c;
    c.Connect();
    c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 2 0\r\n" + Listing({"a1", "a2"}) + Retr(kPlain) + Retr(kPlain) +
             "+OK\r\n-ERR locked\r\n+OK\r\n");
    EXPECT_EQ(c.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\nRETR 1\r\nRETR 2\r\nDELE 1\r\nDELE 2\r\nQUIT\r\n");
    EXPECT_EQ(c.ended, SessionEnd::Failed);
    EXPECT_EQ(c.uidl.list->marks, (std::map<std::string, UidlMark, std::less<>>{{"a2", UidlMark::Stored}}));

    Client next;
    next.uidl.list = c.uidl.list;
    next.Connect();
    next.Server("+OK\r\n+OK\r\n+OK\r\n+OK 1 0\r\n" + Listing({"a2"}) + "+OK\r\n+OK\r\n");
    EXPECT_EQ(next.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\nDELE 1\r\nQUIT\r\n");
    EXPECT_TRUE(next.store.records.empty());
}

TEST(Pop3Session, RequestsWhileBusyAndBadSettings) {
    using namespace tegalo::literals;
    Client c;
    c.Connect();
    c.Server("+OK\r\n");
    const Pop3Output again = c.session.StartReceive(Account());
    EXPECT_FALSE(again.connect);
    EXPECT_EQ(again.statusTexts, std::vector<std::string>{"Session Running: Request Ignored"});
    EXPECT_EQ(c.Server("+OK\r\n"), "PASS secret\r\n") << "the running session goes on";

    for (const Pop3Account& bad : {Pop3Account{"", 110, "u", "p", false}, Pop3Account{"h", 0, "u", "p", false}}) {
        Client idle;
        const Pop3Output out = idle.session.StartReceive(bad);
        EXPECT_FALSE(out.connect);
        EXPECT_EQ(out.notices, std::vector<std::string>{"サーバ名またはポートNoを設定して下さい"_sjis});
    }

    Client refused;
    EXPECT_TRUE(refused.session.StartReceive(Account()).connect);
    refused.Take(refused.session.OnConnectFailed("Connection refused"));
    EXPECT_EQ(refused.LastStatus(), "Server Connection Failed: Connection refused");
    EXPECT_EQ(refused.ended, SessionEnd::Failed);
    EXPECT_FALSE(refused.session.Busy());
}

TEST(Pop3Session, ReportsDoNotStopTheSession) {
    Client c;
    c.uidl.loadError = "cannot read recv.uidl";
    c.Connect();
    c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 1 0\r\n" +
             Retr("Content-Type: text/plain\r\n\r\nok \x1b$B$\"") + "+OK\r\n+OK\r\n");
    EXPECT_EQ(c.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nRETR 1\r\nDELE 1\r\nQUIT\r\n")
        << "no UIDL without the list: every message is fetched";
    EXPECT_EQ(c.notices, (std::vector<std::string>{"cannot read recv.uidl", "JIS code Error"}));
    EXPECT_EQ(c.store.records.size(), 1u);
    EXPECT_EQ(c.uidl.saves, 0) << "an unreadable list is left alone";

    Client unsaved;
    unsaved.uidl.saveError = "disk full";
    unsaved.Connect(Account(true));
    unsaved.Server("+OK\r\n+OK\r\n+OK\r\n+OK 1 0\r\n" + Listing({"a1"}) + Retr(kPlain) + "+OK\r\n");
    EXPECT_EQ(unsaved.notices, std::vector<std::string>{"disk full"});
    EXPECT_EQ(unsaved.ended, SessionEnd::Normal);
}

TEST(Pop3Session, IdsOfAnotherAccountAreIgnored) {
    Client c;
    c.uidl.list = UidlList{"jiro@pop.example.jp:110", {{"a1", UidlMark::Stored}}};
    c.Connect(Account(true));
    c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 1 0\r\n" + Listing({"a1"}) + Retr(kPlain) + "+OK\r\n");
    EXPECT_EQ(c.store.records.size(), 1u);
    EXPECT_EQ(c.uidl.list->account, "taro@pop.example.jp");
}

TEST(Pop3CheckTimer, MinutesOrNoTimer) {
    EXPECT_EQ(CheckTimerPeriod("10"), std::chrono::milliseconds(600'000));
    EXPECT_EQ(CheckTimerPeriod("30"), 30min);
    EXPECT_EQ(CheckTimerPeriod("35791"), 35791min);
    for (const char* none : {"", "0", "abc", "10 ", "-5", "35792", "999999"}) {
        EXPECT_EQ(CheckTimerPeriod(none), std::nullopt) << '"' << none << '"';
    }
}

TEST(Pop3UidlFile, SavedAtomicallyAndReadBack) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tegalo-uidl-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    UidlFile file(dir.string());
    const UidlLoad none = file.Load();
    EXPECT_TRUE(none.ok);
    EXPECT_TRUE(none.list.marks.empty());

    const UidlList list{"taro@pop.example.jp:110", {{"a1", UidlMark::Stored}, {"b!~", UidlMark::Kept}}};
    EXPECT_EQ(file.Save(list), "");
    EXPECT_EQ(file.Load().list, list);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1) << "no temporary file left";
    {
        std::ofstream(file.Path(), std::ios::app) << "stored \r\nbogus line\r\nkept " << std::string(71, 'x') << "\r\n";
    }
    EXPECT_EQ(file.Load().list, list) << "damaged lines are skipped";

    UidlFile missing((dir / "no-such-dir").string());
    EXPECT_NE(missing.Save(list), "");
    std::filesystem::create_directory(dir / "recv.uidl.d");
    std::filesystem::rename(file.Path(), dir / "old");
    std::filesystem::rename(dir / "recv.uidl.d", file.Path());
    EXPECT_FALSE(file.Load().ok) << "a directory in its place cannot be read";
    std::filesystem::remove_all(dir);
}


// Characters without a Shift_JIS form are counted in the closing status;
// mail without them keeps the usual text.
TEST(Pop3Session, StatusCountsCharactersShownAsGeta) {
    Client c;
    c.Connect(Account(true));
    const std::string emoji = "Subject: =?UTF-8?B?8J+YgA==?=\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n\xC3\xB6!";
    c.Server("+OK\r\n+OK\r\n+OK\r\n+OK 2 0\r\n" + Listing({"g1", "g2"}) + Retr(emoji) + Retr(kPlain));
    EXPECT_EQ(c.LastStatus(), "2 Messages Recieved, 2 Characters Shown as " + SjisLiteral("〓"));
    ASSERT_EQ(c.store.records.size(), 2u);
    EXPECT_EQ(c.store.records[0].Subject(), " " + SjisLiteral("〓"));
}

// A session is bounded by progress, not only by silence: a byte every 50
// seconds ends it within the minute, while a large message that keeps coming
// at a modest rate is fetched however long it takes.
TEST(Pop3Session, DribblingServerEndsButSlowProgressDoesNot) {
    const auto login = [](Client& c) {
        c.Connect();
        c.Server("+OK ready\r\n");
        c.Server("+OK\r\n");
        c.Server("+OK logged in\r\n");
    };
    {
        Client c;
        login(c);
        const std::string stat = "+OK 1 320\r\n";
        int ticks = 0;
        for (std::size_t i = 0; i < stat.size() && !c.closed; ++i) {
            for (int t = 0; t < 50 && !c.closed; ++t, ++ticks) {
                c.Take(c.session.OnTick());
            }
            if (!c.closed) {
                c.Server(stat.substr(i, 1));
            }
        }
        EXPECT_TRUE(c.closed);
        EXPECT_LE(ticks, Pop3Session::kReplyTimeoutTicks + 1);
        EXPECT_EQ(c.LastStatus(), "Server Too Slow: Session Ended");
        EXPECT_EQ(c.ended, SessionEnd::Failed);
        EXPECT_EQ(c.sent.find("RETR"), std::string::npos);
    }
    {
        Client c;
        login(c);
        c.Server("+OK 1 320\r\n");
        EXPECT_EQ(c.Server(Listing({"a1"})), "RETR 1\r\n");
        std::string body;
        for (int line = 0; line < 4000; ++line) {
            body += std::string(60, 'a') + "\r\n";
        }
        const std::string retr = Retr("Subject: big\r\n\r\n" + body);
        const std::size_t piece = 2 * Pop3Session::kMinBytesPerTick;
        for (std::size_t at = 0; at < retr.size(); at += piece) {
            for (int t = 0; t < 2; ++t) {
                c.Take(c.session.OnTick());
            }
            ASSERT_FALSE(c.closed) << "at byte " << at;
            c.Server(retr.substr(at, piece));
        }
        EXPECT_EQ(c.store.records.size(), 1u);
        EXPECT_FALSE(c.closed);
    }
}

// A server that lies: the count STAT claims sizes nothing (the messages are
// asked for one by one, and the first refusal ends it), a UIDL listing that
// leaves most of them out is not trusted, and an endless status line gets
// one QUIT, not one per piece.
TEST(Pop3Session, LyingServer) {
    {
        Client c;
        c.Connect();
        c.Server("+OK ready\r\n");
        c.Server("+OK\r\n");
        c.Server("+OK logged in\r\n");
        EXPECT_EQ(c.Server("+OK 9999999 320\r\n"), "UIDL\r\n");
        EXPECT_EQ(c.Server(Listing({"a1"})), "RETR 1\r\n") << "one id for millions claimed";
        EXPECT_EQ(c.Server(Retr(kPlain)), "RETR 2\r\n");
        EXPECT_EQ(c.Server("-ERR no such message\r\n"), "QUIT\r\n");
        c.Server("+OK bye\r\n");
        EXPECT_TRUE(c.closed);
        EXPECT_EQ(c.ended, SessionEnd::Failed);
        EXPECT_EQ(c.store.records.size(), 1u);
        EXPECT_EQ(c.sent.find("DELE"), std::string::npos) << "nothing deleted after a refusal";
    }
    {
        Client c;
        c.Connect();
        c.Server("+OK ready\r\n");
        c.Server("+OK\r\n");
        c.Server("+OK logged in\r\n");
        const std::string endless(Pop3Reader::kMaxStatusLine / 4, 'x');
        c.Server("+OK ");
        for (int i = 0; i < 12; ++i) {
            c.Server(endless);
        }
        EXPECT_EQ(c.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nQUIT\r\n");
        EXPECT_TRUE(c.closed);
        EXPECT_EQ(c.ended, SessionEnd::Failed);
    }
}

} // namespace
} // namespace tegalo
