// The send session against a real SMTP server: an aiosmtpd sink on
// 127.0.0.1, with a real mailbox on the Tegalo side. What the sink received
// is read back decoded by Python's email package.
#include "transfer/SmtpSession.h"

#include "tests/support/ComposeWaiting.h"
#include "tests/support/MailSink.h"
#include "tests/support/SessionLoop.h"
#include "text/unicode.h"
#include "transfer/DocSendStore.h"

#include "sink_fixture.h"
#include "store_test_support.h"

#include <gtest/gtest.h>

#include <random>

namespace tegalo {
namespace {

using namespace tegalo::literals;
using session_test::SessionRun;
using smtp_test::Draft;
using smtp_test::MailSink;
using smtp_test::SinkMessage;
using testing_support::Subjects;

constexpr LocalTime kNow{2026, 12, 7, 10, 0, 0, 1, 540};

class SmtpSink : public testing_support::SinkSuite {
protected:
    void Wait(const Draft& draft) {
        ASSERT_EQ(smtp_test::SaveWaiting(doc, account_.mailAccount, draft), StoreStatus::kOk) << ui.Shown();
    }

    SessionRun SendWaiting(const session_test::LoopOptions& options = {}) {
        DocSendStore store(doc);
        SmtpSession session(store, [] { return kNow; });
        SessionRun run = session_test::RunSession(session, session.SendWaiting(account_), "127.0.0.1",
                                                  sink_->Port(), options);
        EXPECT_FALSE(run.timedOut);
        EXPECT_TRUE(run.connected);
        EXPECT_EQ(run.host, "smtp.tegalo.test");
        return run;
    }

    std::vector<std::string> Folder(const std::string& name) {
        RecordList list;
        EXPECT_EQ(ReadFolderFile(dir / name, FolderFromName(name), list), 0);
        return Subjects(list);
    }

    static std::string Sjis(std::string_view utf8) { return SjisLiteral(utf8); }

