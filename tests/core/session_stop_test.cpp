// The user's stop of a receive or send session, at every point of a
// conversation with a model server, with the server's bytes handed over
// whole, byte by byte and in small pieces. Whatever the point, no message is
// lost, none is deleted from the server unless it was stored whole, and none
// is stored or sent twice.
#include "transfer/Pop3Session.h"
#include "transfer/SmtpSession.h"

#include "tests/support/FakeReceiveStore.h"
#include "tests/support/FakeSendStore.h"
#include "text/unicode.h"
#include "transfer/SessionProgress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace tegalo {
namespace {

using namespace tegalo::literals;
using pop3_test::FakeReceiveStore;
using pop3_test::FakeUidlStore;

// A POP3 server holding messages by id. Deletions take effect when QUIT
// arrives; a connection that ends without QUIT deletes nothing.
struct ModelPop3 {
    std::map<std::string, std::string> mailbox; // id -> message text (no dot lines)
    std::vector<std::string> session;           // ids by message number - 1
    std::set<int> marked;
    std::string input;
    bool quit = false;

    void Begin() {
        session.clear();
        for (const auto& [id, text] : mailbox) {
            session.push_back(id);
        }
        marked.clear();
        input.clear();
        quit = false;
    }
    std::string Feed(std::string_view bytes) {
        input += bytes;
        std::string out;
        for (std::size_t end; !quit && (end = input.find("\r\n")) != std::string::npos;) {
            const std::string line = input.substr(0, end);
            input.erase(0, end + 2);
            const int n = line.size() > 5 ? std::atoi(line.c_str() + 5) : 0;
            if (line == "STAT") {
                out += "+OK " + std::to_string(session.size()) + " 100\r\n";
            } else if (line == "UIDL") {
                out += "+OK\r\n";
                for (std::size_t i = 0; i < session.size(); ++i) {
                    out += std::to_string(i + 1) + " " + session[i] + "\r\n";
                }
                out += ".\r\n";
            } else if (line.starts_with("RETR ")) {
                out += "+OK\r\n" + mailbox.at(session.at(static_cast<std::size_t>(n - 1))) + "\r\n.\r\n";
            } else if (line.starts_with("DELE ")) {
                marked.insert(n);
                out += "+OK\r\n";
            } else if (line == "QUIT") {
                for (const int m : marked) {
                    mailbox.erase(session.at(static_cast<std::size_t>(m - 1)));
                }
                quit = true;
                out += "+OK bye\r\n";
            } else {
                out += "+OK\r\n";
            }
        }
        return out;
    }
};

struct Pop3Run {
    bool closed = false;
    std::string sent;
    std::vector<std::string> status;
    SessionEnd ended = SessionEnd::None;
    std::vector<SessionProgress> progress;
};

// One session against `server`; after `stopAt` pieces of the server's bytes
// (0: never) the user stops it, `stops` times in a row.
Pop3Run RunPop3(Pop3Session& session, ModelPop3& server, std::size_t piece, int stopAt, int stops) {
    Pop3Run run;
    std::string toClient;
    const auto take = [&](Pop3Output out) {
        run.sent += out.send;
        toClient += server.Feed(out.send);
        run.status.insert(run.status.end(), out.statusTexts.begin(), out.statusTexts.end());
        run.closed = run.closed || out.close;
        if (out.ended != SessionEnd::None) {
            run.ended = out.ended;
        }
        run.progress.push_back(ProgressOf(session));
    };
    server.Begin();
    take(session.StartReceive({"pop.example.jp", 110, "taro", "secret", false}));
    take(session.OnServerConnect());
    toClient = "+OK ready\r\n";
    for (int step = 1; !run.closed; ++step) {
        if (step == stopAt) {
            for (int i = 0; i < stops && !run.closed; ++i) {
                take(session.Stop());
            }
            continue;
        }
        if (toClient.empty()) {
            take(session.OnServerClose()); // the server said goodbye and closed
            continue;
        }
        const std::string bytes = toClient.substr(0, piece);
        toClient.erase(0, bytes.size());
        take(session.ReadArrival(bytes));
    }
    return run;
}

std::string Message(int i) {
    return "Subject: m" + std::to_string(i) + "\r\n\r\nbody " + std::to_string(i);
}

// How many times message `i` was stored.
int Stored(const FakeReceiveStore& store, int i) {
    const std::string subject = "m" + std::to_string(i);
    return static_cast<int>(std::count_if(store.records.begin(), store.records.end(), [&](const auto& record) {
        return record.Subject().ends_with(subject);
    }));
}

TEST(Pop3Stop, AtEveryPointNothingIsLostOrStoredTwice) {
    for (const bool withUidl : {true, false}) {
        for (const std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(100000)}) {
            for (const int stops : {1, 2}) {
                for (int stopAt = 1;; ++stopAt) {
                    SCOPED_TRACE(testing::Message() << "uidl " << withUidl << ", piece " << piece << ", stops "
                                                    << stops << ", stop at " << stopAt);
                    ModelPop3 server;
                    for (int i = 1; i <= 3; ++i) {
                        server.mailbox["id" + std::to_string(i)] = Message(i);
                    }
                    FakeReceiveStore store;
                    FakeUidlStore uidl;
                    Pop3Session session(store, withUidl ? &uidl : nullptr);
                    const Pop3Run stopped = RunPop3(session, server, piece, stopAt, stops);
                    if (stopped.ended != SessionEnd::Stopped) {
                        // The session ended before the stop point: every point was tried.
                        ASSERT_EQ(stopped.ended, SessionEnd::Normal);
                        ASSERT_GT(stopAt, 10);
                        break;
                    }
                    EXPECT_EQ(stopped.status.back().substr(0, 18), ReceiveStoppedText(0).substr(0, 18));
                    // Nothing deleted that was not stored.
                    for (int i = 1; i <= 3; ++i) {
                        EXPECT_TRUE(Stored(store, i) > 0 || server.mailbox.count("id" + std::to_string(i)) == 1) << i;
                    }
                    // A later session completes the work: each message stored
                    // once. Without ids to remember, a second stop (which
                    // closes without QUIT, so the server deletes nothing)
                    // leaves the stored ones to be fetched again.
                    const Pop3Run next = RunPop3(session, server, piece, 0, 0);
                    EXPECT_EQ(next.ended, SessionEnd::Normal);
                    EXPECT_TRUE(server.mailbox.empty());
                    for (int i = 1; i <= 3; ++i) {
                        if (withUidl || stops == 1) {
                            EXPECT_EQ(Stored(store, i), 1) << i;
                        } else {
                            EXPECT_GE(Stored(store, i), 1) << i;
                        }
                    }
                }
            }
        }
    }
}

