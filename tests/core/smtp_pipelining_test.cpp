// MAIL FROM, RCPT TO and DATA as one group with a server whose EHLO answer
// offers PIPELINING: replies matched in turn whatever the arrivals, a refusal
// anywhere in the group keeps the message waiting, and the text never goes
// to only some of the recipients.
#include "transfer/SmtpSession.h"

#include "tests/support/FakeSendStore.h"

#include "tests/support/MessageIds.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tegalo {
namespace {

using smtp_test::Composed;
using smtp_test::FakeSendStore;

constexpr LocalTime kNow{2026, 12, 7, 10, 0, 0, 1, 540};

struct Client {
    FakeSendStore store;
    SmtpSession session{store, [] { return kNow; }};
    std::vector<std::string> status;
    std::string sent;
    bool closed = false;
    SessionEnd ended = SessionEnd::None;

    std::string Take(SmtpOutput out) {
        status.insert(status.end(), out.statusTexts.begin(), out.statusTexts.end());
        sent += out.send;
        closed = closed || out.close;
        if (out.ended != SessionEnd::None) {
            ended = out.ended;
        }
        return out.send;
    }
    void SendWaiting() {
        Take(session.SendWaiting({"pop.example.jp", "smtp.example.jp", 587, "taro@example.jp", "Taro"}));
        Take(session.OnServerConnect());
    }
    std::string Server(std::string_view bytes) { return Take(session.ReadArrival(bytes)); }
};

const std::string kGreeting = "220 smtp.example.jp ESMTP\r\n";
const std::string kEhlo = "250-smtp.example.jp\r\n250-SIZE 10240000\r\n250-PIPELINING\r\n250 8BITMIME\r\n";
const std::string kOk = "250 2.0.0 Ok\r\n";
const std::string kGoAhead = "354 End data with <CR><LF>.<CR><LF>\r\n";
const std::string kQueued = "250 2.0.0 Ok: queued\r\n";
const std::string kBye = "221 2.0.0 Bye\r\n";

using smtp_test::WithMessageIdsMasked;

std::string Recipients(int count) {
    std::string list;
    for (int i = 0; i < count; ++i) {
        list += (i > 0 ? ", r" : "r") + std::to_string(i) + "@example.jp";
    }
    return list;
}

std::string Rcpts(int from, int to) {
    std::string out;
    for (int i = from; i < to; ++i) {
        out += "RCPT TO:<r" + std::to_string(i) + "@example.jp>\r\n";
    }
    return out;
}

// The text after DATA, up to and with its "." line.
std::string MessageText(const std::string& sent, std::size_t from) {
    const std::size_t start = sent.find("DATA\r\n", from);
    const std::size_t end = sent.find("\r\n.\r\n", start);
    return sent.substr(start + 6, end + 5 - start - 6);
}

TEST(SmtpPipelining, GroupsInAWindowAndAnyArrivalsGiveTheSameResult) {
    // Message 1: two recipients, one group. Message 2: 20 recipients, more
    // than a window: each reply lets one more command go.
    Client step;
    step.store.Wait(Composed("one", Recipients(2), "1"));
    step.store.Wait(Composed("two", Recipients(20), "2"));
    step.SendWaiting();
    step.Server(kGreeting);
    EXPECT_EQ(step.Server(kEhlo), "MAIL FROM:<taro@example.jp>\r\n" + Rcpts(0, 2) + "DATA\r\n");
    EXPECT_EQ(step.Server(kOk + kOk), "") << "DATA still unanswered";
    EXPECT_EQ(step.session.State(), SmtpState::LastRcptSent);
    EXPECT_EQ(step.Server(kOk), "");
    EXPECT_EQ(step.session.State(), SmtpState::DataSent);
    EXPECT_EQ(step.Server(kGoAhead).substr(0, 5), "Date:");
    EXPECT_EQ(step.Server(kQueued), "MAIL FROM:<taro@example.jp>\r\n" + Rcpts(0, 15));
    EXPECT_EQ(step.Server(kOk), Rcpts(15, 16));
    EXPECT_EQ(step.Server(kOk + kOk + kOk + kOk), Rcpts(16, 20)) << "DATA waits for room in the window";
    std::string rest;
    for (int i = 0; i < 16; ++i) {
        rest += step.Server(kOk);
    }
    EXPECT_EQ(rest, "DATA\r\n");
    EXPECT_NE(step.Server(kGoAhead).find("\r\n.\r\n"), std::string::npos);
    EXPECT_EQ(step.Server(kQueued), "QUIT\r\n");
    EXPECT_EQ(step.status.back(), "2 Messages Sent");
    EXPECT_TRUE(step.store.waiting.empty());

    // The server answers only what it was sent: the replies owed at a time
    // go out together, cut wherever a cut falls.
    std::vector<std::string> replies = {kGreeting, kEhlo, kOk, kOk, kOk, kGoAhead, kQueued, kOk};
    for (int i = 0; i < 20; ++i) {
        replies.push_back(kOk);
    }
    replies.insert(replies.end(), {kGoAhead, kQueued, kBye});
    std::string stream;
    for (const std::string& reply : replies) {
        stream += reply;
    }
    const auto run = [&](const std::vector<std::size_t>& cuts) {
        Client c;
        c.store.Wait(Composed("one", Recipients(2), "1"));
        c.store.Wait(Composed("two", Recipients(20), "2"));
        c.SendWaiting();
        std::size_t next = 0; // the next reply
        std::size_t at = 0;   // its offset in the stream
        std::size_t due = 1;  // the greeting
        while (next < replies.size() && due > 0) {
            std::size_t end = at;
            for (; due > 0 && next < replies.size(); --due) {
                end += replies[next++].size();
            }
            std::size_t from = at;
            for (const std::size_t cut : cuts) {
                if (cut > from && cut < end) {
                    c.Server(std::string_view(stream).substr(from, cut - from));
                    from = cut;
                }
            }
            c.Server(std::string_view(stream).substr(from, end - from));
            at = end;
            due = c.session.RepliesDue();
        }
        EXPECT_TRUE(c.closed);
        EXPECT_EQ(c.ended, SessionEnd::Normal);
        EXPECT_EQ(c.store.SentSubjects(), (std::vector<std::string>{"one", "two"}));
        return WithMessageIdsMasked(c.sent);
    };
    const std::string expected = run({});
    EXPECT_EQ(MessageText(expected, 0), MessageText(WithMessageIdsMasked(step.sent), 0));
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        ASSERT_EQ(run({cut}), expected) << "split at " << cut;
    }
    std::vector<std::size_t> bytes;
    for (std::size_t at = 1; at < stream.size(); ++at) {
        bytes.push_back(at);
    }
    EXPECT_EQ(run(bytes), expected) << "one byte at a time";
}

