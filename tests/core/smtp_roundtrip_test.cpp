// A message sent by Tegalo and received by Tegalo through real servers: the
// SMTP sink takes it, Dovecot's maildir gets it, the receive session fetches
// it. What comes back is what was written.
#include "transfer/SmtpSession.h"

#include "store/Attachments.h"
#include "tests/support/ComposeWaiting.h"
#include "tests/support/Dovecot.h"
#include "tests/support/FakeReceiveStore.h"
#include "tests/support/MailSink.h"
#include "tests/support/Pop3Client.h"
#include "text/unicode.h"
#include "transfer/DocSendStore.h"
#include "transfer/Pop3Session.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <iostream>
#include <random>

namespace tegalo {
namespace {

using namespace tegalo::literals;

TEST(SmtpRoundTrip, JapaneseMessageWithTwoAttachmentsComesBackTheSame) {
    pop3_test::DovecotServer dovecot;
    ASSERT_EQ(dovecot.Start({{"taro", "secret"}}), "");
    smtp_test::MailSink sink;
    ASSERT_EQ(sink.Start(), "");

    testing_support::Mailbox mailbox;
    ASSERT_TRUE(Loaded(mailbox.Open())) << mailbox.ui.Shown();
    std::mt19937 rng(1939);
    std::string pdf(20'000, '\0');
    for (char& c : pdf) {
        c = static_cast<char>(rng());
    }
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(300, '.') + "\r\n.\r\n";
    const std::string pdfPath = mailbox.dir / "見積書.pdf";
    const std::string pngPath = mailbox.dir / "図面.png";
    testing_support::WriteFile(pdfPath, pdf);
    testing_support::WriteFile(pngPath, png);
    const std::string subject = "見積書の送付について"_sjis;
    const std::string text = "山田様\r\n\r\n見積書と図面をお送りします。\r\n.\r\n.以上です。"_sjis;
    ASSERT_EQ(smtp_test::SaveWaiting(mailbox.doc, "taro@tegalo.test",
                                     {subject, "taro@tegalo.test", "", text, {pdfPath, pngPath}}),
              StoreStatus::kOk);

    DocSendStore store(mailbox.doc);
    SmtpSession sender(store, [] { return LocalTime{2026, 12, 7, 10, 0, 0, 1, 540}; });
    const SmtpAccount account{"127.0.0.1", "", sink.Port(), "taro@tegalo.test", "田中"_sjis};
    const session_test::SessionRun sent =
        session_test::RunSession(sender, sender.SendWaiting(account), "127.0.0.1", sink.Port());
    ASSERT_EQ(sent.ended, SessionEnd::Normal) << SjisToUtf8(sent.LastStatus());
    const std::vector<smtp_test::SinkMessage> messages = sink.Messages();
    ASSERT_EQ(messages.size(), 1u);

    dovecot.Deliver("taro", messages[0].data);
    pop3_test::FakeReceiveStore received;
    Pop3Session receiver(received, nullptr);
    const session_test::SessionRun run =
        pop3_test::RunPop3Session(receiver, {"127.0.0.1", dovecot.Port(), "taro", "secret", false});
    EXPECT_EQ(run.LastStatus(), "1 Messages Received! Server messages Deleted");
    ASSERT_EQ(received.records.size(), 1u) << dovecot.Log();

    const pop3_test::StoredRecord& record = received.records[0];
    EXPECT_EQ(record.Subject(), " " + subject);
    EXPECT_EQ(record.From(), " " + "田中"_sjis + " <taro@tegalo.test>");
    EXPECT_EQ(record.Body(), PartHeader("", "") + text);
    // Attachments as they came back, in order. The receive side also keeps,
    // as an attachment of its own, the empty part that stands between two
    // attachments of Tegalo's multipart form; only parts with content count.
    std::vector<std::pair<std::string, std::string>> attachments;
    for (int i = 0; i < 3; ++i) {
        const std::string part = record.Attachment(i);
        if (PartRecordContent(part).find_first_not_of("\r\n ") != std::string_view::npos) {
            attachments.emplace_back(PartRecordName(part),
                                     DecodeAttachment(PartRecordContent(part), PartRecordEncoding(part)));
        }
    }
    EXPECT_EQ(attachments, (std::vector<std::pair<std::string, std::string>>{{"見積書.pdf"_sjis, pdf},
                                                                               {"図面.png"_sjis, png}}));
    if (HasFailure()) {
        std::cerr << "Dovecot's log:\n" << dovecot.Log();
    }
}

// Characters ISO-2022-JP lacks make the message UTF-8 on the wire; what
// comes back is still the Shift_JIS that was typed, names included.
TEST(SmtpRoundTrip, Utf8MessageComesBackAsTyped) {
    pop3_test::DovecotServer dovecot;
    ASSERT_EQ(dovecot.Start({{"taro", "secret"}}), "");
    smtp_test::MailSink sink;
    ASSERT_EQ(sink.Start(), "");
    testing_support::Mailbox mailbox;
    ASSERT_TRUE(Loaded(mailbox.Open())) << mailbox.ui.Shown();
    const std::string memo = "髙橋様へのメモ\r\nｶﾀｶﾅ\r\n"_sjis;
    const std::string memoPath = mailbox.dir / "髙橋メモ.txt";
    testing_support::WriteFile(memoPath, memo);
    const std::string subject = "髙橋様 ｶﾀｶﾅ と ① の件"_sjis;
    const std::string text = "﨑山さん、德川さん\r\nⅰ ⅱ ⅲ\r\n.\r\n以上"_sjis;
    ASSERT_EQ(smtp_test::SaveWaiting(mailbox.doc, "taro@tegalo.test",
                                     {subject, "\"Suzuki, Ichiro\" <taro@tegalo.test>", "", text, {memoPath}}),
              StoreStatus::kOk);
    DocSendStore store(mailbox.doc);
    SmtpSession sender(store, [] { return LocalTime{2026, 12, 7, 10, 0, 0, 1, 540}; });
    const SmtpAccount account{"127.0.0.1", "", sink.Port(), "taro@tegalo.test", "德永"_sjis};
    const session_test::SessionRun sent =
        session_test::RunSession(sender, sender.SendWaiting(account), "127.0.0.1", sink.Port());
    ASSERT_EQ(sent.ended, SessionEnd::Normal) << SjisToUtf8(sent.LastStatus());
    const std::vector<smtp_test::SinkMessage> messages = sink.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rcptTos, std::vector<std::string>{"taro@tegalo.test"});

    dovecot.Deliver("taro", messages[0].data);
    pop3_test::FakeReceiveStore received;
    Pop3Session receiver(received, nullptr);
    const session_test::SessionRun run =
        pop3_test::RunPop3Session(receiver, {"127.0.0.1", dovecot.Port(), "taro", "secret", false});
    ASSERT_EQ(received.records.size(), 1u) << dovecot.Log();
    const pop3_test::StoredRecord& record = received.records[0];
    EXPECT_EQ(SjisToUtf8(record.Subject()), SjisToUtf8(" " + subject));
    EXPECT_EQ(SjisToUtf8(record.From()), SjisToUtf8(" " + "德永"_sjis + " <taro@tegalo.test>"));
    EXPECT_EQ(SjisToUtf8(PartRecordContent(record.Body())), SjisToUtf8(text));
    const std::string part = record.Attachment(0);
    EXPECT_EQ(SjisToUtf8(PartRecordName(part)), "髙橋メモ.txt");
    EXPECT_EQ(DecodeAttachment(PartRecordContent(part), PartRecordEncoding(part)), memo);
}

} // namespace
} // namespace tegalo
