#include "mime/ReceivedMessage.h"

#include "text/header_words.h"
#include "text/jis.h"
#include "text/unicode.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tegalo {
namespace {

using namespace tegalo::literals;

std::string Sjis(std::string_view utf8) {
    return SjisLiteral(utf8);
}
// ISO-2022-JP of a UTF-8 text, and the same as an encoded word.
std::string Jis(std::string_view utf8) {
    return SjisToJis(Sjis(utf8));
}
std::string Word(std::string_view utf8) {
    return EncodeHeaderWords(Jis(utf8));
}

std::string Percent(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
        out += hex;
    }
    return out;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A message text as the session hands it over: without its last CR LF.
std::string AsReceived(std::string text) {
    if (text.ends_with("\r\n")) {
        text.resize(text.size() - 2);
    }
    return text;
}

std::string Part(std::string_view name, std::string_view encoding, std::string_view content) {
    return PartHeader(name, encoding) + std::string(content);
}

TEST(Pop3SplitMessage, Pieces) {
    struct Row {
        const char* name;
        std::string text;
        std::string subject, from, date, body;
        std::vector<std::string> attachments = {};
        int partCount = 0;
        int partsLeftOut = 0;
    };
    const std::string mixed = "Content-Type: multipart/mixed; boundary=";
    const std::vector<Row> rows = {
        {"folded Japanese subject, JIS body",
         "From: " + Word("山田") + " <yamada@example.jp>\r\nSubject: " + Word("会議の") + "\r\n " + Word("お知らせ") +
             "\r\nDate: Mon, 1 Jan 2024 09:00:00 +0900\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" +
             Jis("本文です。\r\n2行目"),
         Sjis(" 会議のお知らせ"), Sjis(" 山田 <yamada@example.jp>"), " Mon, 1 Jan 2024 09:00:00 +0900",
         Sjis("本文です。\r\n2行目")},
        // Unfolding removes the line end only; the blank that folded it stays.
        {"tab-folded subject", "Subject: a\r\n\tb\r\nX: y\r\n\r\n", " a\tb", "", "", "\r\n\r\n"},
        // Tegalo has always stored such a body with the blank line in front.
        {"no Content-Type keeps the blank line", "Subject: s\r\n\r\nbody", " s", "", "", "\r\n\r\nbody"},
        {"no blank line: all header", "Subject: only", " only", "", "", ""},
        {"fields only at line start, any case",
         "DKIM-Signature: v=1; h=From:Subject:Date;\r\n b=xyz\r\nX-Original-From: bad\r\nX-Subject: bad\r\n"
         "subject: real\r\nFROM: me\r\ndate: today\r\nContent-type: TEXT/plain\r\n\r\nx",
         " real", " me", " today", "x"},
        {"single part of another type is an attachment",
         "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n\r\nQUJD", "", "", "",
         Part("", "", ""), {Part("part.bin", "base64\r\n", "QUJD")}, 2},
        {"multipart without boundary stored like text", "Content-Type: multipart/mixed\r\n\r\n--x\r\nhi", "", "", "",
         "--x\r\nhi"},
        {"multipart whose boundary never comes stored like text", mixed + "zz\r\n\r\n--x\r\nhi", "", "", "",
         "--x\r\nhi"},
        {"boundary without =_, unquoted",
         mixed + "simple\r\n\r\npreamble\r\n--simple\r\nContent-Type: text/plain\r\n\r\nhi\r\n\r\n--simple\r\n"
                 "Content-Type: application/pdf; name=\"a.pdf\"\r\nContent-Transfer-Encoding: Base64\r\n\r\nQUJD\r\n"
                 "--simple--\r\nepilogue",
         "", "", "", Part("", "", "hi\r\n"), {Part("a.pdf", "base64\r\n", "QUJD")}, 2},
        {"boundary with =_, quoted and folded, padding after the delimiter",
         "Content-Type: multipart/mixed;\r\n  boundary=\"----=_NextPart_000_0017_01C3CBA8.DEA1DD40\"\r\n\r\n"
         "------=_NextPart_000_0017_01C3CBA8.DEA1DD40  \r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" +
             Jis("こんにちは") +
             "\r\n------=_NextPart_000_0017_01C3CBA8.DEA1DD40\r\nContent-Type: application/octet-stream;\r\n"
             " name=\"" + Word("資料") + ".txt\"\r\nContent-Transfer-Encoding: base64\r\n\r\nQUJD\r\n"
             "------=_NextPart_000_0017_01C3CBA8.DEA1DD40--",
         "", "", "", Part("", "", Sjis("こんにちは")), {Part(Sjis("資料.txt"), "base64\r\n", "QUJD")}, 2},
        {"alternative inside mixed, text part not first",
         mixed + "\"outer\"\r\n\r\n--outer\r\nContent-Type: image/png; name=a.png;\r\n\r\nPNG\r\n--outer\r\n"
                 "Content-Type: multipart/alternative; boundary=\"outer-alt\"\r\n\r\n--outer-alt\r\n"
                 "Content-Type: text/plain\r\n\r\ntext\r\n--outer-alt\r\nContent-Type: text/html; name=x.html\r\n"
                 "Content-Transfer-Encoding: quoted-printable\r\n\r\n<p>\r\n--outer-alt--\r\n--outer--\r\n",
         "", "", "", Part("", "", "text"),
         {Part("a.png", "7bit\r\n", "PNG"), Part(Sjis("HTML形式.html"), "quoted-pr", "<p>")}, 3},
        {"five attachments keep three",
         mixed + "b\r\n\r\n--b\r\n\r\nt\r\n--b\r\nContent-Type: a/b; name=1\r\n\r\n1\r\n--b\r\n"
                 "Content-Type: a/b; name=2\r\n\r\n2\r\n--b\r\nContent-Type: a/b; name=3\r\n\r\n3\r\n--b\r\n"
                 "Content-Type: a/b; name=4\r\n\r\n4\r\n--b\r\nContent-Type: a/b; name=5\r\n\r\n5\r\n--b--",
         "", "", "", Part("", "", "t"),
         {Part("1", "7bit\r\n", "1"), Part("2", "7bit\r\n", "2"), Part("3", "7bit\r\n", "3")}, 4, 2},
        {"no text part leaves the text slot empty",
         mixed + "b\r\n\r\n--b\r\nContent-Type: text/html\r\n\r\n<p>\r\n--b--", "", "", "", Part("", "", ""),
         {Part(Sjis("HTML形式.html"), "7bit\r\n", "<p>")}, 2},
        {"text/plain attachment is an attachment",
         mixed + "b\r\n\r\n--b\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=\"a.txt\""
                 "\r\n\r\nA\r\n--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n--b--",
         "", "", "", Part("", "", "body"), {Part("a.txt", "7bit\r\n", "A")}, 2},
        {"RFC 2231 names when there is no name=",
         mixed + "b\r\n\r\n--b\r\nContent-Type: a/b\r\nContent-Disposition: attachment;\r\n"
                 " filename*=iso-2022-jp''" + Percent(Jis("資料")) + ".txt\r\n\r\n1\r\n--b\r\nContent-Type: a/b;\r\n"
                 " name*0*=utf-8''%E8%B3%87; name*1=.pdf\r\n\r\n2\r\n--b--",
         "", "", "", Part("", "", ""), {Part(Sjis("資料.txt"), "7bit\r\n", "1"), Part(Sjis("資.pdf"), "7bit\r\n", "2")},
         3},
        {"boundary that starts another boundary",
         mixed + "\"=_b\"\r\n\r\n--=_b\r\nContent-Type: multipart/alternative; boundary=\"=_b_alt\"\r\n\r\n"
                 "--=_b_alt\r\nContent-Type: text/plain\r\n\r\nin\r\n--=_b_alt--\r\n\r\n--=_b\r\n"
                 "Content-Type: a/b; name=z\r\n\r\nZ\r\n--=_b--",
         "", "", "", Part("", "", "in"), {Part("z", "7bit\r\n", "Z")}, 2},
    };
    for (const Row& row : rows) {
        const ReceivedMessage message = SplitReceivedMessage(row.text);
        EXPECT_EQ(message.subject, row.subject) << row.name;
        EXPECT_EQ(message.from, row.from) << row.name;
        EXPECT_EQ(message.date, row.date) << row.name;
        EXPECT_EQ(message.body, row.body) << row.name;
        EXPECT_EQ(message.attachments, row.attachments) << row.name;
        EXPECT_EQ(message.partCount, row.partCount) << row.name;
        EXPECT_EQ(message.partsLeftOut, row.partsLeftOut) << row.name;
        EXPECT_FALSE(message.jisError) << row.name;
    }
}

TEST(Pop3SplitMessage, HeaderBlockIsDecodedWithoutItsLastLineEnd) {
    const ReceivedMessage message =
        SplitReceivedMessage("Subject: " + Word("件名") + "\r\nTo: a@b\r\n\r\n" + Jis("本文"));
    EXPECT_EQ(message.header, Sjis("Subject: 件名\r\nTo: a@b"));
    EXPECT_EQ(message.body, Sjis("\r\n\r\n本文"));
}

TEST(Pop3SplitMessage, FlagsWhatDoesNotMakeItWhole) {
    const ReceivedMessage unclosed =
        SplitReceivedMessage("Content-Type: text/plain\r\n\r\nok \x1b$B$\"");
    EXPECT_TRUE(unclosed.jisError);
    EXPECT_EQ(unclosed.body.substr(0, 3), "ok ") << "the text is kept";

    const ReceivedMessage nul = SplitReceivedMessage(std::string("Subject: a\0b\r\n\r\nc\0", 18));
    EXPECT_TRUE(nul.nulRemoved);
    EXPECT_EQ(nul.subject, " ab");
    EXPECT_EQ(nul.RecordText().find('\0'), std::string::npos);

    // Three attachments of 400 000 bytes: the last is left out to fit.
    std::string big = "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nt\r\n";
    for (int i = 0; i < 3; ++i) {
        big += "--b\r\nContent-Type: a/b; name=" + std::to_string(i) + "\r\n\r\n" + std::string(400'000, 'A') + "\r\n";
    }
    ReceivedMessage large = SplitReceivedMessage(big + "--b--");
    EXPECT_FALSE(large.FitsRecord());
    EXPECT_TRUE(large.DropAttachmentsToFit());
    EXPECT_EQ(large.attachments.size(), 2u);
    EXPECT_EQ(large.partsLeftOut, 1);
    EXPECT_EQ(large.partCount, 3);
    EXPECT_EQ(large.Sizes()[10], 0);
}

// Only the text is converted: a forwarded message and 8bit or binary
// content reach the record as the sender sent them.
TEST(Pop3SplitMessage, AttachmentsAreStoredByteForByte) {
    const std::string forwarded = "From: x@example.jp\r\nSubject: " + Word("転送") + "\r\n\r\n" + Jis("本文") + "\r\n";
    const std::string eightBit = "raw " + Jis("漢字") + " \x81\xfe\xff";
    const std::string text =
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" +
        Jis("本文です") + "\r\n--b\r\nContent-Type: message/rfc822\r\n\r\n" + forwarded +
        "--b\r\nContent-Type: application/octet-stream; name=a.bin\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" +
        eightBit + "\r\n--b\r\nContent-Type: text/plain; name=j.txt\r\nContent-Disposition: attachment\r\n\r\n" +
        Jis("添付") + "\r\n--b--";
    const ReceivedMessage message = SplitReceivedMessage(text);
    EXPECT_EQ(message.body, Part("", "", Sjis("本文です")));
    ASSERT_EQ(message.attachments.size(), 3u);
    EXPECT_EQ(PartRecordContent(message.attachments[0]), forwarded.substr(0, forwarded.size() - 2));
    EXPECT_EQ(PartRecordContent(message.attachments[1]), eightBit);
    // A 7bit attachment keeps the conversion Tegalo has always applied.
    EXPECT_EQ(PartRecordContent(message.attachments[2]), Sjis("添付"));
    EXPECT_FALSE(message.jisError);
}

// A long name loses its middle, never its extension nor half a character.
TEST(Pop3SplitMessage, LongAttachmentNamesKeepTheirExtension) {
    std::string kanji;
    for (int i = 0; i < 30; ++i) {
        kanji += "報告書";
    }
    const std::string sjisName = Sjis(kanji) + ".xlsx";
    const std::string sjisHeader = PartHeader(sjisName, "base64");
    const std::string_view sjisCut = PartRecordName(sjisHeader);
    EXPECT_EQ(sjisCut, Sjis(kanji).substr(0, 92) + ".xlsx");

    // One byte less room: the character that would not fit whole goes.
    const std::string odd = "x" + sjisName;
    EXPECT_EQ(std::string(PartRecordName(PartHeader(odd, ""))), "x" + Sjis(kanji).substr(0, 92) + ".xlsx");

    // An ISO-2022-JP name closes its cut run before the extension.
    const std::string jisName = Jis(kanji) + ".pdf";
    const std::string jisHeader = PartHeader(jisName, "");
    const std::string_view jisCut = PartRecordName(jisHeader);
    EXPECT_LE(jisCut.size(), 98u);
    EXPECT_TRUE(jisCut.ends_with("\x1b(B.pdf")) << jisCut;
    bool jisError = true;
    EXPECT_EQ(JisToSjis(jisCut, &jisError), Sjis(kanji).substr(0, 88) + ".pdf");
    EXPECT_FALSE(jisError);

    // No usable extension (too long, or none): cut at the end as before.
    const std::string noExtension = std::string(120, 'a') + "." + std::string(30, 'b');
    EXPECT_EQ(std::string(PartRecordName(PartHeader(noExtension, ""))), std::string(98, 'a'));
}

TEST(Pop3SplitMessage, RecordLayout) {
    EXPECT_EQ(PartHeader("", ""), std::string(98, ' ') + "\r\n" + std::string(9, ' '));
    EXPECT_EQ(PartHeader("a.txt", "quoted-printable\r\n").substr(98), "\r\nquoted-pr");
    // 97 one-byte characters and a double-byte one: the latter does not fit.
    const std::string name = std::string(97, 'x') + Sjis("字");
    EXPECT_EQ(PartHeader(name, "").substr(0, 98), std::string(97, 'x') + " ");

    // A long Japanese attachment name keeps whole characters: "x" and 48 of
    // its 60 double-byte characters fill 97 bytes, the 98th is a blank.
    std::string kanji;
    for (int i = 0; i < 60; ++i) {
        kanji += "字";
    }
    const ReceivedMessage longName = SplitReceivedMessage(
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nhi\r\n"
        "--b\r\nContent-Type: application/octet-stream;\r\n name=\"" + Word("x" + kanji) +
        "\"\r\nContent-Transfer-Encoding: base64\r\n\r\nQUJD\r\n--b--");
    ASSERT_EQ(longName.attachments.size(), 1u);
    const std::string cut = Sjis("x" + kanji).substr(0, 97);
    EXPECT_EQ(longName.attachments[0].substr(0, 98), cut + " ");
    EXPECT_EQ(PartRecordName(longName.attachments[0]), cut);

    ReceivedMessage message;
    message.subject = "s";
    message.from = "fr";
    message.date = "dat";
    message.header = "header";
    message.body = PartHeader("", "") + "body";
    message.attachments = {PartHeader("n", "7bit\r\n") + "x"};
    message.partCount = 2;
    const PartSizes expected = {60 + 1 + 2 + 3 + 6 + 113 + 110, 1, 2, 3, 2, 0, 6, 113, 110, 0, 0};
    EXPECT_EQ(message.Sizes(), expected);
    EXPECT_EQ(message.RecordText(), "sfrdatheader" + message.body + message.attachments[0]);
}

// Every message of the corpus splits without a fault into a record whose
// sizes describe it.
TEST(Pop3SplitMessage, CorpusMessagesGiveSoundRecords) {
    if (!std::filesystem::is_directory(TEGALO_CORPUS)) {
        GTEST_SKIP() << "no corpus at " << TEGALO_CORPUS << ": the shared test messages are not on this machine";
    }
    int messages = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TEGALO_CORPUS)) {
        if (entry.path().extension() != ".eml") {
            continue;
        }
        ++messages;
        const std::string name = entry.path().filename().string();
        ReceivedMessage message = SplitReceivedMessage(AsReceived(ReadFile(entry.path())));
        if (!message.DropAttachmentsToFit()) {
            EXPECT_EQ(name, "m01-over-1MB-pdf.eml") << "only the 1.5 MB message is too large";
            continue;
        }
        const PartSizes sizes = message.Sizes();
        const std::string text = message.RecordText();
        EXPECT_EQ(static_cast<std::size_t>(sizes[0]), 60 + text.size()) << name;
        EXPECT_EQ(text.find('\0'), std::string::npos) << name;
        EXPECT_EQ(message.header.find("\r\n\r\n"), std::string::npos) << name;
        if (message.partCount == 0) {
            EXPECT_TRUE(message.attachments.empty()) << name;
            continue;
        }
        EXPECT_EQ(message.partCount, 1 + static_cast<int>(message.attachments.size())) << name;
        EXPECT_EQ(message.body.substr(0, 109), PartHeader("", "")) << name;
        for (const std::string& attachment : message.attachments) {
            ASSERT_GE(attachment.size(), 109u) << name;
            EXPECT_EQ(attachment.substr(98, 2), "\r\n") << name;
        }
    }
    EXPECT_EQ(messages, 56);
}