    SmtpAccount account_{"pop.tegalo.test", "smtp.tegalo.test", 25, "taro@tegalo.test", "Taro"};
};


TEST_F(SmtpSink, PlainMessageToOneRecipient) {
    Wait({"Hello", "hanako@tegalo.test", "", "line 1\r\n.\r\n.x\r\n..y\r\nlast", {}});
    const SessionRun run = SendWaiting();
    EXPECT_EQ(run.statusTexts,
              (std::vector<std::string>{"Server Connection OK", "Message was sent", "1 Messages Sent"}));
    EXPECT_EQ(run.ended, SessionEnd::Normal);

    const std::vector<SinkMessage> messages = sink_->Messages();
    ASSERT_EQ(messages.size(), 1u);
    const SinkMessage& m = messages[0];
    EXPECT_EQ(m.helo, "tegalo.test");
    EXPECT_EQ(m.mailFrom, "taro@tegalo.test");
    EXPECT_EQ(m.rcptTos, std::vector<std::string>{"hanako@tegalo.test"});
    EXPECT_EQ(m.answer.substr(0, 4), "250 ");
    const std::size_t id = m.data.find("Message-ID: <");
    ASSERT_NE(id, std::string::npos);
    const std::string data = m.data.substr(0, id) + m.data.substr(m.data.find("\r\n", id) + 2);
    EXPECT_EQ(data, "Date: Mon, 07 Dec 2026 10:00:00 +0900\r\n"
                      "From: Taro <taro@tegalo.test>\r\n"
                      "To: hanako@tegalo.test\r\n"
                      "Subject: Hello\r\n"
                      "MIME-Version: 1.0\r\n"
                      "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                      "Content-Transfer-Encoding: 7bit\r\n"
                      "\r\n"
                      "line 1\r\n.\r\n.x\r\n..y\r\nlast\r\n")
        << "the lines \".\" and \".x\" arrive as typed";
    EXPECT_EQ(sink_->Commands(), (std::vector<std::string>{"EHLO tegalo.test", "MAIL FROM:<taro@tegalo.test>",
                                                           "RCPT TO:<hanako@tegalo.test>",
                                                           "DATA " + m.answer,
                                                           "QUIT"}));

    EXPECT_TRUE(Folder("reserv").empty());
    EXPECT_EQ(Folder("sent"), std::vector<std::string>{"Hello"});
}

TEST_F(SmtpSink, JapaneseHeadersAndThreeRecipientsWithCc) {
    account_.displayName = Sjis("田中太郎");
    Wait({Sjis("会議の件"), Sjis("山田 <yamada@tegalo.test>, suzuki@tegalo.test"), Sjis("佐藤 <sato@tegalo.test>"),
          Sjis("来週の会議は火曜日です。\r\nよろしく。"), {}});
    const SessionRun run = SendWaiting();
    EXPECT_EQ(run.ended, SessionEnd::Normal) << SjisToUtf8(run.LastStatus());

    const std::vector<SinkMessage> messages = sink_->Messages();
    ASSERT_EQ(messages.size(), 1u);
    const SinkMessage& m = messages[0];
    EXPECT_EQ(m.decodeError, "");
    EXPECT_EQ(m.rcptTos, (std::vector<std::string>{"yamada@tegalo.test", "suzuki@tegalo.test", "sato@tegalo.test"}));
    EXPECT_EQ(m.subject, "会議の件");
    EXPECT_EQ(m.fromName, "田中太郎");
    EXPECT_EQ(m.fromAddress, "taro@tegalo.test");
    EXPECT_EQ(m.to, "山田 <yamada@tegalo.test>, suzuki@tegalo.test");
    EXPECT_EQ(m.cc, "佐藤 <sato@tegalo.test>");
    EXPECT_EQ(m.text, "来週の会議は火曜日です。\r\nよろしく。\r\n");
    for (const char c : m.data) {
        ASSERT_LT(static_cast<unsigned char>(c), 0x80) << "seven bits on the wire";
    }
    EXPECT_EQ(Folder("sent"), std::vector<std::string>{Sjis("会議の件")});
}

TEST_F(SmtpSink, AttachmentsArriveByteForByte) {
    std::mt19937 rng(25);
    std::string binary(5000, '\0');
    for (char& c : binary) {
        c = static_cast<char>(rng());
    }
    const std::string dotty = ".\r\n.x\r\n\r\n.\r\n";
    testing_support::WriteFile(dir / "data.bin", binary);
    testing_support::WriteFile(dir / "報告書.dat", dotty);
    Wait({"files", "a@tegalo.test", "", "two files", {dir / "data.bin", dir / "報告書.dat"}});
    const SessionRun run = SendWaiting();
    EXPECT_EQ(run.ended, SessionEnd::Normal);

    const std::vector<SinkMessage> messages = sink_->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].decodeError, "");
    EXPECT_EQ(messages[0].text, "two files") << "the line end before a delimiter belongs to it";
    ASSERT_EQ(messages[0].attachments.size(), 2u);
    EXPECT_EQ(messages[0].attachments[0].first, "data.bin");
    EXPECT_EQ(messages[0].attachments[0].second, binary);
    EXPECT_EQ(messages[0].attachments[1].first, "報告書.dat");
    EXPECT_EQ(messages[0].attachments[1].second, dotty);
}

// Every refusal: its status text, nothing in "sent", the message still
// waiting as it was.
TEST_F(SmtpSink, RefusedMessageStaysWaiting) {
    struct Row {
        const char* recipient;
        std::string status;
        std::vector<std::string> commandsAfterRcpt;
    };
    const std::vector<Row> rows = {
        {"refuse-rcpt@tegalo.test",
         "4 550 5.1.1 <refuse-rcpt@tegalo.test>: Recipient address rejected" + Sjis("宛先エラー"),
         {"QUIT"}},
        {"refuse-data@tegalo.test", "4 554 5.5.1 Error: no valid recipients", {"DATA refused", "QUIT"}},
        {"refuse-message@tegalo.test", "5 554 5.7.1 Message refused", {"DATA 554 5.7.1 Message refused", "QUIT"}},
        {"close-after-data@tegalo.test", "Server Closed the Connection: Session Ended", {"DATA (closed)"}},
    };
    for (const Row& row : rows) {
        sink_->Clear();
        Mailbox::Open(); // empty folders again
        Wait({"s", row.recipient, "", "text", {}});
        const std::string before = File("reserv");
        const SessionRun run = SendWaiting();
        const auto shown = std::find(run.statusTexts.begin(), run.statusTexts.end(), row.status);
        EXPECT_NE(shown, run.statusTexts.end()) << row.recipient << ": " << SjisToUtf8(run.LastStatus());
        EXPECT_EQ(run.ended, SessionEnd::Failed) << row.recipient;
        EXPECT_EQ(File("reserv"), before) << row.recipient;
        EXPECT_TRUE(Folder("sent").empty()) << row.recipient;
        std::vector<std::string> commands = sink_->Commands();
        ASSERT_GE(commands.size(), 3u) << row.recipient;
        commands.erase(commands.begin(), commands.begin() + 3); // EHLO, MAIL FROM, RCPT TO
        EXPECT_EQ(commands, row.commandsAfterRcpt) << row.recipient;
    }
}

