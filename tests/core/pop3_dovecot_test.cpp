// The receive session against a real POP3 server: a private Dovecot on
// 127.0.0.1, started and stopped by each test.
#include "transfer/Pop3Session.h"

#include "tests/support/Dovecot.h"
#include "tests/support/FakeReceiveStore.h"
#include "tests/support/Pop3Client.h"
#include "text/unicode.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace tegalo {
namespace {

using pop3_test::DovecotServer;
using pop3_test::FakeReceiveStore;
using pop3_test::SessionRun;

std::string Sjis(std::string_view utf8) {
    return SjisLiteral(utf8);
}

std::string TestMessage(const std::string& name) {
    std::ifstream in(std::string(TEGALO_TEST_DATA) + "/pop3/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_FALSE(text.str().empty()) << name;
    return text.str();
}

std::string PlainMessage(int n) {
    return "From: a@example.jp\r\nSubject: message " + std::to_string(n) +
           "\r\nContent-Type: text/plain\r\n\r\nbody " + std::to_string(n) + "\r\n";
}

class Pop3Dovecot : public ::testing::Test {
protected:
    void SetUp() override {
        // No dovecot binary fails the test: CI installs dovecot-pop3d.
        ASSERT_EQ(server_.Start({{"taro", "secret"}}), "");
        work_ = server_.Directory() + "/work";
        std::filesystem::create_directories(work_);
    }
    void TearDown() override {
        if (HasFailure()) {
            std::cerr << "Dovecot's log:\n" << server_.Log();
        }
        server_.Stop();
    }

    // One session into `store`, remembering ids in the test's own recv.uidl.
    SessionRun Receive(FakeReceiveStore& store, bool keepOnServer, const std::string& password = "secret") {
        UidlFile uidl(work_);
        Pop3Session session(store, &uidl);
        const SessionRun run =
            pop3_test::RunPop3Session(session, {"127.0.0.1", server_.Port(), "taro", password, keepOnServer});
        EXPECT_FALSE(run.timedOut) << server_.Log();
        return run;
    }

    DovecotServer server_;
    std::string work_;
};

TEST_F(Pop3Dovecot, EmptyMailbox) {
    FakeReceiveStore store;
    const SessionRun run = Receive(store, false);
    EXPECT_EQ(run.statusTexts, (std::vector<std::string>{"Server Connection OK", "No New Message"}));
    EXPECT_EQ(run.ended, SessionEnd::Normal);
    EXPECT_TRUE(store.records.empty());
}

TEST_F(Pop3Dovecot, TwoMessagesFetchedAndDeleted) {
    server_.Deliver("taro", PlainMessage(1));
    server_.Deliver("taro", PlainMessage(2));
    FakeReceiveStore store;
    const SessionRun run = Receive(store, false);
    EXPECT_EQ(run.LastStatus(), "2 Messages Received! Server messages Deleted");
    EXPECT_EQ(run.ended, SessionEnd::Normal);
    ASSERT_EQ(store.records.size(), 2u);
    EXPECT_EQ(store.records[0].Subject(), " message 1");
    EXPECT_EQ(store.records[1].Body(), "body 2");
    EXPECT_EQ(server_.MessageCount("taro"), 0);
}

// Dovecot lists PIPELINING: the RETRs and DELEs go in groups, more messages
// than one group holds, each text to its own RETR.
TEST_F(Pop3Dovecot, ManyMessagesPipelined) {
    constexpr int kCount = 40;
    for (int i = 1; i <= kCount; ++i) {
        server_.Deliver("taro", PlainMessage(i));
    }
    FakeReceiveStore store;
    UidlFile uidl(work_);
    Pop3Session session(store, &uidl);
    const SessionRun run = pop3_test::RunPop3Session(
        session, {"127.0.0.1", server_.Port(), "taro", "secret", false, Security::None, Pop3Login::Automatic});
    EXPECT_FALSE(run.timedOut) << server_.Log();
    EXPECT_EQ(run.LastStatus(), "40 Messages Received! Server messages Deleted");
    EXPECT_EQ(run.ended, SessionEnd::Normal);
    ASSERT_EQ(store.records.size(), std::size_t(kCount));
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(store.records[static_cast<std::size_t>(i)].Body(), "body " + std::to_string(i + 1));
    }
    EXPECT_EQ(server_.MessageCount("taro"), 0);
}

TEST_F(Pop3Dovecot, TwoMessagesKeptOnServer) {
    server_.Deliver("taro", PlainMessage(1));
    server_.Deliver("taro", PlainMessage(2));
    FakeReceiveStore store;
    EXPECT_EQ(Receive(store, true).LastStatus(), "2 Messages Recieved");
    EXPECT_EQ(server_.MessageCount("taro"), 2);

    const SessionRun again = Receive(store, true);
    EXPECT_EQ(again.LastStatus(), "No New Message");
    EXPECT_EQ(again.sent.find("RETR"), std::string::npos);
    EXPECT_EQ(store.records.size(), 2u) << "nothing new stored";

    server_.Deliver("taro", PlainMessage(3));
    EXPECT_EQ(Receive(store, true).LastStatus(), "1 Messages Recieved");
    ASSERT_EQ(store.records.size(), 3u);
    EXPECT_EQ(store.records[2].Subject(), " message 3");

    // Mail no longer kept: what was received before is deleted, not fetched.
    const SessionRun deleting = Receive(store, false);
    EXPECT_EQ(deleting.sent.find("RETR"), std::string::npos);
    EXPECT_EQ(server_.MessageCount("taro"), 0);
    EXPECT_EQ(store.records.size(), 3u);
}

TEST_F(Pop3Dovecot, WrongPassword) {
    server_.Deliver("taro", PlainMessage(1));
    FakeReceiveStore store;
    const SessionRun run = Receive(store, false, "wrong");
    EXPECT_EQ(run.LastStatus().substr(0, 7), "3 -ERR ") << run.LastStatus();
    EXPECT_EQ(run.ended, SessionEnd::Failed);
    EXPECT_TRUE(store.records.empty());
    EXPECT_EQ(server_.MessageCount("taro"), 1);
}

// Japanese headers and bodies, multiparts of every shape, a message without
// Content-Type and lines starting with ".", all through Dovecot.
TEST_F(Pop3Dovecot, MessagesOfEveryShape) {
    const char* files[] = {"jp-folded-subject.eml", "multipart-1att.eml",   "multipart-3att.eml",
                           "multipart-5att.eml",    "alternative-in-mixed.eml", "no-content-type.eml"};
    for (const char* file : files) {
        server_.Deliver("taro", TestMessage(file));
    }
    FakeReceiveStore store;
    const SessionRun run = Receive(store, false);
    EXPECT_EQ(run.LastStatus(),
              "6 Messages Received! Server messages Deleted, 1 Kept on Server (attachments left out)");
    EXPECT_TRUE(run.notices.empty());
    ASSERT_EQ(store.records.size(), 6u);
    EXPECT_EQ(server_.MessageCount("taro"), 1) << "the message with five attachments stays";

    const auto& folded = store.records[0];
    EXPECT_EQ(folded.Subject(), Sjis(" 会議のお知らせ：来週の予定について"));
    EXPECT_EQ(folded.From(), Sjis(" 山田太郎 <yamada@example.jp>"));
    EXPECT_EQ(folded.Date(), " Mon, 01 Jan 2024 09:00:00 +0900");
    EXPECT_EQ(folded.Body(), Sjis("来週の会議は火曜日です。\r\n.\r\n..ドットで始まる行\r\n.隠れない行\r\n最後の行。"));
    EXPECT_NE(folded.Header().find(Sjis("Subject: 会議のお知らせ：来週の\r\n 予定について\r\n")), std::string::npos);
    EXPECT_EQ(folded.sizes[4], 0);

    struct Attachment {
        std::string name, encoding, content;
    };
    const auto expectParts = [&](std::size_t index, const std::string& subject, const std::string& text,
                                 const std::vector<Attachment>& attachments) {
        const auto& record = store.records[index];
        EXPECT_EQ(record.Subject(), Sjis(subject)) << index;
        EXPECT_EQ(record.Body(), PartHeader("", "") + Sjis(text)) << index;
        EXPECT_EQ(record.sizes[4], 1 + static_cast<int>(attachments.size())) << index;
        for (std::size_t i = 0; i < 3; ++i) {
            const std::string expected = i < attachments.size() ? PartHeader(Sjis(attachments[i].name),
                                                                              attachments[i].encoding) +
                                                                       attachments[i].content
                                                                : "";
            EXPECT_EQ(record.Attachment(static_cast<int>(i)), expected) << index << " attachment " << i;
        }
    };
    expectParts(1, " 見積書の送付", "見積書を添付します。\r\n", {{"見積書.pdf", "base64\r\n", "JVBERi0xLjQgZXN0aW1hdGUK\r\n"}});
    expectParts(2, " 報告書三点", "三つのファイルです。\r\n",
                {{"報告書.txt", "base64\r\n", "GyRCJFskJiQzJC8bKEI=\r\n"},
                 {"写真.jpg", "base64\r\n", "/9j/4EpGSUY=\r\n"},
                 {"表.csv", "base64\r\n", "YSxiDQoxLDINCg==\r\n"}});
    expectParts(3, " 資料五点", "五つです。\r\n",
                {{"資料1.txt", "base64\r\n", "ZGF0YSAx\r\n"},
                 {"資料2.txt", "base64\r\n", "ZGF0YSAy\r\n"},
                 {"資料3.txt", "base64\r\n", "ZGF0YSAz\r\n"}});
    expectParts(4, " 図面の件", "図面を送ります。\r\n",
                {{"HTML形式.html", "7bit\r\n", Sjis("<p>図面を送ります。</p>\r\n")},
                 {"図面.png", "base64\r\n", "iVBORw0KGgo=\r\n"}});

    const auto& untyped = store.records[5];
    EXPECT_EQ(untyped.Subject(), " plain text");
    EXPECT_EQ(untyped.Body(), "\r\n\r\nNo type given.\r\n.leading dot");

    // The message left on the server is not fetched again.
    const SessionRun again = Receive(store, false);
    EXPECT_EQ(again.LastStatus(), "No New Message");
    EXPECT_EQ(again.sent.find("RETR"), std::string::npos);
    EXPECT_EQ(again.sent.find("DELE"), std::string::npos);
    EXPECT_EQ(server_.MessageCount("taro"), 1);
}

} // namespace
} // namespace tegalo