// An SMTP server that takes a message once its text ends; a connection that
// ends in the middle of the text delivers nothing.
struct ModelSmtp {
    std::vector<std::string> delivered; // the texts taken, in order
    std::string input;
    bool data = false;
    bool quit = false;

    std::string Feed(std::string_view bytes) {
        input += bytes;
        std::string out;
        while (!quit) {
            if (data) {
                const std::size_t end = input.find("\r\n.\r\n");
                if (end == std::string::npos) {
                    break;
                }
                delivered.push_back(input.substr(0, end));
                input.erase(0, end + 5);
                data = false;
                out += "250 queued\r\n";
                continue;
            }
            const std::size_t end = input.find("\r\n");
            if (end == std::string::npos) {
                break;
            }
            const std::string line = input.substr(0, end);
            input.erase(0, end + 2);
            if (line == "DATA") {
                data = true;
                input.insert(0, "\r\n"); // the text's first line ends the search above
                out += "354 go ahead\r\n";
            } else if (line == "QUIT") {
                quit = true;
                out += "221 bye\r\n";
            } else {
                out += "250 ok\r\n";
            }
        }
        return out;
    }
};

TEST(SmtpStop, AtEveryPointAMessageIsFiledOrWaitingNeverBoth) {
    for (const std::size_t piece : {std::size_t(1), std::size_t(5), std::size_t(100000)}) {
        for (const int stops : {1, 2}) {
            for (int stopAt = 1;; ++stopAt) {
                SCOPED_TRACE(testing::Message() << "piece " << piece << ", stops " << stops << ", stop at " << stopAt);
                smtp_test::FakeSendStore store;
                for (const char* subject : {"one", "two", "three"}) {
                    store.Wait(smtp_test::Composed(subject, "a@example.jp", subject));
                }
                SmtpSession session(store, [] { return LocalTime{2026, 12, 7, 10, 0, 0, 1, 540}; });
                ModelSmtp server;
                std::string toClient;
                bool closed = false;
                SessionEnd ended = SessionEnd::None;
                const auto take = [&](SmtpOutput out) {
                    toClient += server.Feed(out.send);
                    closed = closed || out.close;
                    if (out.ended != SessionEnd::None) {
                        ended = out.ended;
                    }
                };
                take(session.SendWaiting({"pop.example.jp", "smtp.example.jp", 25, "taro@example.jp", "Taro"}));
                take(session.OnServerConnect());
                toClient = "220 ready\r\n";
                for (int step = 1; !closed; ++step) {
                    if (step == stopAt) {
                        for (int i = 0; i < stops && !closed; ++i) {
                            take(session.Stop());
                        }
                        continue;
                    }
                    if (toClient.empty()) {
                        take(session.OnServerClose());
                        continue;
                    }
                    const std::string bytes = toClient.substr(0, piece);
                    toClient.erase(0, bytes.size());
                    take(session.ReadArrival(bytes));
                }
                if (ended != SessionEnd::Stopped) {
                    ASSERT_EQ(ended, SessionEnd::Normal);
                    ASSERT_GT(stopAt, 10);
                    break;
                }
                const std::vector<std::string> sent = store.SentSubjects();
                const std::vector<std::string> waiting = store.WaitingSubjects();
                EXPECT_EQ(sent.size() + waiting.size(), 3u);
                for (const std::string& subject : sent) {
                    EXPECT_EQ(std::count(waiting.begin(), waiting.end(), subject), 0) << subject;
                }
                if (stops == 1) {
                    // One stop waits for the server's answer to a text that went out.
                    EXPECT_EQ(server.delivered.size(), sent.size());
                } else {
                    EXPECT_GE(server.delivered.size(), sent.size());
                }
            }
        }
    }
}