// Read three bytes at a time and written in pieces, as a slow connection
// would: the same conversation.
TEST_F(SmtpSink, BatchOfThreeWhoseSecondIsRefused) {
    Wait({"first", "a@tegalo.test", "", "1", {}});
    Wait({"second", "refuse-rcpt@tegalo.test", "", "2", {}});
    Wait({"third", "c@tegalo.test", "", "3", {}});
    session_test::LoopOptions slow;
    slow.readSize = 3;
    slow.writeSize = 50;
    const SessionRun run = SendWaiting(slow);
    EXPECT_EQ(run.LastStatus(), "2 Messages Sent, 1 Refused");
    EXPECT_EQ(run.ended, SessionEnd::Failed);
    EXPECT_EQ(Folder("sent"), (std::vector<std::string>{"first", "third"}));
    EXPECT_EQ(Folder("reserv"), std::vector<std::string>{"second"});

    std::vector<std::string> commands = sink_->Commands();
    for (std::string& line : commands) {
        if (line.starts_with("DATA 250")) {
            line = "DATA 250";
        }
    }
    EXPECT_EQ(commands, (std::vector<std::string>{"EHLO tegalo.test", "MAIL FROM:<taro@tegalo.test>",
                                                  "RCPT TO:<a@tegalo.test>", "DATA 250",
                                                  "MAIL FROM:<taro@tegalo.test>", "RCPT TO:<refuse-rcpt@tegalo.test>",
                                                  "RSET", "MAIL FROM:<taro@tegalo.test>", "RCPT TO:<c@tegalo.test>",
                                                  "DATA 250", "QUIT"}));
    const std::vector<SinkMessage> messages = sink_->Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].subject, "first");
    EXPECT_EQ(messages[1].subject, "third");
}

// The compose dialog's send: nothing waits, the copy goes to "sent".
TEST_F(SmtpSink, ComposedMessageSentAtOnce) {
    BodyParts parts = NewBodyParts();
    ASSERT_EQ(doc.CSbodyMsgA(parts, "at once", "", 0, plainText), PartError::none);
    const std::string recipients = "a@tegalo.test,\r\nCc: b@tegalo.test";
    Envelope envelope = doc.SetRecipients("now", smtp_test::kComposeDate, recipients);
    ASSERT_EQ(envelope.status, StoreStatus::kOk);
    DocSendStore store(doc);
    SmtpSession session(store, [] { return kNow; });
    const SessionRun run = session_test::RunSession(
        session,
        session.SendComposed(account_, {std::move(envelope.sendEnvelope), parts, recipients}), "127.0.0.1",
        sink_->Port());
    EXPECT_EQ(run.statusTexts, (std::vector<std::string>{"Server Connection OK", "Message was sent"}));
    EXPECT_EQ(run.ended, SessionEnd::Normal);
    const std::vector<SinkMessage> messages = sink_->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rcptTos, (std::vector<std::string>{"a@tegalo.test", "b@tegalo.test"}));
    EXPECT_EQ(messages[0].text, "at once\r\n");
    EXPECT_EQ(Folder("sent"), std::vector<std::string>{"now"});
    EXPECT_TRUE(Folder("reserv").empty());
}

} // namespace
} // namespace tegalo
