// The receive and send sessions with TLS and logins, fed by hand: STLS and
// STARTTLS, TLS from the start, APOP, SASL (AUTH) and their refusals, and the
// same conversations with the server's bytes cut at every place.
#include "transfer/Pop3Session.h"
#include "transfer/SaslClient.h"
#include "transfer/SmtpSession.h"

#include "tests/support/FakeReceiveStore.h"
#include "tests/support/FakeSendStore.h"
#include "text/unicode.h"

#include "tests/support/MessageIds.h"

#include <gtest/gtest.h>

#include <type_traits>
#include <variant>

namespace tegalo {
namespace {

using smtp_test::WithMessageIdsMasked;


using namespace tegalo::literals;
using pop3_test::FakeReceiveStore;
using pop3_test::FakeUidlStore;
using smtp_test::Composed;
using smtp_test::FakeSendStore;

// What the session asked of the adapter, gathered over a conversation.
struct Seen {
    std::string sent;
    std::vector<std::string> status;
    bool tlsFromStart = false;
    int startTls = 0;      // handshakes asked for
    std::string sentAtTls; // what had been sent when the last handshake was asked for
    bool closed = false;
    SessionEnd ended = SessionEnd::None;

    template <typename Output>
    void Take(const Output& out) {
        if (out.connect) {
            tlsFromStart = out.tls;
        }
        sent += out.send;
        status.insert(status.end(), out.statusTexts.begin(), out.statusTexts.end());
        if (out.startTls) {
            ++startTls;
            sentAtTls = sent;
        }
        closed = closed || out.close;
        if (out.ended != SessionEnd::None) {
            ended = out.ended;
        }
    }
    std::string LastStatus() const { return status.empty() ? std::string() : status.back(); }
};

// A conversation: the server's bytes, and the points where the handshake
// ends (kTls).
struct TlsDone {};
using Step = std::variant<std::string, TlsDone>;
const Step kTls = TlsDone{};

// Feeds `steps` to `session`, each run of server bytes cut at `cut` bytes
// (0: whole).
template <typename Session>
void Feed(Session& session, Seen& seen, const std::vector<Step>& steps, std::size_t cut) {
    for (const Step& step : steps) {
        if (std::holds_alternative<TlsDone>(step)) {
            seen.Take(session.OnTlsStarted());
            continue;
        }
        std::string_view all = std::get<std::string>(step);
        // An SMTP server answers in turn: each reply comes once the one
        // before was answered (a reply sent ahead of its command is out of
        // turn). POP3 runs are fed as they are.
        std::vector<std::string_view> runs;
        if constexpr (std::is_same_v<Session, SmtpSession>) {
            std::size_t from = 0;
            for (std::size_t at = 0; at < all.size();) {
                const std::size_t lf = all.find('\n', at);
                if (lf == std::string_view::npos) {
                    break;
                }
                const bool continues = lf - at >= 4 && all[at + 3] == '-';
                at = lf + 1;
                if (!continues) {
                    runs.push_back(all.substr(from, at - from));
                    from = at;
                }
            }
            if (from < all.size()) {
                runs.push_back(all.substr(from));
            }
        } else {
            runs.push_back(all);
        }
        for (std::string_view bytes : runs) {
            while (!bytes.empty()) {
                const std::size_t n = cut == 0 ? bytes.size() : std::min(cut, bytes.size());
                seen.Take(session.ReadArrival(bytes.substr(0, n)));
                bytes.remove_prefix(n);
            }
        }
    }
}

Pop3Account PopAccount(Security security, Pop3Login login) {
    Pop3Account account{"pop.example.jp", 110, "taro", "secret", true};
    account.security = security;
    account.login = login;
    return account;
}

struct PopRun {
    FakeReceiveStore store;
    FakeUidlStore uidl;
    Pop3Session session{store, &uidl};
    Seen seen;
};

std::unique_ptr<PopRun> RunPop(const Pop3Account& account, const std::vector<Step>& steps, std::size_t cut = 0) {
    auto run = std::make_unique<PopRun>();
    run->seen.Take(run->session.StartReceive(account));
    run->seen.Take(run->session.OnServerConnect());
    Feed(run->session, run->seen, steps, cut);
    return run;
}

const std::string kPopEnd = "+OK 0 0\r\n+OK bye\r\n";

TEST(Pop3Tls, StlsThenLoginInsideTls) {
    const std::vector<Step> steps = {
        "+OK ready\r\n+OK\r\nSTLS\r\nSASL PLAIN\r\n.\r\n",
        // Bytes after the go-ahead, in the clear: someone on the way may have
        // put them there, so they are never read.
        "+OK Begin TLS\r\n+OK injected\r\n-ERR injected\r\n",
        "-ERR still in the clear\r\n",
        kTls,
        "+OK\r\n+OK logged in\r\n" + kPopEnd,
    };
    const auto run = RunPop(PopAccount(Security::StartTls, Pop3Login::UserPass), steps);
    EXPECT_FALSE(run->seen.tlsFromStart);
    EXPECT_EQ(run->seen.startTls, 1);
    EXPECT_EQ(run->seen.sentAtTls, "CAPA\r\nSTLS\r\n") << "nothing about the user before the handshake";
    EXPECT_EQ(run->seen.sent, "CAPA\r\nSTLS\r\nUSER taro\r\nPASS secret\r\nSTAT\r\nQUIT\r\n");
    EXPECT_EQ(run->seen.LastStatus(), "No New Message");
    EXPECT_EQ(run->seen.ended, SessionEnd::Normal);

    // Any cut of the server's bytes gives the same conversation.
    for (std::size_t cut = 1; cut < 40; ++cut) {
        const auto split = RunPop(PopAccount(Security::StartTls, Pop3Login::UserPass), steps, cut);
        ASSERT_EQ(WithMessageIdsMasked(split->seen.sent), WithMessageIdsMasked(run->seen.sent)) << "pieces of " << cut;
        ASSERT_EQ(split->seen.sentAtTls, run->seen.sentAtTls) << "pieces of " << cut;
        ASSERT_EQ(split->seen.status, run->seen.status) << "pieces of " << cut;
    }
}

TEST(Pop3Tls, CapabilitiesAskedAgainAfterTheHandshake) {
    // In the clear the server seems to offer only PLAIN; inside TLS it
    // offers more, and only what it says there counts.
    const auto run = RunPop(PopAccount(Security::StartTls, Pop3Login::Automatic),
                            {"+OK ready\r\n+OK\r\nSTLS\r\nSASL PLAIN\r\n.\r\n+OK Begin TLS\r\n", kTls,
                             "+OK\r\nSASL PLAIN LOGIN\r\n.\r\n+OK logged in\r\n" + kPopEnd});
    EXPECT_EQ(run->seen.sent, "CAPA\r\nSTLS\r\nCAPA\r\nAUTH PLAIN AHRhcm8Ac2VjcmV0\r\nSTAT\r\nQUIT\r\n");
}

TEST(Pop3Tls, ServerWithoutStlsGetsNothing) {
    const auto run = RunPop(PopAccount(Security::StartTls, Pop3Login::UserPass),
                            {"+OK ready\r\n+OK\r\nUIDL\r\nSASL PLAIN\r\n.\r\n+OK bye\r\n"});
    EXPECT_EQ(run->seen.sent, "CAPA\r\nQUIT\r\n");
    EXPECT_EQ(run->seen.startTls, 0);
    EXPECT_EQ(run->seen.status.back(), "STLS Not Offered by the Server: Nothing Sent");
    EXPECT_EQ(run->seen.ended, SessionEnd::Failed);

    // STLS refused by a server that does not answer CAPA.
    const auto refused =
        RunPop(PopAccount(Security::StartTls, Pop3Login::UserPass), {"+OK ready\r\n-ERR\r\n-ERR no\r\n+OK bye\r\n"});
    EXPECT_EQ(refused->seen.sent, "CAPA\r\nSTLS\r\nQUIT\r\n");
    EXPECT_EQ(refused->seen.ended, SessionEnd::Failed);
}

TEST(Pop3Tls, FailedHandshakeEndsWithoutAWord) {
    auto run = RunPop(PopAccount(Security::StartTls, Pop3Login::UserPass),
                      {"+OK ready\r\n+OK\r\nSTLS\r\n.\r\n+OK Begin TLS\r\n"});
    run->seen.Take(run->session.OnTlsFailed("certificate refused"));
    EXPECT_EQ(run->seen.sent, "CAPA\r\nSTLS\r\n");
    EXPECT_TRUE(run->seen.closed);
    EXPECT_EQ(run->seen.ended, SessionEnd::Failed);
    EXPECT_EQ(run->seen.LastStatus(), "TLS Failed: certificate refused");
    EXPECT_FALSE(run->session.Busy());

    // TLS from the start: the handshake fails before the session starts.
    PopRun direct;
    direct.seen.Take(direct.session.StartReceive(PopAccount(Security::Implicit, Pop3Login::UserPass)));
    EXPECT_TRUE(direct.seen.tlsFromStart);
    direct.seen.Take(direct.session.OnTlsFailed("handshake failed"));
    EXPECT_EQ(direct.seen.LastStatus(), "Server Connection Failed: handshake failed");
    EXPECT_EQ(direct.seen.ended, SessionEnd::Failed);
    EXPECT_TRUE(direct.seen.sent.empty());
}

TEST(Pop3Tls, TlsFromTheStart) {
    const auto run = RunPop(PopAccount(Security::Implicit, Pop3Login::UserPass),
                            {"+OK ready\r\n+OK\r\n+OK logged in\r\n" + kPopEnd});
    EXPECT_TRUE(run->seen.tlsFromStart);
    EXPECT_TRUE(run->session.Encrypted() || !run->session.Busy());
    EXPECT_EQ(run->seen.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nQUIT\r\n");
}

TEST(Pop3Login, ApopAndSasl) {
    // RFC 1939's own example.
    EXPECT_EQ(ApopDigest("<1896.697170952@dbc.mtview.ca.us>", "tanstaaf"), "c4c9334bac560ecc979e58001b3e22fb");
    EXPECT_EQ(ApopTimestamp("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>"),
              "<1896.697170952@dbc.mtview.ca.us>");
    EXPECT_EQ(ApopTimestamp("+OK ready <no-at-sign>"), "");
    EXPECT_EQ(ApopTimestamp("+OK ready"), "");

    const std::string greeting = "+OK ready <1.2@pop.example.jp>\r\n";
    const struct {
        const char* name;
        Pop3Login login;
        std::vector<Step> steps;
        std::string sent;
        SessionEnd ended;
    } rows[] = {
        {"APOP",
         Pop3Login::Apop,
         {greeting + "+OK\r\n" + kPopEnd},
         "APOP taro " + ApopDigest("<1.2@pop.example.jp>", "secret") + "\r\nSTAT\r\nQUIT\r\n",
         SessionEnd::Normal},
        {"APOP without a timestamp", Pop3Login::Apop, {"+OK ready\r\n+OK bye\r\n"}, "QUIT\r\n", SessionEnd::Failed},
        {"automatic takes SASL first",
         Pop3Login::Automatic,
         {greeting + "+OK\r\nSASL LOGIN PLAIN\r\n.\r\n+OK\r\n" + kPopEnd},
         "CAPA\r\nAUTH PLAIN AHRhcm8Ac2VjcmV0\r\nSTAT\r\nQUIT\r\n",
         SessionEnd::Normal},
        {"automatic without SASL takes APOP",
         Pop3Login::Automatic,
         {greeting + "-ERR\r\n+OK\r\n" + kPopEnd},
         "CAPA\r\nAPOP taro " + ApopDigest("<1.2@pop.example.jp>", "secret") + "\r\nSTAT\r\nQUIT\r\n",
         SessionEnd::Normal},
        {"automatic with neither takes USER",
         Pop3Login::Automatic,
         {"+OK ready\r\n+OK\r\nUSER\r\n.\r\n+OK\r\n+OK\r\n" + kPopEnd},
         "CAPA\r\nUSER taro\r\nPASS secret\r\nSTAT\r\nQUIT\r\n",
         SessionEnd::Normal},
        {"LOGIN answers each challenge",
         Pop3Login::Automatic,
         {"+OK ready\r\n+OK\r\nSASL LOGIN\r\n.\r\n+ VXNlcm5hbWU6\r\n+ UGFzc3dvcmQ6\r\n+OK\r\n" + kPopEnd},
         "CAPA\r\nAUTH LOGIN\r\ndGFybw==\r\nc2VjcmV0\r\nSTAT\r\nQUIT\r\n",
         SessionEnd::Normal},
        {"refused SASL",
         Pop3Login::Automatic,
         {"+OK ready\r\n+OK\r\nSASL PLAIN\r\n.\r\n-ERR [AUTH] Authentication failed.\r\n+OK bye\r\n"},
         "CAPA\r\nAUTH PLAIN AHRhcm8Ac2VjcmV0\r\nQUIT\r\n",
         SessionEnd::Failed},
        {"refused APOP",
         Pop3Login::Apop,
         {greeting + "-ERR [AUTH] Authentication failed.\r\n+OK bye\r\n"},
         "APOP taro " + ApopDigest("<1.2@pop.example.jp>", "secret") + "\r\nQUIT\r\n",
         SessionEnd::Failed},
    };
    for (const auto& row : rows) {
        const auto run = RunPop(PopAccount(Security::None, row.login), row.steps);
        EXPECT_EQ(run->seen.sent, row.sent) << row.name;
        EXPECT_EQ(run->seen.ended, row.ended) << row.name;
    }
    const auto refused = RunPop(PopAccount(Security::None, Pop3Login::Apop),
                                {greeting + "-ERR [AUTH] Authentication failed.\r\n+OK bye\r\n"});
    EXPECT_EQ(refused->seen.LastStatus(), LoginRefusedText("-ERR [AUTH] Authentication failed."));
    EXPECT_NE(refused->seen.LastStatus().find("ユーザ名またはパスワードが拒否されました"_sjis), std::string::npos);
}

TEST(Pop3Login, CramMd5AsInRfc2195) {
    Pop3Account account = PopAccount(Security::None, Pop3Login::Automatic);
    account.userName = "tim";
    account.password = "tanstaaftanstaaf";
    const auto run = RunPop(account, {"+OK ready\r\n+OK\r\nSASL CRAM-MD5 PLAIN\r\n.\r\n"
                                      "+ PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n+OK\r\n" +
                                      kPopEnd});
    EXPECT_EQ(run->seen.sent, "CAPA\r\nAUTH CRAM-MD5\r\ndGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw\r\n"
                              "STAT\r\nQUIT\r\n");
}

// The ids belong to the user on the host: the same account on another port,
// or with TLS, fetches nothing it already has.
TEST(Pop3Login, KeptIdsFollowTheAccountToAnotherPort) {
    for (const char* stored : {"taro@pop.example.jp:110", "taro@pop.example.jp"}) {
        PopRun run;
        run.uidl.list = UidlList{stored, {{"a1", UidlMark::Stored}}};
        Pop3Account account = PopAccount(Security::Implicit, Pop3Login::UserPass);
        account.pop3Port = 995;
        run.seen.Take(run.session.StartReceive(account));
        run.seen.Take(run.session.OnServerConnect());
        Feed(run.session, run.seen, {"+OK\r\n+OK\r\n+OK\r\n+OK 1 0\r\n+OK\r\n1 a1\r\n.\r\n+OK bye\r\n"}, 0);
        EXPECT_EQ(run.seen.sent, "USER taro\r\nPASS secret\r\nSTAT\r\nUIDL\r\nQUIT\r\n") << stored;
        EXPECT_TRUE(run.store.records.empty()) << stored;
    }
    // Another host, or a port-like tail that is not a port, is another account.
    for (const char* other : {"taro@pop.example.jp:x", "taro@pop.example.jpx", "taro@pop.example.j"}) {
        PopRun run;
        run.uidl.list = UidlList{other, {{"a1", UidlMark::Stored}}};
        run.seen.Take(run.session.StartReceive(PopAccount(Security::None, Pop3Login::UserPass)));
        run.seen.Take(run.session.OnServerConnect());
        Feed(run.session, run.seen, {"+OK\r\n+OK\r\n+OK\r\n+OK 1 0\r\n+OK\r\n1 a1\r\n.\r\n"}, 0);
        EXPECT_EQ(run.seen.sent.substr(run.seen.sent.size() - 8), "RETR 1\r\n") << other;
    }
}

SmtpAccount MailAccount(Security security, SmtpLogin login, int port = 587) {
    SmtpAccount account{"pop.example.jp", "smtp.example.jp", port, "taro@example.jp", "Taro"};
    account.security = security;
    account.login = login;
    account.userName = "taro";
    account.password = "secret";
    return account;
}

struct SmtpRun {
    FakeSendStore store;
    SmtpSession session{store, [] { return LocalTime{2026, 12, 7, 10, 0, 0, 1, 540}; }};
    Seen seen;
};

std::unique_ptr<SmtpRun> RunSmtp(const SmtpAccount& account, const std::vector<Step>& steps, std::size_t cut = 0) {
    auto run = std::make_unique<SmtpRun>();
    run->store.Wait(Composed("one", "hanako@example.jp", "text"));
    run->seen.Take(run->session.SendWaiting(account));
    run->seen.Take(run->session.OnServerConnect());
    Feed(run->session, run->seen, steps, cut);
    return run;
}

const std::string kEhloTls = "250-smtp.example.jp\r\n250-PIPELINING\r\n250 STARTTLS\r\n";
const std::string kEhloAuth = "250-smtp.example.jp\r\n250-AUTH PLAIN LOGIN CRAM-MD5\r\n250 8BITMIME\r\n";
const std::string kAccepted = "250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n221 bye\r\n";

// Where the message text starts in what the client sent.
std::string Commands(const std::string& sent) {
    return sent.substr(0, sent.find("\r\n\r\n") == std::string::npos ? sent.size() : sent.find("DATA\r\n") + 6);
}

TEST(SmtpTls, StartTlsThenEhloAgainThenLogin) {
    const std::vector<Step> steps = {
        "220 smtp.example.jp ESMTP\r\n" + kEhloTls,
        "220 2.0.0 Ready to start TLS\r\n250 injected\r\n",
        "235 injected too\r\n",
        kTls,
        kEhloAuth + "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n235 2.7.0 ok\r\n" + kAccepted,
    };
    SmtpAccount account = MailAccount(Security::StartTls, SmtpLogin::Automatic);
    account.userName = "tim";
    account.password = "tanstaaftanstaaf";
    const auto run = RunSmtp(account, steps);
    EXPECT_EQ(run->seen.sentAtTls, "EHLO example.jp\r\nSTARTTLS\r\n");
    EXPECT_EQ(Commands(run->seen.sent), "EHLO example.jp\r\nSTARTTLS\r\nEHLO example.jp\r\nAUTH CRAM-MD5\r\n"
                                        "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw\r\n"
                                        "MAIL FROM:<taro@example.jp>\r\nRCPT TO:<hanako@example.jp>\r\nDATA\r\n");
    EXPECT_EQ(run->seen.LastStatus(), "1 Messages Sent");
    EXPECT_TRUE(run->store.WaitingSubjects().empty());

    for (std::size_t cut = 1; cut < 60; ++cut) {
        const auto split = RunSmtp(account, steps, cut);
        ASSERT_EQ(WithMessageIdsMasked(split->seen.sent), WithMessageIdsMasked(run->seen.sent)) << "pieces of " << cut;
        ASSERT_EQ(split->seen.sentAtTls, run->seen.sentAtTls) << "pieces of " << cut;
        ASSERT_EQ(split->seen.status, run->seen.status) << "pieces of " << cut;
    }
}

TEST(SmtpTls, NoStartTlsOfferedMeansNothingSent) {
    const auto run = RunSmtp(MailAccount(Security::StartTls, SmtpLogin::Plain),
                             {"220 smtp.example.jp ESMTP\r\n" + kEhloAuth + "221 bye\r\n"});
    EXPECT_EQ(run->seen.sent, "EHLO example.jp\r\nQUIT\r\n");
    EXPECT_EQ(run->seen.status.back(), "STARTTLS Not Offered by the Server: Nothing Sent");
    EXPECT_EQ(run->seen.ended, SessionEnd::Failed);
    EXPECT_EQ(run->store.WaitingSubjects(), std::vector<std::string>{"one"});
}

TEST(SmtpLogin, Mechanisms) {
    const struct {
        const char* name;
        Security security;
        SmtpLogin login;
        std::string server;
        std::string commands;
    } rows[] = {
        {"PLAIN with an initial response", Security::Implicit, SmtpLogin::Plain, kEhloAuth + "235 ok\r\n" + kAccepted,
         "AUTH PLAIN AHRhcm8Ac2VjcmV0\r\n"},
        {"LOGIN answers each challenge", Security::Implicit, SmtpLogin::Login,
         kEhloAuth + "334 VXNlcm5hbWU6\r\n334 UGFzc3dvcmQ6\r\n235 ok\r\n" + kAccepted,
         "AUTH LOGIN\r\ndGFybw==\r\nc2VjcmV0\r\n"},
        {"automatic without AUTH sends without login", Security::None, SmtpLogin::Automatic,
         "250-smtp.example.jp\r\n250 8BITMIME\r\n" + kAccepted, ""},
        {"AUTH= of older servers", Security::Implicit, SmtpLogin::Plain,
         "250-smtp.example.jp\r\n250 AUTH=PLAIN\r\n235 ok\r\n" + kAccepted, "AUTH PLAIN AHRhcm8Ac2VjcmV0\r\n"},
    };
    for (const auto& row : rows) {
        const auto run = RunSmtp(MailAccount(row.security, row.login), {"220 ready\r\n" + row.server});
        EXPECT_EQ(Commands(run->seen.sent),
                  "EHLO example.jp\r\n" + row.commands +
                      "MAIL FROM:<taro@example.jp>\r\nRCPT TO:<hanako@example.jp>\r\nDATA\r\n")
            << row.name;
        EXPECT_EQ(run->seen.LastStatus(), "1 Messages Sent") << row.name;
    }

    const auto missing = RunSmtp(MailAccount(Security::Implicit, SmtpLogin::CramMd5),
                                 {"220 ready\r\n250-smtp.example.jp\r\n250 AUTH PLAIN\r\n221 bye\r\n"});
    EXPECT_EQ(missing->seen.sent, "EHLO example.jp\r\nQUIT\r\n") << "no password for a mechanism not offered";
    EXPECT_EQ(missing->seen.ended, SessionEnd::Failed);
}

TEST(SmtpLogin, RefusedLoginKeepsTheMessagesWaiting) {
    const auto run =
        RunSmtp(MailAccount(Security::Implicit, SmtpLogin::Plain),
                {"220 ready\r\n" + kEhloAuth + "535 5.7.8 Authentication credentials invalid\r\n221 bye\r\n"});
    EXPECT_EQ(run->seen.sent, "EHLO example.jp\r\nAUTH PLAIN AHRhcm8Ac2VjcmV0\r\nQUIT\r\n");
    EXPECT_EQ(run->seen.LastStatus(), SmtpLoginRefusedText("535 5.7.8 Authentication credentials invalid"));
    EXPECT_NE(run->seen.LastStatus().find("ユーザ名またはパスワードが拒否されました"_sjis), std::string::npos);
    EXPECT_EQ(run->seen.ended, SessionEnd::Failed);
    EXPECT_EQ(run->store.WaitingSubjects(), std::vector<std::string>{"one"});
    EXPECT_TRUE(run->store.SentSubjects().empty());
}

TEST(SmtpLogin, RefusalOnPort25ExplainsTheSubmissionPort) {
    const auto run = RunSmtp(MailAccount(Security::None, SmtpLogin::None, 25),
                             {"220 ready\r\n250 smtp.example.jp\r\n250 ok\r\n554 5.7.1 Relay access denied\r\n"
                              "221 bye\r\n"});
    EXPECT_NE(run->seen.status.end()[-2].find(SubmissionPortHint()), std::string::npos);
    EXPECT_EQ(run->store.WaitingSubjects(), std::vector<std::string>{"one"});

    // On the submission port the same refusal is only the server's.
    const auto submission = RunSmtp(MailAccount(Security::None, SmtpLogin::None, 587),
                                    {"220 ready\r\n250 smtp.example.jp\r\n250 ok\r\n554 5.7.1 Relay access denied\r\n"
                                     "221 bye\r\n"});
    EXPECT_EQ(submission->seen.status.end()[-2].find(SubmissionPortHint()), std::string::npos);

    // A connection to port 25 that fails.
    SmtpRun blocked;
    blocked.store.Wait(Composed("one", "hanako@example.jp", "text"));
    blocked.seen.Take(blocked.session.SendWaiting(MailAccount(Security::None, SmtpLogin::None, 25)));
    blocked.seen.Take(blocked.session.OnConnectFailed("Connection timed out"));
    EXPECT_NE(blocked.seen.LastStatus().find(SubmissionPortHint()), std::string::npos);

    SmtpRun unknown;
    unknown.store.Wait(Composed("one", "hanako@example.jp", "text"));
    unknown.seen.Take(unknown.session.SendWaiting(MailAccount(Security::None, SmtpLogin::None, 25)));
    unknown.seen.Take(unknown.session.OnConnectFailed("Host not found"));
    EXPECT_EQ(unknown.seen.LastStatus(), "Server Connection Failed: Host not found");
}

TEST(SaslClient, StrongestMechanismAndWords) {
    EXPECT_EQ(StrongestSaslMechanism({"LOGIN", "PLAIN"}), "PLAIN");
    EXPECT_EQ(StrongestSaslMechanism({"plain", "cram-md5"}), "CRAM-MD5");
    EXPECT_EQ(StrongestSaslMechanism({"PLAIN", "SCRAM-SHA-256", "CRAM-MD5"}), "SCRAM-SHA-256");
    EXPECT_EQ(StrongestSaslMechanism({"GSSAPI", "XOAUTH2"}), "");
    EXPECT_EQ(SaslWords("AUTH plain  LOGIN"), (std::vector<std::string>{"PLAIN", "LOGIN"}));
    EXPECT_EQ(SaslWords("AUTH=PLAIN"), std::vector<std::string>{"PLAIN"});
    EXPECT_EQ(SaslWords("SASL"), std::vector<std::string>{});
}

} // namespace
} // namespace tegalo