TEST(SessionProgressText, NamesTheStepAndCounts) {
    const struct {
        const char* name;
        SessionProgress progress;
        std::string text;
    } rows[] = {
        {"idle", {}, ""},
        {"connecting", {SessionProgress::Step::Connecting, 0, 0, false}, "接続中"_sjis},
        {"receiving", {SessionProgress::Step::Receiving, 12, 277, false}, "受信中 12/277"_sjis},
        {"deleting", {SessionProgress::Step::Deleting, 3, 12, false}, "削除中 3/12"_sjis},
        {"sending", {SessionProgress::Step::Sending, 3, 20, true}, "送信中 3/20"_sjis},
        {"stopping a send", {SessionProgress::Step::Stopping, 0, 0, true}, "送信を中止しています"_sjis},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ProgressText(row.progress), row.text) << row.name;
    }
}

TEST(SessionProgressText, FollowsAReceiveSession) {
    ModelPop3 server;
    for (int i = 1; i <= 3; ++i) {
        server.mailbox["id" + std::to_string(i)] = Message(i);
    }
    FakeReceiveStore store;
    FakeUidlStore uidl;
    Pop3Session session(store, &uidl);
    const Pop3Run run = RunPop3(session, server, 100000, 0, 0);
    std::vector<std::string> texts;
    for (const SessionProgress& progress : run.progress) {
        if (texts.empty() || texts.back() != ProgressText(progress)) {
            texts.push_back(ProgressText(progress));
        }
    }
    const std::vector<std::string> expected = {
        "接続中"_sjis,      "受信中 1/3"_sjis, "受信中 2/3"_sjis, "受信中 3/3"_sjis,
        "削除中 1/3"_sjis, "削除中 2/3"_sjis, "削除中 3/3"_sjis, "",
    };
    EXPECT_EQ(texts, expected);
}

} // namespace
} // namespace tegalo
