// The logins against a real POP3 server: a private Dovecot on 127.0.0.1 that
// offers APOP and SASL, started and stopped by each test.
#include "transfer/Pop3Session.h"

#include "tests/support/Dovecot.h"
#include "tests/support/FakeReceiveStore.h"
#include "tests/support/Pop3Client.h"

#include <gtest/gtest.h>

#include <iostream>

namespace tegalo {
namespace {

using pop3_test::DovecotServer;
using pop3_test::FakeReceiveStore;
using pop3_test::SessionRun;

class Pop3LoginDovecot : public ::testing::Test {
protected:
    void SetUp() override {
        DovecotServer::Options options;
        options.mechanisms = "plain login apop cram-md5 scram-sha-256";
        ASSERT_EQ(server_.Start({{"taro", "secret"}}, options), "");
        server_.Deliver("taro", "From: a@example.jp\r\nSubject: one\r\n\r\nbody\r\n");
    }
    void TearDown() override {
        if (HasFailure()) {
            std::cerr << "Dovecot's log:\n" << server_.Log();
        }
        server_.Stop();
    }

    SessionRun Receive(FakeReceiveStore& store, Pop3Login login, const std::string& password) {
        Pop3Session session(store, nullptr);
        Pop3Account account{"127.0.0.1", server_.Port(), "taro", password, true};
        account.login = login;
        const SessionRun run = pop3_test::RunPop3Session(session, account);
        EXPECT_FALSE(run.timedOut);
        return run;
    }

    DovecotServer server_;
};

TEST_F(Pop3LoginDovecot, EachLoginFetchesTheMessage) {
    const struct {
        const char* name;
        Pop3Login login;
        const char* command; // how the login starts on the wire
    } rows[] = {
        {"APOP with the greeting's timestamp", Pop3Login::Apop, "APOP taro "},
        {"automatic takes the strongest SASL mechanism", Pop3Login::Automatic, "AUTH SCRAM-SHA-256 "},
        {"USER and PASS", Pop3Login::UserPass, "USER taro\r\n"},
    };
    for (const auto& row : rows) {
        FakeReceiveStore store;
        const SessionRun run = Receive(store, row.login, "secret");
        EXPECT_EQ(run.ended, SessionEnd::Normal) << row.name << ": " << run.LastStatus();
        EXPECT_EQ(store.records.size(), 1u) << row.name;
        EXPECT_NE(run.sent.find(row.command), std::string::npos) << row.name << ":\n" << run.sent;
        if (row.login != Pop3Login::UserPass) {
            EXPECT_EQ(run.sent.find("secret"), std::string::npos) << row.name << ": the password never travels";
        }
    }
}

TEST_F(Pop3LoginDovecot, WrongPasswordIsRefused) {
    for (const Pop3Login login : {Pop3Login::Apop, Pop3Login::Automatic}) {
        FakeReceiveStore store;
        const SessionRun run = Receive(store, login, "wrong");
        EXPECT_EQ(run.ended, SessionEnd::Failed);
        EXPECT_EQ(run.LastStatus().rfind(LoginRefusedText("").substr(0, 20), 0), 0u) << run.LastStatus();
        EXPECT_TRUE(store.records.empty());
        EXPECT_EQ(server_.MessageCount("taro"), 1);
    }
}

} // namespace
} // namespace tegalo
