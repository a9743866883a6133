// Composed messages through the document: stored into the waiting folder,
// loaded back for sending, and their attachments written out again.
#include "store/Attachments.h"
#include "store/Outgoing.h"
#include "store/TegaloDoc.h"
#include "text/jis.h"
#include "text/unicode.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

namespace tegalo {
namespace {

using namespace tegalo::literals;
using testing_support::MailboxTest;
using testing_support::ReadFile;
using testing_support::WriteFile;

const std::string kDelim(kDelimiterLine);

class ComposedMessage : public MailboxTest {
protected:
    void SetUp() override { Open(); }

    // The header block the compose path writes for the waiting folder.
    static std::string HeaderBlock(const std::string& subject, const std::string& to, int attachments) {
        std::string h = "Subject: " + EncodeHeaderValue(subject) + "\r\nFrom: me@example.jp\r\nTo: " + to +
                        "\r\nDate: Mon, Dec 07, 2026\r\nMIME-Version: 1.0\r\n";
        h += attachments == 0 ? "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n"
                              : "Content-Type: multipart/mixed;\r\n  boundary=\"" + std::string(kBoundary) + "\"\r\n";
        return h + "\r\n";
    }

    // Saves the message of bodyParts as the compose path does.
    void Save(const std::string& subject, const std::string& to, int attachments) {
        const std::string date = "Mon, Dec 07, 2026";
        const std::string header = HeaderBlock(subject, to, attachments);
        PartSizes sizes{};
        sizes[kSubjectLength] = static_cast<int>(subject.size());
        sizes[kSenderLength] = 13;
        sizes[kDateLength] = static_cast<int>(date.size());
        sizes[kHeaderLength] = static_cast<int>(header.size());
        ASSERT_EQ(doc.StoreComposedMessage(sizes, subject + "me@example.jp" + date + header, "reserv"),
                  StoreStatus::kOk)
            << ui.Shown();
    }

    testing_support::RuntimeDir runtime_;
};

TEST_F(ComposedMessage, WithoutAttachmentsTheRecordIsHeaderAndText) {
    doc.ResetBodyParts();
    ASSERT_EQ(doc.CSbodyMsgA("こんにちは\r\n"_sjis, "", 0, plainText), PartError::none);
    Save("件名"_sjis, "a@example.jp", 0);
    const std::string header = HeaderBlock("件名"_sjis, "a@example.jp", 0);
    const std::string text = "件名"_sjis + "me@example.jp" + "Mon, Dec 07, 2026" + header + "こんにちは\r\n"_sjis;
    PartSizes sizes{};
    sizes[1] = 4;
    sizes[2] = 13;
    sizes[3] = 17;
    sizes[6] = static_cast<int>(header.size());
    sizes[7] = 12;
    sizes[0] = 4 + 13 + 17 + sizes[6] + 12 + 60;
    EXPECT_EQ(File("reserv"), "     1" + FormatSizeBlock(sizes) + text);
    EXPECT_EQ(doc.CurrentFolder(), kReceived) << "the folder shown stays";
}

TEST_F(ComposedMessage, SavedThenPreparedGivesThePartsBack) {
    std::mt19937 rng(8);
    std::string binary(3000, '\0');
    for (char& c : binary) {
        c = static_cast<char>(rng());
    }
    const std::string jpg = dir.Path() + "写真.jpg";
    const std::string html = dir.Path() + "page.html";
    WriteFile(jpg, binary);
    WriteFile(html, "<p>テスト</p>"_sjis);

    doc.ResetBodyParts();
    ASSERT_EQ(doc.CSbodyMsgA("本文\r\n二行目"_sjis, "", 0, textPart), PartError::none);
    ASSERT_EQ(doc.CSbodyMsgA("", jpg, 1, base64File), PartError::none);
    ASSERT_EQ(doc.CSbodyMsgA("", html, 2, htmlFile), PartError::none);
    const std::vector<std::string> original = doc.bodyParts;
    EXPECT_EQ(original[0], "2");
    Save("Re: To: Bob"_sjis, "a@example.jp,\r\nCc: c@example.jp", 2);

    doc.bodyParts.clear();
    ASSERT_EQ(doc.PrepareSend(0, "reserv"), StoreStatus::kOk) << ui.Shown();
    EXPECT_EQ(doc.bodyParts[0], "2");
    EXPECT_EQ(doc.bodyParts[1], original[1]) << "the text comes back as it was built";
    // A stored attachment keeps its closing delimiter line, and the part
    // built from it gets its own after it.
    EXPECT_EQ(doc.bodyParts[2], original[2] + kDelim);
    EXPECT_EQ(doc.bodyParts[3], original[3] + kDelim);
    ASSERT_GE(doc.sendEnvelope.size(), 5u);
    EXPECT_EQ(doc.sendEnvelope[0], "1");
    EXPECT_EQ(doc.sendEnvelope[1], "Re: To: Bob");
    EXPECT_EQ(doc.sendEnvelope[3], "a@example.jp");
    EXPECT_EQ(doc.sendEnvelope[4], "c@example.jp");
    EXPECT_EQ(ui.recipientText, "a@example.jp,\r\nCc: c@example.jp");
    EXPECT_EQ(doc.CurrentFolder(), kReceived);

    // The attachments come out of the waiting folder as they went in.
    ASSERT_TRUE(Loaded(doc.LoadList("reserv").status));
    const std::optional<std::string> first = doc.GetAttachment(0, 1);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(doc.attachEncoding, "base64");
    EXPECT_EQ(first->find("Content-Type"), std::string::npos) << "none of the next part's header";
    const std::optional<std::string> path = doc.SaveAttachment(0, 1, SjisToJis("写真.jpg"_sjis));
    ASSERT_TRUE(path.has_value()) << ui.Shown();
    EXPECT_EQ(ReadFile(*path), binary);
    const std::optional<std::string> htmlPath = doc.SaveAttachment(0, 2, "HTML形式.html"_sjis);
    ASSERT_TRUE(htmlPath.has_value());
    EXPECT_TRUE(htmlPath->ends_with("/HTML形式.html"));
    EXPECT_EQ(doc.attachEncoding, "quoted-pr");
    EXPECT_EQ(ReadFile(*htmlPath), SjisToJis("<p>テスト</p>"_sjis) + "\r\n");
}

TEST_F(ComposedMessage, FailuresLeaveNothingHalfDone) {
    doc.ResetBodyParts();
    EXPECT_EQ(doc.CSbodyMsgA("", dir.Path() + "missing.jpg", 1, base64File), PartError::cannotOpen);
    EXPECT_EQ(ui.Last(), "ファイルが開けません7 CSbodyMsgA"_sjis);
    EXPECT_EQ(doc.bodyParts[0], "1");
    EXPECT_TRUE(doc.bodyParts[2].empty());

    EXPECT_EQ(doc.PrepareSend(0, "sent"), StoreStatus::kInvalidArgument);
    EXPECT_EQ(ui.Last(), "ファイル名の指定が違います"_sjis);
    EXPECT_EQ(doc.PrepareSend(5, "reserv"), StoreStatus::kBadIndex);

    // The attachment directory cannot be made: nothing is written or opened.
    testing_support::ScopedEnv unusable("XDG_RUNTIME_DIR", dir.Path() + "recv");
    EXPECT_FALSE(doc.CTempF("QUJD", "a.txt", "base64").has_value());
    EXPECT_EQ(ui.Last(), "ファイルが開けません5 CTempF"_sjis);
}

} // namespace
} // namespace tegalo
