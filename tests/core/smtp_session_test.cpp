// The send session as the socket adapter sees it: server replies in, exact
// client bytes out, with a fake waiting and sent folder and a fixed clock.
#include "transfer/SmtpSession.h"

#include "tests/support/FakeSendStore.h"
#include "text/unicode.h"

#include "tests/support/MessageIds.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace tegalo {
namespace {

using namespace tegalo::literals;
using smtp_test::Composed;
using smtp_test::FakeSendStore;

using smtp_test::WithMessageIdsMasked;

constexpr LocalTime kNow{2026, 12, 7, 10, 0, 0, 1, 540};

SmtpAccount Account() {
    return {"pop.example.jp", "smtp.example.jp", 587, "taro@example.jp", "Taro"};
}

std::string ReplyFile(const std::string& name) {
    std::ifstream in(std::string(TEGALO_TEST_DATA) + "/smtp/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_FALSE(text.str().empty()) << name;
    return text.str();
}

// The multi-line EHLO answer without its PIPELINING line: the conversations
// here go one command at a time (smtp_pipelining_test has the groups).
std::string EhloWithoutPipelining() {
    std::string reply = ReplyFile("ehlo-multiline.reply");
    const std::size_t at = reply.find("250-PIPELINING\r\n");
    EXPECT_NE(at, std::string::npos);
    return reply.erase(at, 16);
}

struct Client {
    FakeSendStore store;
    SmtpSession session{store, [] { return kNow; }};
    std::vector<std::string> status;
    std::vector<std::string> notices;
    std::string sent;
    bool connectAsked = false;
    std::string host;
    int port = 0;
    bool closed = false;
    SessionEnd ended = SessionEnd::None;

    std::string Take(SmtpOutput out) {
        if (out.connect) {
            connectAsked = true;
            host = out.host;
            port = out.port;
        }
        status.insert(status.end(), out.statusTexts.begin(), out.statusTexts.end());
        notices.insert(notices.end(), out.notices.begin(), out.notices.end());
        sent += out.send;
        closed = closed || out.close;
        if (out.ended != SessionEnd::None) {
            ended = out.ended;
        }
        return out.send;
    }
    // Starts the request and, when it asks for a connection, connects.
    void Start(SmtpOutput out) {
        Take(std::move(out));
        if (connectAsked) {
            Take(session.OnServerConnect());
        }
    }
    void SendWaiting(const SmtpAccount& account = Account()) { Start(session.SendWaiting(account)); }
    void SendComposed(OutgoingMessage message, const SmtpAccount& account = Account()) {
        Start(session.SendComposed(account, std::move(message)));
    }
    // The server's replies, each arriving on its own once the one before
    // was answered, as a server that answers in turn sends them: a reply
    // that arrived before its command went out would be out of turn.
    std::string Server(std::string_view bytes) {
        std::string sentNow;
        std::size_t from = 0;
        std::size_t at = 0;
        while (at < bytes.size()) {
            const std::size_t lf = bytes.find('\n', at);
            if (lf == std::string_view::npos) {
                break;
            }
            const std::string_view line = bytes.substr(at, lf - at);
            at = lf + 1;
            if (!(line.size() >= 4 && line[3] == '-')) {
                sentNow += Take(session.ReadArrival(bytes.substr(from, at - from)));
                from = at;
            }
        }
        if (from < bytes.size() || bytes.empty()) {
            sentNow += Take(session.ReadArrival(bytes.substr(from)));
        }
        return sentNow;
    }
    // Bytes as they come, in one arrival.
    std::string ServerRaw(std::string_view bytes) { return Take(session.ReadArrival(bytes)); }
    std::string LastStatus() const { return status.empty() ? std::string() : status.back(); }
};

const std::string kGreeting = "220 smtp.example.jp ESMTP\r\n";
const std::string kOk = "250 2.0.0 Ok\r\n";
const std::string kGoAhead = "354 End data with <CR><LF>.<CR><LF>\r\n";
const std::string kBye = "221 2.0.0 Bye\r\n";

// The server's side of a message with `recipients` recipients, all accepted.
std::string Accepted(int recipients) {
    std::string replies = kOk;
    for (int i = 0; i < recipients; ++i) {
        replies += kOk;
    }
    return replies + kGoAhead + "250 2.0.0 Ok: queued\r\n";
}

TEST(SmtpSession, ComposedMessageGoesOutAndIsFiled) {
    Client c;
    const OutgoingMessage message = Composed("hello", "hanako@example.jp", "line 1\r\n.\r\n.x\r\nlast");
    c.SendComposed(message);
    EXPECT_EQ(c.host, "smtp.example.jp");
    EXPECT_EQ(c.port, 587);
    EXPECT_EQ(c.status, std::vector<std::string>{"Server Connection OK"});
    EXPECT_EQ(c.Server(kGreeting), "EHLO example.jp\r\n");
    EXPECT_EQ(c.Server(EhloWithoutPipelining()), "MAIL FROM:<taro@example.jp>\r\n");
    EXPECT_EQ(c.Server(kOk), "RCPT TO:<hanako@example.jp>\r\n");
    EXPECT_EQ(c.Server(kOk), "DATA\r\n");
    EXPECT_EQ(WithMessageIdsMasked(c.Server(kGoAhead)), "Date: Mon, 07 Dec 2026 10:00:00 +0900\r\n"
                                  "From: Taro <taro@example.jp>\r\n"
                                  "To: hanako@example.jp\r\n"
                                  "Subject: hello\r\n"
                                  "Message-ID: <id>\r\n"
                                  "MIME-Version: 1.0\r\n"
                                  "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                                  "Content-Transfer-Encoding: 7bit\r\n"
                                  "\r\n"
                                  "line 1\r\n..\r\n..x\r\nlast\r\n.\r\n");
    EXPECT_TRUE(c.store.sent.empty()) << "filed only once the server accepted it";
    EXPECT_EQ(c.Server("250 2.0.0 Ok: queued as 4BC1\r\n"), "QUIT\r\n");
    EXPECT_EQ(c.LastStatus(), "Message was sent");
    EXPECT_FALSE(c.closed);
    EXPECT_EQ(c.Server(kBye), "");
    EXPECT_TRUE(c.closed);
    EXPECT_EQ(c.ended, SessionEnd::Normal);
    EXPECT_FALSE(c.session.Busy());

    ASSERT_EQ(c.store.sent.size(), 1u);
    const smtp_test::FiledCopy& copy = c.store.sent[0];
    const std::string& header = c.session.LastMessage().header;
    EXPECT_EQ(copy.header, "hello" + std::string("hanako@example.jp") + "Mon, 07 Dec 2026" + header)
        << "the recipients stand in the sender piece";
    EXPECT_TRUE(header.starts_with("Date: Mon, 07 Dec 2026 10:00:00 +0900\r\n"));
    EXPECT_EQ(copy.sizes[kSubjectLength], 5);
    EXPECT_EQ(copy.sizes[kSenderLength], 17);
    EXPECT_EQ(copy.sizes[kDateLength], 16);
    EXPECT_EQ(copy.sizes[kHeaderLength], static_cast<int>(header.size()));
    EXPECT_EQ(copy.bodyParts, message.bodyParts) << "the stored copy keeps the text as typed";
}

TEST(SmtpSession, EachRecipientOnTheAnswerToTheOneBefore) {
    Client c;
    c.SendComposed(Composed("s", "a@example.jp, Bob <b@example.jp>,\r\nCc: Carol <c@example.jp>", "x"));
    c.Server(kGreeting);
    c.Server("250 smtp.example.jp\r\n");
    EXPECT_EQ(c.session.State(), SmtpState::MailOrRcptSent);
    EXPECT_EQ(c.session.RecipientsLeft(), 3);
    const struct {
        const char* reply;
        const char* command;
        SmtpState state;
        int left;
    } steps[] = {
        {"250 sender ok\r\n", "RCPT TO:<a@example.jp>\r\n", SmtpState::MailOrRcptSent, 2},
        {"251 will forward\r\n", "RCPT TO:<b@example.jp>\r\n", SmtpState::MailOrRcptSent, 1},
        {"250 ok\r\n", "RCPT TO:<c@example.jp>\r\n", SmtpState::LastRcptSent, 0},
        {"250 ok\r\n", "DATA\r\n", SmtpState::DataSent, 0},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(c.Server(step.reply), step.command);
        EXPECT_EQ(c.session.State(), step.state) << step.command;
        EXPECT_EQ(c.session.RecipientsLeft(), step.left) << step.command;
    }
    EXPECT_NE(c.Server(kGoAhead).find("\r\nTo: a@example.jp, Bob <b@example.jp>\r\nCc: Carol <c@example.jp>\r\n"),
              std::string::npos);
}

// One transaction per waiting message; a refused one stays waiting, RSET
// clears the way for the next, an accepted one needs no RSET.
TEST(SmtpSession, BatchGoesOnAfterARefusal) {
    Client c;
    c.store.Wait(Composed("first", "a@example.jp", "1"));
    c.store.Wait(Composed("second", "nobody@example.jp", "2"));
    c.store.Wait(Composed("third", "c@example.jp", "3"));
    c.SendWaiting();
    EXPECT_TRUE(c.session.BatchSend());
    EXPECT_EQ(c.session.MessagesTotal(), 3);
    c.Server(kGreeting);
    EXPECT_EQ(c.Server(kOk), "MAIL FROM:<taro@example.jp>\r\n");
    c.Server(kOk);
    c.Server(kOk);
    c.Server(kGoAhead);
    EXPECT_EQ(c.Server("250 queued\r\n"), "MAIL FROM:<taro@example.jp>\r\n");
    EXPECT_EQ(c.store.WaitingSubjects(), (std::vector<std::string>{"second", "third"})) << "removed once accepted";
    EXPECT_EQ(c.session.MessagesLeft(), 2);
    EXPECT_EQ(c.Server(kOk), "RCPT TO:<nobody@example.jp>\r\n");
    EXPECT_EQ(c.Server(ReplyFile("rcpt-refused-multiline.reply")), "RSET\r\n");
    EXPECT_EQ(c.LastStatus().substr(0, 30), "4 550-5.1.1 The email account ");
    EXPECT_TRUE(c.LastStatus().ends_with("..." + "宛先エラー"_sjis)) << "the long reply is cut";
    EXPECT_EQ(c.Server(kOk), "MAIL FROM:<taro@example.jp>\r\n");
    EXPECT_EQ(c.Server(kOk), "RCPT TO:<c@example.jp>\r\n");
    c.Server(kOk);
    c.Server(kGoAhead);
    EXPECT_EQ(c.Server("250 queued\r\n"), "QUIT\r\n");
    EXPECT_EQ(c.LastStatus(), "2 Messages Sent, 1 Refused");
    c.Server(kBye);
    EXPECT_EQ(c.ended, SessionEnd::Failed) << "not every waiting message went";
    EXPECT_EQ(c.store.WaitingSubjects(), std::vector<std::string>{"second"});
    EXPECT_EQ(c.store.SentSubjects(), (std::vector<std::string>{"first", "third"}));
    EXPECT_EQ(c.session.Sent(), 2);
    EXPECT_EQ(c.session.Refused(), 1);
}

TEST(SmtpSession, WholeBatchAccepted) {
    Client c;
    c.store.Wait(Composed("one", "a@example.jp", "1"));
    c.store.Wait(Composed("two", "a@example.jp, b@example.jp", "2"));
    c.SendWaiting();
    c.Server(kGreeting + kOk + Accepted(1) + Accepted(2) + kBye);
    EXPECT_EQ(c.status, (std::vector<std::string>{"Server Connection OK", "Message was sent", "Message was sent",
                                                  "2 Messages Sent"}));
    EXPECT_EQ(c.ended, SessionEnd::Normal);
    EXPECT_TRUE(c.store.waiting.empty());
    EXPECT_EQ(c.store.SentSubjects(), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(c.sent.find("RSET"), std::string::npos);
}

// Every refusal of a single message: its status text, QUIT, nothing filed.
TEST(SmtpSession, RefusalsOfEachStep) {
    struct Row {
        const char* name;
        std::string recipients;
        std::string before; // replies that lead up to the refused one
        std::string reply;
        std::string status;
        bool quit = true;
    };
    const std::string upToMail = kGreeting + kOk;
    const std::vector<Row> rows = {
        {"greeting", "a@x.jp", "", "554 no SMTP service here\r\n", "1 554 no SMTP service here"},
        {"EHLO", "a@x.jp", kGreeting, "502 5.5.2 command not recognized\r\n", "2 502 5.5.2 command not recognized"},
        {"MAIL FROM", "a@x.jp", upToMail, "553 5.7.1 sender refused\r\n", "3 553 5.7.1 sender refused" + "ＩＤエラー"_sjis},
        {"MAIL FROM answered 251", "a@x.jp", upToMail, "251 forwarding\r\n", "3 251 forwarding" + "ＩＤエラー"_sjis},
        {"RCPT TO before the last", "a@x.jp, b@x.jp", upToMail + kOk, "550 no such user\r\n",
         "3 550 no such user" + "ＩＤエラー"_sjis},
        {"the last RCPT TO", "a@x.jp, b@x.jp", upToMail + kOk + kOk, "550 no such user\r\n",
         "4 550 no such user" + "宛先エラー"_sjis},
        {"DATA", "a@x.jp", upToMail + kOk + kOk, "554 5.5.1 no valid recipients\r\n", "4 554 5.5.1 no valid recipients"},
        {"the message text", "a@x.jp", upToMail + kOk + kOk + kGoAhead, "554 5.7.1 rejected as spam\r\n",
         "5 554 5.7.1 rejected as spam"},
        {"temporary refusal", "a@x.jp", upToMail + kOk, "450 4.2.0 mailbox busy\r\n",
         "4 450 4.2.0 mailbox busy" + "宛先エラー"_sjis},
        {"421 closes at once", "a@x.jp", upToMail + kOk, "421 4.3.2 shutting down\r\n",
         "4 421 4.3.2 shutting down" + "宛先エラー"_sjis, false},
        {"control bytes shown as ?", "a@x.jp", "", std::string("554 a\0b\x1b\r\n", 10), "1 554 a?b?"},
        {"a reply that never ends", "a@x.jp", kGreeting, "250-" + std::string(SmtpReader::kMaxReply, 'x'),
         "2 (reply longer than 65536 bytes)"},
    };
    for (const Row& row : rows) {
        Client c;
        c.SendComposed(Composed("s", row.recipients, "text"));
        c.Server(row.before);
        const std::string answer = c.Server(row.reply);
        EXPECT_EQ(c.LastStatus(), row.status) << row.name;
        EXPECT_EQ(answer, row.quit ? "QUIT\r\n" : "") << row.name;
        if (row.quit) {
            EXPECT_FALSE(c.closed) << row.name;
            c.Server(kBye);
        }
        EXPECT_TRUE(c.closed) << row.name;
        EXPECT_EQ(c.ended, SessionEnd::Failed) << row.name;
        EXPECT_TRUE(c.store.sent.empty()) << row.name;
        EXPECT_EQ(c.session.Sent(), 0) << row.name;
    }
}

// The same conversation whatever the pieces the server's bytes arrive in.
// The server's replies one at a time, each only once the session owes it
// one: a reply never leaves before its command arrived. A reply holding a
// cut (an offset into all the replies joined) arrives in pieces there.
void ServeInTurn(Client& c, const std::vector<std::string>& replies, const std::vector<std::size_t>& cuts) {
    std::size_t pos = 0;
    for (const std::string& reply : replies) {
        if (c.session.RepliesDue() == 0) {
            return;
        }
        std::size_t from = 0;
        for (const std::size_t cut : cuts) {
            if (cut > pos + from && cut < pos + reply.size()) {
                c.Server(std::string_view(reply).substr(from, cut - pos - from));
                from = cut - pos;
            }
        }
        c.Server(std::string_view(reply).substr(from));
        pos += reply.size();
    }
}

TEST(SmtpSession, ArrivalsOfAnySizeGiveTheSameResult) {
    const std::vector<std::string> replies = {
        ReplyFile("greeting-multiline.reply"), EhloWithoutPipelining(),
        kOk, kOk, kOk, kGoAhead, "250 2.0.0 Ok: queued\r\n", // two recipients
        kOk, ReplyFile("rcpt-refused-multiline.reply"), kOk,   // refused, RSET
        kOk, kOk, kGoAhead, "250 2.0.0 Ok: queued\r\n", kBye};
    std::size_t total = 0;
    for (const std::string& reply : replies) {
        total += reply.size();
    }
    const auto run = [&](const std::vector<std::size_t>& cuts) {
        auto c = std::make_unique<Client>();
        c->store.Wait(Composed("one", "a@example.jp, b@example.jp", "1"));
        c->store.Wait(Composed("two", "bad@example.jp", "2"));
        c->store.Wait(Composed("three", "c@example.jp", "3"));
        c->SendWaiting();
        ServeInTurn(*c, replies, cuts);
        return c;
    };
    const auto whole = run({});
    EXPECT_EQ(whole->LastStatus(), "2 Messages Sent, 1 Refused");
    EXPECT_TRUE(whole->closed);
    EXPECT_EQ(whole->store.WaitingSubjects(), std::vector<std::string>{"two"});
    for (std::size_t cut = 1; cut < total; ++cut) {
        const auto split = run({cut});
        ASSERT_EQ(WithMessageIdsMasked(split->sent), WithMessageIdsMasked(whole->sent)) << "cut at " << cut;
        ASSERT_EQ(split->status, whole->status) << "cut at " << cut;
        ASSERT_EQ(split->store.WaitingSubjects(), whole->store.WaitingSubjects()) << "cut at " << cut;
    }
    std::vector<std::size_t> everyByte;
    for (std::size_t i = 1; i < total; ++i) {
        everyByte.push_back(i);
    }
    const auto bytes = run(everyByte);
    EXPECT_EQ(WithMessageIdsMasked(bytes->sent), WithMessageIdsMasked(whole->sent));
    EXPECT_EQ(bytes->status, whole->status);
}

// A server out of step: a reply nobody asked for, sent before the command
// it would answer, ends the session at once with one QUIT, wherever the
// arrivals are cut; nothing is taken as accepted on its word.
TEST(SmtpSession, ReplyOutOfTurnEndsTheSession) {
    const std::string early = kGreeting + "250 2.0.0 Ok\r\n";
    for (std::size_t cut = 0; cut <= early.size(); ++cut) {
        if (cut == kGreeting.size()) {
            continue; // apart, the second reply would come after EHLO: in turn
        }
        Client c;
        c.store.Wait(Composed("one", "a@example.jp", "1"));
        c.SendWaiting();
        if (cut > 0) {
            c.ServerRaw(early.substr(0, cut));
        }
        c.ServerRaw(early.substr(cut));
        ASSERT_NE(c.LastStatus().find("out of turn"), std::string::npos) << "cut at " << cut << ": " << c.LastStatus();
        ASSERT_EQ(c.sent, "EHLO example.jp\r\nQUIT\r\n") << "cut at " << cut;
        c.Server("250 late answer to EHLO\r\n" + kBye);
        ASSERT_TRUE(c.closed);
        EXPECT_EQ(c.ended, SessionEnd::Failed);
        EXPECT_EQ(c.store.WaitingSubjects(), std::vector<std::string>{"one"});
    }
    // A second acceptance of the same text does not stand for the next message's MAIL FROM.
    Client c;
    c.store.Wait(Composed("one", "a@example.jp", "1"));
    c.store.Wait(Composed("two", "b@example.jp", "2"));
    c.SendWaiting();
    c.Server(kGreeting);
    c.Server(ReplyFile("ehlo-multiline.reply"));
    c.Server(kOk);
    c.Server(kOk);
    c.Server(kGoAhead);
    c.ServerRaw("250 2.0.0 Ok: queued\r\n250 2.0.0 Ok: queued again\r\n");
    EXPECT_NE(c.LastStatus().find("out of turn"), std::string::npos) << c.LastStatus();
    EXPECT_EQ(c.store.WaitingSubjects(), std::vector<std::string>{"two"});
    EXPECT_EQ(c.session.Sent(), 1);
}

// A greeting that comes a byte every 50 seconds ends the session within the
// minute, although the connection is never silent for 60 seconds.
TEST(SmtpSession, DribblingServerEnds) {
    Client c;
    c.store.Wait(Composed("one", "a@example.jp", "1"));
    c.SendWaiting();
    int ticks = 0;
    for (std::size_t i = 0; i < kGreeting.size() && !c.closed; ++i) {
        for (int t = 0; t < 50 && !c.closed; ++t, ++ticks) {
            c.Take(c.session.OnTick());
        }
        if (!c.closed) {
            c.Server(kGreeting.substr(i, 1));
        }
    }
    EXPECT_TRUE(c.closed);
    EXPECT_LE(ticks, SmtpSession::kReplyTimeoutTicks + 1);
    EXPECT_EQ(c.LastStatus(), "Server Too Slow: Session Ended");
    EXPECT_EQ(c.sent, "");
    EXPECT_EQ(c.store.WaitingSubjects(), std::vector<std::string>{"one"});
}

TEST(SmtpSession, DataOnTheWire) {
    const struct {
        const char* name;
        std::string message;
        std::string wire;
    } rows[] = {
        {"a line holding only a dot", "a\r\n.\r\nb", "a\r\n..\r\nb\r\n.\r\n"},
        {"a line starting with a dot", ".x\r\n..y", "..x\r\n...y\r\n.\r\n"},
        {"a dot inside a line stays single", "a.b\r\nc .", "a.b\r\nc .\r\n.\r\n"},
        {"ending with a line end: no empty line added", "a\r\n", "a\r\n.\r\n"},
        {"ending with an empty line", "a\r\n\r\n", "a\r\n\r\n.\r\n"},
        {"a dot right after a bare LF", "a\n.b", "a\r\n..b\r\n.\r\n"},
        {"bare CR", "a\rb", "a\r\nb\r\n.\r\n"},
        {"what would end the data early", "x\r\n.\r\nQUIT\r\n", "x\r\n..\r\nQUIT\r\n.\r\n"},
        {"empty", "", ".\r\n"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(DataForWire(row.message), row.wire) << row.name;
    }
}

TEST(SmtpSession, EhloDomainAndRecipientAddresses) {
    const struct {
        const char* name;
        const char* serverName;
        const char* serverName2;
        const char* domain;
    } servers[] = {
        {"three labels: the last two", "pop.example.jp", "smtp.mail.example.jp", "mail.example.jp"},
        {"two labels: the second", "pop.example.jp", "smtp.jp", "jp"},
        {"no dot: whole", "pop.example.jp", "localhost", "localhost"},
        {"nothing after the dot: whole", "pop.example.jp", "smtp.", "smtp."},
        {"no second server: the first unchanged", "pop.example.jp", "", "pop.example.jp"},
    };
    for (const auto& row : servers) {
        const SmtpAccount account{row.serverName, row.serverName2, 25, "a@b", ""};
        EXPECT_EQ(EhloDomain(account), row.domain) << row.name;
        EXPECT_EQ(SmtpServerName(account), *row.serverName2 ? row.serverName2 : row.serverName) << row.name;
    }
    // The sender's domain comes first; an IP server without one gets its
    // address literal, never a piece of the address.
    EXPECT_EQ(EhloDomain({"pop.example.jp", "smtp.mail.example.jp", 25, "taro@tegalo.example.jp", ""}),
              "tegalo.example.jp");
    EXPECT_EQ(EhloDomain({"127.0.0.1", "", 25, "taro@tegalo.test", ""}), "tegalo.test");
    EXPECT_EQ(EhloDomain({"127.0.0.1", "", 25, "taro", ""}), "[127.0.0.1]");
    EXPECT_EQ(EhloDomain({"pop.example.jp", "192.0.2.10", 25, "a@b", ""}), "[192.0.2.10]");
    EXPECT_EQ(EhloDomain({"::1", "", 25, "a@b", ""}), "[IPv6:::1]");

    const struct {
        const char* name;
        const char* entry;
        const char* address;
    } entries[] = {
        {"name and address", "Hanako Yamada <hanako@example.jp>", "hanako@example.jp"},
        {"bare address", "hanako@example.jp", "hanako@example.jp"},
        {"address in brackets only", "<hanako@example.jp>", "hanako@example.jp"},
        {"blanks around a bare address", "  hanako@example.jp\t", "hanako@example.jp"},
        {"no closing bracket", "Hanako <hanako@example.jp", "hanako@example.jp"},
        {"empty brackets", "Hanako <>", ""},
    };
    for (const auto& row : entries) {
        EXPECT_EQ(RecipientAddress(row.entry), row.address) << row.name;
    }
}

// Addresses and header values are checked before any connection: a message
// that would inject commands or header lines never reaches the server.
TEST(SmtpSession, UnsafeMessagesAreRefusedBeforeConnecting) {
    const struct {
        const char* name;
        std::string recipients;
        std::string subject = "s";
    } rows[] = {
        {"CR LF in an address", "a@x.jp\r\nRCPT TO:b@x.jp"},
        {"LF in an address", "a@x.jp\nDATA"},
        {"NUL in an address", std::string("a\0@x.jp", 7)},
        {"< inside the brackets", "Bob <a<b@x.jp>"},
        {"> in a bare address", "a>b@x.jp"},
        {"empty brackets", "Bob <>"},
        {"one good, one bad", "a@x.jp, b@x.jp\r\nQUIT"},
        {"a line break in the subject", "a@x.jp", "hi\r\nBcc: spy@x.jp"},
    };
    for (const auto& row : rows) {
        Client c;
        c.SendComposed(Composed(row.subject, row.recipients, "text"));
        EXPECT_FALSE(c.connectAsked) << row.name;
        ASSERT_EQ(c.notices.size(), 1u) << row.name;
        EXPECT_TRUE(c.notices[0].starts_with("送信できません："_sjis)) << row.name;
        EXPECT_EQ(c.ended, SessionEnd::Failed) << row.name;
        EXPECT_FALSE(c.session.Busy()) << row.name;
    }
    Client c;
    c.SendComposed(Composed("s", "Bob <a<b@x.jp>", "text"));
    EXPECT_EQ(c.notices[0], "送信できません：宛先のアドレス「a<b@x.jp」に使えない文字（改行、制御文字、<、>）があります"_sjis);

    // A line break in the To text other than the one before "Cc: ".
    OutgoingMessage injected = Composed("s", "a@x.jp", "text");
    injected.recipientText = "a@x.jp\r\nBcc: spy@x.jp";
    Client to;
    to.SendComposed(injected);
    EXPECT_FALSE(to.connectAsked);
    EXPECT_EQ(to.notices, std::vector<std::string>{"送信できません：宛先に改行や制御文字は使えません"_sjis});
}

TEST(SmtpSession, UnsafeWaitingMessageStaysAndTheRestGo) {
    Client c;
    c.store.Wait(Composed("bad", "a@x.jp\r\nDATA", "1"));
    c.store.Wait(Composed("good", "b@x.jp", "2"));
    c.store.prepareFails = {2};
    c.store.Wait(Composed("unreadable", "c@x.jp", "3"));
    c.SendWaiting();
    EXPECT_EQ(c.notices, (std::vector<std::string>{
                             "「bad」は送信しません：宛先のアドレス「a@x.jp??DATA」に使えない文字（改行、制御文字、<、>）があります"_sjis,
                             "送信待ちの3件目のメッセージを読み込めないため送信しません"_sjis}));
    ASSERT_TRUE(c.connectAsked);
    c.Server(kGreeting + kOk + Accepted(1) + kBye);
    EXPECT_EQ(c.sent.find("DATA\r\n"), c.sent.rfind("DATA\r\n")) << "one message only";
    EXPECT_EQ(c.LastStatus(), "1 Messages Sent, 2 Refused");
    EXPECT_EQ(c.store.WaitingSubjects(), (std::vector<std::string>{"bad", "unreadable"}));
    EXPECT_EQ(c.ended, SessionEnd::Failed);

    Client none;
    none.store.Wait(Composed("bad", "<>", "1"));
    none.SendWaiting();
    EXPECT_FALSE(none.connectAsked) << "nothing left to send";
    EXPECT_EQ(none.LastStatus(), "0 Messages Sent, 1 Refused");
    EXPECT_EQ(none.ended, SessionEnd::Failed);
}

TEST(SmtpSession, RequestsThatDoNotConnect) {
    const auto account = [](auto change) {
        SmtpAccount a = Account();
        change(a);
        return a;
    };
    const std::string noServer = "サーバ名またはポートNoを設定して下さい"_sjis;
    const struct {
        const char* name;
        SmtpAccount account;
        std::string notice;
    } rows[] = {
        {"no server at all", account([](SmtpAccount& a) { a.serverName = a.serverName2 = ""; }), noServer},
        {"port 0", account([](SmtpAccount& a) { a.smtpPort = 0; }), noServer},
        {"a blank in the server name", account([](SmtpAccount& a) { a.serverName2 = "smtp example.jp"; }), noServer},
        {"no sender address", account([](SmtpAccount& a) { a.mailAccount = ""; }), "差出人のアドレスがありません"_sjis},
        {"a line break in the sender address", account([](SmtpAccount& a) { a.mailAccount = "a@x\r\nRSET"; }),
         "差出人のアドレス「a@x??RSET」に使えない文字（改行、制御文字、<、>）があります"_sjis},
        {"a line break in the sender name", account([](SmtpAccount& a) { a.displayName = "T\r\nBcc: x"; }),
         "差出人の名前に改行や制御文字は使えません"_sjis},
    };
    for (const auto& row : rows) {
        Client c;
        c.store.Wait(Composed("s", "a@x.jp", "1"));
        c.SendWaiting(row.account);
        EXPECT_FALSE(c.connectAsked) << row.name;
        EXPECT_EQ(c.notices, std::vector<std::string>{row.notice}) << row.name;
        EXPECT_EQ(c.ended, SessionEnd::Failed) << row.name;
        EXPECT_EQ(c.store.waiting.size(), 1u) << row.name;
    }

    Client empty;
    empty.SendWaiting();
    EXPECT_FALSE(empty.connectAsked);
    EXPECT_EQ(empty.status, std::vector<std::string>{"No Waiting Message"});
    EXPECT_EQ(empty.ended, SessionEnd::Normal);

    Client unreadable;
    unreadable.store.countFails = true;
    unreadable.SendWaiting();
    EXPECT_FALSE(unreadable.connectAsked);
    EXPECT_EQ(unreadable.ended, SessionEnd::Failed);

    Client busy;
    busy.store.Wait(Composed("s", "a@x.jp", "1"));
    busy.SendWaiting();
    busy.connectAsked = false;
    busy.Take(busy.session.SendComposed(Account(), Composed("t", "b@x.jp", "2")));
    busy.Take(busy.session.SendWaiting(Account()));
    EXPECT_FALSE(busy.connectAsked);
    EXPECT_EQ(busy.status, (std::vector<std::string>{"Server Connection OK", "Session Running: Request Ignored",
                                                     "Session Running: Request Ignored"}));
    EXPECT_TRUE(busy.session.Busy()) << "the running session goes on";
}

// A connection that fails, closes or falls silent: the message whose answer
// did not come stays waiting, the ones accepted before are done.
TEST(SmtpSession, ConnectionTrouble) {
    const auto batch = [] {
        auto c = std::make_unique<Client>();
        c->store.Wait(Composed("one", "a@x.jp", "1"));
        c->store.Wait(Composed("two", "b@x.jp", "2"));
        return c;
    };

    auto refused = batch();
    refused->Take(refused->session.SendWaiting(Account()));
    refused->Take(refused->session.OnConnectFailed("Connection refused"));
    EXPECT_EQ(refused->LastStatus(), "Server Connection Failed: Connection refused");
    EXPECT_TRUE(refused->closed);
    EXPECT_EQ(refused->ended, SessionEnd::Failed);
    EXPECT_FALSE(refused->session.Busy());

    auto dropped = batch();
    dropped->SendWaiting();
    dropped->Server(kGreeting + kOk + Accepted(1) + kOk + kOk + kGoAhead);
    dropped->Take(dropped->session.OnServerClose());
    EXPECT_EQ(dropped->LastStatus(), "Server Closed the Connection: Session Ended");
    EXPECT_EQ(dropped->ended, SessionEnd::Failed);
    EXPECT_EQ(dropped->store.WaitingSubjects(), std::vector<std::string>{"two"});
    EXPECT_EQ(dropped->store.SentSubjects(), std::vector<std::string>{"one"});

    auto broken = batch();
    broken->SendWaiting();
    broken->Server(kGreeting);
    broken->Take(broken->session.OnSocketError("Broken pipe"));
    EXPECT_EQ(broken->LastStatus(), "サーバエラーメッセージ Broken pipe"_sjis);
    EXPECT_TRUE(broken->closed);
    EXPECT_EQ(broken->store.waiting.size(), 2u);

    auto silent = batch();
    silent->SendWaiting();
    silent->Server(kGreeting + kOk + kOk + kOk + kGoAhead);
    for (int tick = 1; tick < SmtpSession::kReplyTimeoutTicks; ++tick) {
        silent->Take(silent->session.OnTick());
    }
    silent->Take(silent->session.OnBytesWritten()); // the message text is still going out
    for (int tick = 1; tick < SmtpSession::kReplyTimeoutTicks; ++tick) {
        silent->Take(silent->session.OnTick());
    }
    EXPECT_FALSE(silent->closed);
    silent->Take(silent->session.OnTick());
    EXPECT_EQ(silent->LastStatus(), "Server Timeout: No Answer in 60 Seconds");
    EXPECT_TRUE(silent->closed);
    EXPECT_EQ(silent->store.waiting.size(), 2u);
    EXPECT_TRUE(silent->store.sent.empty());

    auto goodbye = batch();
    goodbye->SendWaiting();
    goodbye->Server(kGreeting + kOk + Accepted(1) + Accepted(1));
    goodbye->Take(goodbye->session.OnServerClose()); // instead of answering QUIT
    EXPECT_EQ(goodbye->ended, SessionEnd::Normal);
    EXPECT_TRUE(goodbye->store.waiting.empty());
}

// A failure to store after the server accepted a message stops the session
// at once: QUIT follows, the next message does not go out, the session ends
// as failed and says why. What was noted as sent is never sent again.
TEST(SmtpSession, StoreTroubleAfterAcceptance) {
    struct Row {
        const char* name;
        StoreStatus noteAnswer;
        StoreStatus fileAnswer;
        std::string notice;
        std::string status;
        std::vector<std::string> waiting; // after the session
    };
    const Row rows[] = {
        {"copy not filed",
         StoreStatus::kOk,
         StoreStatus::kCannotWrite,
         "「one」は送信しましたが、送信済に保存できませんでした（送信待ちから送信済に移します）"_sjis,
         "1 Messages Sent, Stopped: Sent Copy Not Saved to Disk",
         {"two"}},
        {"not noted as sent",
         StoreStatus::kCannotWrite,
         StoreStatus::kOk,
         "「one」は送信しましたが、送信したことを記録できませんでした（送信待ちに残っているため、次の送信でもう一度送られます）"_sjis,
         "1 Messages Sent, Stopped: Sent Message Not Recorded on Disk",
         {"one", "two"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Client c;
        c.store.Wait(Composed("one", "a@x.jp", "1"));
        c.store.Wait(Composed("two", "a@x.jp", "2"));
        c.store.removeAnswer = row.noteAnswer;
        c.store.fileAnswer = row.fileAnswer;
        c.SendWaiting();
        c.Server(kGreeting + kOk + kOk + kOk + kGoAhead);
        EXPECT_EQ(c.Server("250 2.0.0 Ok: queued\r\n"), "QUIT\r\n") << "no second message";
        c.Server(kBye);
        EXPECT_EQ(c.notices, std::vector<std::string>{row.notice});
        EXPECT_EQ(c.LastStatus(), row.status);
        EXPECT_EQ(c.ended, SessionEnd::Failed);
        EXPECT_EQ(c.store.WaitingSubjects(), row.waiting);
        EXPECT_TRUE(c.store.sent.empty());
        EXPECT_EQ(c.session.Sent(), 1);
    }

    Client goneMeanwhile;
    goneMeanwhile.store.Wait(Composed("one", "a@x.jp", "1"));
    goneMeanwhile.SendWaiting();
    goneMeanwhile.store.waiting.clear(); // moved away by the user while it was sent
    goneMeanwhile.Server(kGreeting + kOk + Accepted(1) + kBye);
    EXPECT_TRUE(goneMeanwhile.notices.empty());
    EXPECT_EQ(goneMeanwhile.store.SentSubjects(), std::vector<std::string>{"one"});
}

} // namespace
} // namespace tegalo
