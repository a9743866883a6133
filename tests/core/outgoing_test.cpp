#include "mime/Outgoing.h"

#include "text/jis.h"
#include "text/unicode.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tegalo {
namespace {

using namespace tegalo::literals;

const std::string kDelim(kDelimiterLine);

class TempFiles : public testing::Test {
protected:

    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = dir_ / name;
        testing_support::WriteFile(path, bytes);
        return path;
    }

    testing_support::TempDir dir_;
};

TEST(PartRecord, Layout) {
    const std::string text = PartHeader("Content-Transfer-Encoding: ", "");
    EXPECT_EQ(text, "Content-Transfer-Encoding: " + std::string(71, ' ') + "\r\n" + std::string(9, ' '));
    EXPECT_EQ(PartHeader("a.jpg", "base64").substr(98), "\r\nbase64   ");
    EXPECT_EQ(PartHeader("x", "quoted-printable").substr(100), "quoted-pr");
    EXPECT_EQ(PartHeader(std::string(120, 'n'), "base64").substr(0, 100), std::string(98, 'n') + "\r\n");
}

TEST(AttachmentContentType, ChosenByTheFirstDot) {
    struct Row {
        const char* path;
        const char* type;
    };
    const std::vector<Row> rows = {
        {"/home/u/a.jpg", "image/basic;"},
        {"/home/u/a.b/c.jpg", "application/octet-stream;"}, // the extension starts at the first "."
        {"/home/u/A.JPG", "application/octet-stream;"},     // case-sensitive
        {"/x/song.wav", "audio/basic;"},
        {"/x/notes.txt", "text/plain; charset=ISO-2022-JP"},
        {"/x/a.doc", "application/octet-stream;"},
        {"/x/noextension", "application/octet-stream;"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(AttachmentContentType(row.path), row.type) << row.path;
    }
    EXPECT_TRUE(IsHtmlPath("/x/page.html"));
    EXPECT_TRUE(IsHtmlPath("/x/page.htm"));
    EXPECT_FALSE(IsHtmlPath("/x/page.HTML"));
}

TEST_F(TempFiles, TextPartsAndBase64Attachments) {
    EXPECT_EQ(BuildBodyPart("hello", "", 0, plainText).part, "hello");
    EXPECT_EQ(BuildBodyPart("hello", "", 0, textPart).part,
              kDelim + "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\nhello\r\n");

    const std::string txt = Write("memo.txt", std::string(58, 'a'));
    const BuiltPart part = BuildBodyPart("", txt, 1, base64File);
    ASSERT_EQ(part.error, PartError::none);
    const std::string expectedHeader = kDelim + "Content-Type: text/plain; charset=ISO-2022-JP\r\n" +
                                       "         name=\"memo.txt\"\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    ASSERT_EQ(part.part.substr(0, expectedHeader.size()), expectedHeader);
    const std::string body = part.part.substr(expectedHeader.size());
    EXPECT_EQ(body.size(), 76u + 2u + 4u + 2u + kDelim.size());
    EXPECT_EQ(body.substr(78, 6), "YQ==\r\n");
    EXPECT_TRUE(body.ends_with(kDelim));

    const std::string japanese = Write("報告書.jpg", "\xFF\xD8\xFF");
    const BuiltPart jp = BuildBodyPart("", japanese, 2, base64File);
    ASSERT_EQ(jp.error, PartError::none);
    EXPECT_NE(jp.part.find("name=\"" + SjisToJis("報告書.jpg"_sjis) + "\"\r\n"), std::string::npos)
        << "the name carries raw ISO-2022-JP bytes";
}

TEST_F(TempFiles, HtmlAttachments) {
    const std::string withEnd = Write("a.html", "<p>" + std::string("\x82\xA0") + "</p>\r\n");
    const BuiltPart part = BuildBodyPart("", withEnd, 1, htmlFile);
    ASSERT_EQ(part.error, PartError::none);
    EXPECT_EQ(part.part, kDelim + "Content-Type: text/html; charset=ISO-2022-JP\r\n" +
                             "Content-Transfer-Encoding: quoted-printable\r\n\r\n" + "<p>=1B$B$\"=1B(B</p>\r\n" + kDelim);

    const std::string noEnd = Write("b.htm", "<p>x</p>");
    const BuiltPart part2 = BuildBodyPart("", noEnd, 1, htmlFile);
    EXPECT_TRUE(part2.part.ends_with("<p>x</p>\r\n" + kDelim)) << "the delimiter starts its own line";

    const std::string withNul = Write("c.html", std::string("ab\0cd", 5) + std::string(60, 'e'));
    EXPECT_NE(BuildBodyPart("", withNul, 1, htmlFile).part.find("ab" + std::string(4, 'e')), std::string::npos)
        << "a chunk of 57 bytes ends at its NUL";
}

TEST_F(TempFiles, SuppliedContentAndFailures) {
    const BuiltPart supplied = BuildBodyPart("QUJD\r\n" + kDelim, "a.jpg", 3, encodedContent);
    EXPECT_TRUE(supplied.part.ends_with("QUJD\r\n" + kDelim + kDelim)) << "a stored delimiter gets a second one";

    const BuiltPart missing = BuildBodyPart("", dir_ / "missing.jpg", 1, base64File);
    EXPECT_EQ(missing.error, PartError::cannotOpen);
    EXPECT_EQ(missing.message, "ファイルが開けません7 CSbodyMsgA"_sjis);
    EXPECT_TRUE(missing.part.empty());

    const BuiltPart directory = BuildBodyPart("", dir_.Path(), 1, base64File);
    EXPECT_EQ(directory.error, PartError::cannotRead) << "a directory opens but cannot be read";

    for (const std::string name : {"new\nline.jpg", "quote\".jpg", "cr\r.jpg"}) {
        const BuiltPart bad = BuildBodyPart("", Write(name, "x"), 1, base64File);
        EXPECT_EQ(bad.error, PartError::badName) << name;
        EXPECT_TRUE(bad.part.empty()) << name;
    }
    // "あ" is ESC $ B 0x24 0x22 ESC ( B: a double quote inside a run is half a
    // character, not the end of the name. Stored names come back so.
    const BuiltPart kana = BuildBodyPart("QUJD\r\n", SjisToJis("あ.jpg"_sjis), 1, encodedContent);
    EXPECT_EQ(kana.error, PartError::none);
    EXPECT_NE(kana.part.find("name=\"\x1b$B$\"\x1b(B.jpg\""), std::string::npos);
    EXPECT_EQ(BuildBodyPart("", Write("あ.jpg", "x"), 1, base64File).error, PartError::none);
    // "く" is ESC $ B 0x24 0x2F ESC ( B: that "/" is no directory separator.
    const std::string ku = SjisToJis("くじ.jpg"_sjis);
    EXPECT_NE(BuildBodyPart("QUJD\r\n", ku, 1, encodedContent).part.find("name=\"" + ku + "\""), std::string::npos);
    EXPECT_EQ(BuildBodyPart("QUJD\r\n", "a\".jpg", 1, encodedContent).error, PartError::badName);

    const BuiltPart emoji = BuildBodyPart("", Write("😀.png", "x"), 1, base64File);
    EXPECT_EQ(emoji.error, PartError::badName) << "a name without a Shift_JIS form";
}

TEST(HeaderValueProblem, RefusesLineBreaksAndNul) {
    EXPECT_TRUE(HeaderValueProblem("Re: hello", "件名"_sjis).empty());
    EXPECT_FALSE(HeaderValueProblem("a\r\nBcc: x", "件名"_sjis).empty());
    EXPECT_FALSE(HeaderValueProblem(std::string("a\0b", 3), "件名"_sjis).empty());
    EXPECT_TRUE(HeaderValueProblem("say \"hi\"", "件名"_sjis).empty());
    EXPECT_FALSE(HeaderValueProblem("say \"hi\"", "ファイル名"_sjis, true).empty());
}

TEST(AssembleComposedRecord, WithoutAttachments) {
    std::vector<std::string> parts(10);
    parts[0] = "0";
    parts[1] = "body text\r\n";
    const std::string header = "subjfromdateSubject: subj\r\n\r\n";
    PartSizes sizes{};
    sizes[1] = 4;
    sizes[2] = 4;
    sizes[3] = 4;
    sizes[6] = 17;
    const ComposedRecord record = AssembleComposedRecord(parts, sizes, header);
    EXPECT_EQ(record.text, header + "body text\r\n");
    EXPECT_EQ(record.sizes[4], 0);
    EXPECT_EQ(record.sizes[7], 11);
    EXPECT_EQ(record.sizes[0], 4 + 4 + 4 + 17 + 11 + 60);
}

TEST(AssembleComposedRecord, WithAttachmentsAndAnEmptySlot) {
    std::vector<std::string> parts(10);
    parts[0] = "3";
    parts[1] = BuildBodyPart("text", "", 0, textPart).part;
    parts[2] = kDelim + "Content-Type: image/basic;\r\n         name=\"a.jpg\"\r\nContent-Transfer-Encoding: base64\r\n\r\nQUJD\r\n" + kDelim;
    parts[3] = kDelim + "Content-Type: text/html; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\nx\r\n" + kDelim;
    // parts[4] stays empty: its file could not be read.
    const ComposedRecord record = AssembleComposedRecord(parts, PartSizes{}, "H");
    EXPECT_EQ(record.sizes[4], 4);
    EXPECT_EQ(record.sizes[7], 109 + 6);
    EXPECT_EQ(record.sizes[8], 109 + 6 + static_cast<int>(kDelim.size()));
    EXPECT_EQ(record.sizes[9], 109 + 3 + static_cast<int>(kDelim.size()));
    EXPECT_EQ(record.sizes[10], 109);
    const std::string expected = "H" + PartHeader("Content-Transfer-Encoding: ", "") + "text\r\n" +
                                 PartHeader("a.jpg", "base64") + "QUJD\r\n" + kDelim +
                                 PartHeader("HTML形式.html"_sjis, "quoted-printable") + "x\r\n" + kDelim +
                                 PartHeader("HTML形式.html"_sjis, "");
    EXPECT_EQ(record.text, expected);
    EXPECT_EQ(record.sizes[0], 109 + 6 + record.sizes[8] + record.sizes[9] + 109 + 60);
}

TEST(RecipientTextFromHeader, TakesTheToLineAtALineStart) {
    struct Row {
        const char* name;
        std::string header;
        std::string recipients;
    };
    const std::vector<Row> rows = {
        {"plain", "Subject: hi\r\nFrom: me@x\r\nTo: a@x, b@y\r\nDate: Mon\r\n", "a@x, b@y"},
        {"with Cc", "Subject: hi\r\nTo: a@x,\r\nCc: c@z\r\nDate: Mon\r\n", "a@x,\r\nCc: c@z"},
        {"To: inside the subject", "Subject: Re: To: Bob\r\nTo: a@x\r\nDate: Mon\r\n", "a@x"},
        {"Date: inside the subject", "Subject: Date: tomorrow\r\nTo: a@x\r\nDate: Mon\r\n", "a@x"},
        {"no To line", "Subject: hi\r\n", ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(RecipientTextFromHeader(row.header), row.recipients) << row.name;
    }
}

} // namespace
} // namespace tegalo