TEST(SmtpPipelining, RefusalInTheGroupKeepsTheMessageWaiting) {
    // A refused RCPT TO; the server refuses DATA too: RSET, then the next
    // message goes as a group again.
    {
        Client c;
        c.store.Wait(Composed("first", Recipients(2), "1"));
        c.store.Wait(Composed("second", Recipients(1), "2"));
        c.SendWaiting();
        c.Server(kGreeting);
        c.Server(kEhlo);
        EXPECT_EQ(c.Server(kOk + "550 5.1.1 no such user\r\n" + kOk), "");
        EXPECT_EQ(c.Server("554 5.5.1 no valid recipients\r\n"), "RSET\r\n");
        EXPECT_EQ(c.status.back().substr(0, 24), "3 550 5.1.1 no such user") << "the first refusal is shown";
        EXPECT_EQ(c.Server(kOk), "MAIL FROM:<taro@example.jp>\r\n" + Rcpts(0, 1) + "DATA\r\n");
        c.Server(kOk + kOk + kGoAhead);
        EXPECT_EQ(c.Server(kQueued), "QUIT\r\n");
        EXPECT_EQ(c.store.WaitingSubjects(), std::vector<std::string>{"first"});
        EXPECT_EQ(c.store.SentSubjects(), std::vector<std::string>{"second"});
    }
    // A refused MAIL FROM seen before the window let DATA go: no DATA at all.
    {
        Client c;
        c.store.Wait(Composed("many", Recipients(20), "1"));
        c.SendWaiting();
        c.Server(kGreeting);
        c.Server(kEhlo);
        std::string replies = "550 5.7.1 sender refused\r\n";
        for (int i = 0; i < 15; ++i) {
            replies += "503 5.5.1 need MAIL\r\n";
        }
        EXPECT_EQ(c.Server(replies), "QUIT\r\n");
        EXPECT_EQ(c.sent.find("DATA"), std::string::npos);
        EXPECT_EQ(c.sent.find("r15@"), std::string::npos) << "nothing more after the refusal";
        EXPECT_EQ(c.session.Refused(), 1);
    }
    // One recipient refused, yet DATA answered 354: the text must reach
    // nobody, so the connection closes without it.
    {
        Client c;
        c.store.Wait(Composed("first", Recipients(2), "1"));
        c.store.Wait(Composed("second", Recipients(1), "2"));
        c.SendWaiting();
        c.Server(kGreeting);
        c.Server(kEhlo);
        EXPECT_EQ(c.Server(kOk + kOk + "550 5.1.1 no such user\r\n" + kGoAhead), "");
        EXPECT_TRUE(c.closed);
        EXPECT_EQ(c.ended, SessionEnd::Failed);
        EXPECT_EQ(c.status.back().substr(0, 24), "4 550 5.1.1 no such user");
        EXPECT_EQ(c.store.WaitingSubjects(), (std::vector<std::string>{"first", "second"}));
        EXPECT_TRUE(c.store.sent.empty());
    }
}

TEST(SmtpPipelining, WithoutPipeliningOneCommandAtATime) {
    Client c;
    c.store.Wait(Composed("one", Recipients(2), "1"));
    c.SendWaiting();
    c.Server(kGreeting);
    EXPECT_EQ(c.Server("250-smtp.example.jp\r\n250 8BITMIME\r\n"), "MAIL FROM:<taro@example.jp>\r\n");
    EXPECT_EQ(c.Server(kOk), Rcpts(0, 1));
    EXPECT_EQ(c.Server(kOk), Rcpts(1, 2));
    EXPECT_EQ(c.Server(kOk), "DATA\r\n");
}

} // namespace
} // namespace tegalo
