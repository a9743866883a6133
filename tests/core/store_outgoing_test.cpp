// Composed messages through the document: stored into the waiting folder,
// loaded back for sending, and their attachments written out again.
#include "store/Attachments.h"
#include "mime/Outgoing.h"
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

    // Saves the message of `parts` as the compose path does.
    void Save(const BodyParts& parts, const std::string& subject, const std::string& to, int attachments) {
        const std::string date = "Mon, Dec 07, 2026";
        const std::string header = HeaderBlock(subject, to, attachments);
        PartSizes sizes{};
        sizes[kSubjectLength] = static_cast<int>(subject.size());
        sizes[kSenderLength] = 13;
        sizes[kDateLength] = static_cast<int>(date.size());
        sizes[kHeaderLength] = static_cast<int>(header.size());
        ASSERT_EQ(doc.StoreComposedMessage(parts, sizes, subject + "me@example.jp" + date + header, "reserv"),
                  StoreStatus::kOk)
            << ui.Shown();
    }

    testing_support::RuntimeDir runtime_;
};

TEST_F(ComposedMessage, WithoutAttachmentsTheRecordIsHeaderAndText) {
    BodyParts parts = NewBodyParts();
    ASSERT_EQ(doc.CSbodyMsgA(parts, "こんにちは\r\n"_sjis, "", 0, plainText), PartError::none);
    Save(parts, "件名"_sjis, "a@example.jp", 0);
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

    BodyParts original = NewBodyParts();
    ASSERT_EQ(doc.CSbodyMsgA(original, "本文\r\n二行目"_sjis, "", 0, textPart), PartError::none);
    ASSERT_EQ(doc.CSbodyMsgA(original, "", jpg, 1, base64File), PartError::none);
    ASSERT_EQ(doc.CSbodyMsgA(original, "", html, 2, htmlFile), PartError::none);
    EXPECT_EQ(original[0], "2");
    Save(original, "Re: To: Bob"_sjis, "a@example.jp,\r\nCc: c@example.jp", 2);

    const PreparedSend prepared = doc.PrepareSend(0, "reserv");
    ASSERT_EQ(prepared.status, StoreStatus::kOk) << ui.Shown();
    const BodyParts& parts = prepared.bodyParts;
    EXPECT_EQ(parts[0], "2");
    EXPECT_EQ(parts[1], original[1]) << "the text comes back as it was built";
    // A stored attachment keeps its closing delimiter line, and the part
    // built from it gets its own after it.
    EXPECT_EQ(parts[2], original[2] + kDelim);
    EXPECT_EQ(parts[3], original[3] + kDelim);
    const std::vector<std::string>& envelope = prepared.sendEnvelope;
    ASSERT_GE(envelope.size(), 5u);
    EXPECT_EQ(envelope[0], "1");
    EXPECT_EQ(envelope[1], "Re: To: Bob");
    EXPECT_EQ(envelope[3], "a@example.jp");
    EXPECT_EQ(envelope[4], "c@example.jp");
    EXPECT_EQ(doc.CurrentFolder(), kReceived);

    // The attachments come out of the waiting folder as they went in.
    ASSERT_TRUE(Loaded(doc.LoadList("reserv").status));
    const std::optional<StoredAttachment> first = doc.GetAttachment(0, 1);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->encoding, "base64");
    EXPECT_EQ(first->content.find("Content-Type"), std::string::npos) << "none of the next part's header";
    const std::optional<StoredAttachment> second = doc.GetAttachment(0, 2);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->encoding, "quoted-pr");
    const std::optional<std::string> path = doc.SaveAttachment(0, 1, SjisToJis("写真.jpg"_sjis));
    ASSERT_TRUE(path.has_value()) << ui.Shown();
    EXPECT_EQ(ReadFile(*path), binary);
    const std::optional<std::string> htmlPath = doc.SaveAttachment(0, 2, "HTML形式.html"_sjis);
    ASSERT_TRUE(htmlPath.has_value());
    EXPECT_TRUE(htmlPath->ends_with("/HTML形式.html"));
    EXPECT_EQ(ReadFile(*htmlPath), SjisToJis("<p>テスト</p>"_sjis) + "\r\n");
}

// A long Japanese file name is stored cut at a character, its ISO-2022-JP
// run closed, so that sending the waiting message later gives a sound
// name parameter.
TEST_F(ComposedMessage, LongJapaneseAttachmentNameIsCutWhole) {
    std::string name;
    for (int i = 0; i < 50; ++i) {
        name += "写";
    }
    const std::string path = dir.Path() + name + ".jpg";
    WriteFile(path, "ABC");
    BodyParts parts = NewBodyParts();
    ASSERT_EQ(doc.CSbodyMsgA(parts, "text", "", 0, textPart), PartError::none);
    ASSERT_EQ(doc.CSbodyMsgA(parts, "", path, 1, base64File), PartError::none) << ui.Shown();
    Save(parts, "s", "a@example.jp", 1);

    ASSERT_TRUE(Loaded(doc.LoadList("reserv").status));
    const std::optional<RecordPieces> pieces = SplitRecord(doc.GetRecordList()[0]);
    ASSERT_TRUE(pieces.has_value());
    const std::string_view stored = PartRecordName(pieces->attachments[0]);
    bool jisError = true;
    const std::string sjis = JisToSjis(stored, &jisError);
    EXPECT_FALSE(jisError) << "the name's double-byte run is closed";
    // The extension stays; the characters before it are cut whole and their
    // run closed within the 98 bytes.
    EXPECT_LE(stored.size(), 98u);
    ASSERT_GT(sjis.size(), 4u);
    EXPECT_EQ(sjis.substr(sjis.size() - 4), ".jpg");
    const std::string kept = sjis.substr(0, sjis.size() - 4);
    EXPECT_EQ(kept.size() % 2, 0u);
    EXPECT_EQ(kept, SjisLiteral(name).substr(0, kept.size()));

    const PreparedSend prepared = doc.PrepareSend(0, "reserv");
    ASSERT_EQ(prepared.status, StoreStatus::kOk) << ui.Shown();
    EXPECT_NE(prepared.bodyParts[2].find("name=\"" + std::string(stored) + "\"\r\n"), std::string::npos);
}

TEST_F(ComposedMessage, FailuresLeaveNothingHalfDone) {
    BodyParts parts = NewBodyParts();
    EXPECT_EQ(doc.CSbodyMsgA(parts, "", dir.Path() + "missing.jpg", 1, base64File), PartError::cannotOpen);
    EXPECT_EQ(ui.Last(), "ファイルが開けません7 CSbodyMsgA"_sjis);
    EXPECT_EQ(parts[0], "1");
    EXPECT_TRUE(parts[2].empty());

    EXPECT_EQ(doc.PrepareSend(0, "sent").status, StoreStatus::kInvalidArgument);
    EXPECT_EQ(ui.Last(), "ファイル名の指定が違います"_sjis);
    EXPECT_EQ(doc.PrepareSend(5, "reserv").status, StoreStatus::kBadIndex);

    // The attachment directory cannot be made: nothing is written or opened.
    testing_support::ScopedEnv unusable("XDG_RUNTIME_DIR", dir.Path() + "recv");
    EXPECT_FALSE(doc.CTempF("QUJD", "a.txt", "base64").has_value());
    EXPECT_EQ(ui.Last(), "ファイルが開けません5 CTempF"_sjis);
}

} // namespace
} // namespace tegalo