// Whole records of a few corpus messages, kept as files: the size block
// ("%6d" each) followed by the record text.
TEST(Pop3SplitMessage, CorpusGoldenRecords) {
    if (!std::filesystem::is_directory(TEGALO_CORPUS)) {
        GTEST_SKIP() << "no corpus at " << TEGALO_CORPUS << ": the shared test messages are not on this machine";
    }
    const char* names[] = {"jp01-iso2022jp-2att", "jp11-att-rfc2047-3att", "jp25-thunderbird-iso2022jp",
                           "m07-netscape-2att-alt", "m17-similar-boundaries", "b01-bad-final-boundary"};
    for (const char* name : names) {
        const ReceivedMessage message =
            SplitReceivedMessage(AsReceived(ReadFile(std::string(TEGALO_CORPUS) + "/" + name + ".eml")));
        std::string record;
        for (const int size : message.Sizes()) {
            char field[8];
            std::snprintf(field, sizeof field, "%6d", size);
            record += field;
        }
        record += message.RecordText();
        const std::string golden = std::string(TEGALO_TEST_DATA) + "/pop3/" + name + ".record";
        if (std::getenv("TEGALO_WRITE_GOLDEN") != nullptr) {
            std::ofstream(golden, std::ios::binary) << record;
        }
        EXPECT_EQ(record, ReadFile(golden)) << name;
    }
}

} // namespace
} // namespace tegalo
