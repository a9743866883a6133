// Received mail in any charset and transfer encoding, read into Shift_JIS.
#include "mime/BodyDecode.h"
#include "mime/Charset.h"
#include "mime/HeaderDecode.h"
#include "mime/HtmlText.h"
#include "mime/PartName.h"
#include "store/Attachments.h"
#include "text/jis.h"
#include "text/transfer_encoding.h"
#include "text/unicode.h"
#include "mime/ReceivedMessage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace tegalo {
namespace {

std::string Sjis(std::string_view utf8) {
    return SjisLiteral(utf8);
}

std::string ReadData(const std::string& name) {
    std::ifstream in(std::string(TEGALO_TEST_DATA) + "/charset/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Message(std::string_view headers, std::string_view body) {
    return std::string(headers) + "\r\n\r\n" + std::string(body);
}

// The same text kept in four charsets is stored as the same Shift_JIS
// bytes, whether it comes as it is or in base64.
TEST(MimeBody, OneTextInFourCharsetsGivesOneStoredBody) {
    const std::string expected = ReadData("text.shift_jis.txt");
    ASSERT_FALSE(expected.empty());
    for (const char* charset : {"utf-8", "euc-jp", "shift_jis", "iso-2022-jp"}) {
        const std::string text = ReadData(std::string("text.") + charset + ".txt");
        const std::string type = std::string("Content-Type: text/plain; charset=\"") + charset + "\"";
        EXPECT_EQ(SplitReceivedMessage(Message(type, text)).body, expected) << charset;
        const ReceivedMessage base64 =
            SplitReceivedMessage(Message(type + "\r\nContent-Transfer-Encoding: base64", EncodeBase64Lines(text)));
        EXPECT_EQ(base64.body, expected) << charset << " in base64";
        EXPECT_EQ(base64.replaced, 0) << charset;
        DecodeTally unlabelled;
        if (std::string_view(charset) != "iso-2022-jp") {
            EXPECT_EQ(UnlabelledToSjis(text, unlabelled), expected) << charset << " without a label";
        }
    }
}

TEST(MimeBody, TransferEncodingsAndCharsets) {
    struct Row {
        const char* name;
        std::string headers, body, expected;
        int replaced = 0;
    };
    const std::vector<Row> rows = {
        {"quoted-printable UTF-8, lower-case hex, soft breaks",
         "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: Quoted-Printable",
         "=e3=81=82=E3=81=\r\n=84 x=3Dy =\r\nz", Sjis("あい x=y z")},
        {"base64 with LF line ends gets CR LF",
         "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64", EncodeBase64("a\nb\n"),
         "a\r\nb\r\n"},
        {"ISO-8859-1 letters without a Shift_JIS form", "Content-Type: text/plain; charset=iso-8859-1",
         "Fr\xF6sche \xB0", "Fr" + Sjis("〓") + "sche " + Sjis("°"), 1},
        {"windows-1252 quotes", "Content-Type: text/plain; charset=windows-1252", "\x93q\x94", Sjis("“q”")},
        {"GB2312", "Content-Type: text/plain; charset=gb2312", "\xD6\xD0\xCE\xC4", Sjis("中文")},
        {"Big5", "Content-Type: text/plain; charset=big5", "\xA4\xA4\xA4\xE5", Sjis("中文")},
        {"KOI8-R", "Content-Type: text/plain; charset=koi8-r", "\xF0\xD2\xC9", Sjis("При")},
        {"EUC-KR Hangul has no Shift_JIS form", "Content-Type: text/plain; charset=euc-kr", "\xC7\xD1 a", Sjis("〓 a"),
         1},
        {"emoji and an invalid byte in UTF-8", "Content-Type: text/plain; charset=utf-8", "\xF0\x9F\x98\x80 \xFF ok",
         Sjis("〓 〓 ok"), 2},
        {"unknown charset read from the bytes", "Content-Type: text/plain; charset=x-unknown-thing", "\xE3\x81\x82",
         Sjis("あ")},
        {"UTF-8 mislabelled as ISO-2022-JP", "Content-Type: text/plain; charset=iso-2022-jp", "\xE3\x81\x82",
         Sjis("あ")},
        {"unlabelled EUC-JP", "Content-Type: text/plain", "\xA4\xA2\xA4\xA4\xA4\xA6\xB4\xC1\xBB\xFA",
         Sjis("あいう漢字")},
        {"unlabelled Shift_JIS kept", "Content-Type: text/plain", Sjis("あいう漢字"), Sjis("あいう漢字")},
        {"ISO-2022-JP run left open ends at its line", "Content-Type: text/plain; charset=iso-2022-jp",
         "\x1b$B$\"\r\nabc", Sjis("あ") + "\r\nabc"},
        {"ESC ( I half-width katakana, ESC ( J roman", "Content-Type: text/plain; charset=iso-2022-jp",
         "\x1b(I12\x1b(Jz\x1b$@$\"\x1b(B", "\xB1\xB2z" + Sjis("あ")},
    };
    for (const Row& row : rows) {
        const ReceivedMessage message = SplitReceivedMessage(Message(row.headers, row.body));
        EXPECT_EQ(message.body, row.expected) << row.name;
        EXPECT_EQ(message.replaced, row.replaced) << row.name;
    }
}

// For text whose runs are closed, the receive path converts ISO-2022-JP
// exactly as JisToSjis always has.
TEST(MimeBody, Iso2022JpConvertsAsJisToSjis) {
    std::mt19937 rng(7);
    for (int round = 0; round < 500; ++round) {
        std::string text;
        for (int piece = 0; piece < 8; ++piece) {
            if (rng() % 2 == 0) {
                text += "ab c\r\n" + std::string(rng() % 3, '!');
            } else {
                text += "\x1b$B";
                for (auto n = rng() % 6; n > 0; --n) {
                    text.push_back(static_cast<char>(0x21 + rng() % 94));
                    text.push_back(static_cast<char>(0x21 + rng() % 94));
                }
                text += "\x1b(B";
            }
        }
        DecodeTally tally;
        EXPECT_EQ(Iso2022JpToSjis(text, tally), JisToSjis(text)) << round;
        EXPECT_FALSE(tally.jisError);
    }
}

// Where ISO-2022-JP is malformed: what is kept, and when the receive
// session is told ("JIS code Error").
TEST(MimeBody, MalformedIso2022Jp) {
    struct Row {
        const char* name;
        std::string jis, expected;
        bool jisError;
        int replaced = 0;
    };
    const std::vector<Row> rows = {
        {"closed run", "\x1b$B$\"\x1b(B", Sjis("あ"), false},
        {"run left open at the end", "a\x1b$B$\"", "a" + Sjis("あ"), true},
        {"run left open before a line end, text after it kept", "\x1b$B$\"\r\n$\"", Sjis("あ") + "\r\n$\"", true},
        {"odd byte before the closing sequence dropped", "\x1b$B$\"$\x1b(Bz", Sjis("あ") + "z", false},
        {"8-bit byte inside a run", "\x1b$B$\xA2\x1b(B", Sjis("〓"), false, 1},
        {"JIS X 0212 has no Shift_JIS form", "\x1b$(D0!\x1b(B", Sjis("〓"), false, 1},
        {"closing sequence without an opening one", "\x1b(Bab", "ab", false},
        {"unknown escape sequence kept", "\x1b$)C", "\x1b$)C", false},
    };
    for (const Row& row : rows) {
        DecodeTally tally;
        EXPECT_EQ(Iso2022JpToSjis(row.jis, tally), row.expected) << row.name;
        EXPECT_EQ(tally.jisError, row.jisError) << row.name;
        EXPECT_EQ(tally.replaced, row.replaced) << row.name;
    }
}

TEST(MimeBody, CharsetLabels) {
    EXPECT_EQ(ClassifyCharset("\"ISO-2022-JP-2\""), CharsetKind::Iso2022Jp);
    EXPECT_EQ(ClassifyCharset("Windows-31J"), CharsetKind::ShiftJis);
    EXPECT_EQ(ClassifyCharset("UTF8"), CharsetKind::Utf8);
    EXPECT_EQ(ClassifyCharset("us-ascii"), CharsetKind::Unlabelled);
    EXPECT_EQ(ClassifyCharset("x-no-such-charset"), CharsetKind::Unlabelled);
    EXPECT_EQ(ClassifyCharset("utf-8//IGNORE"), CharsetKind::Unlabelled) << "iconv options are no charset";
    std::string name;
    EXPECT_EQ(ClassifyCharset("EUC-JP", &name), CharsetKind::Other);
    EXPECT_EQ(name, "EUC-JP-MS") << "the form with the characters Windows adds";
}

TEST(MimeHeader, EncodedWords) {
    struct Row {
        const char* name;
        std::string raw;
        std::string unfolded;
        std::string folded = unfolded;
    };
    const std::vector<Row> rows = {
        {"B in UTF-8, lower-case b", " =?utf-8?b?5pel5pys?=", Sjis(" 日本")},
        {"Q in ISO-8859-1 with underscores", " =?ISO-8859-1?Q?a_b=3Dc?=", " a b=c"},
        {"Q in Shift_JIS", " =?Shift_JIS?Q?=82=A0?=", Sjis(" あ")},
        {"B in EUC-JP", " =?EUC-JP?B?pKI=?=", Sjis(" あ")},
        {"B in GB2312", " =?gb2312?B?1tDOxA==?=", Sjis(" 中文")},
        {"B in KOI8-R", " =?koi8-r?B?8NLJ?=", Sjis(" При")},
        {"language suffix", " =?UTF-8*ja?Q?=E3=81=82?=", Sjis(" あ")},
        {"blank between words dropped", " =?UTF-8?Q?a?= =?UTF-8?Q?b?= c", " ab c"},
        {"fold between words dropped when unfolded, kept in the block",
         " =?ISO-2022-JP?B?GyRCJCIbKEI=?=\r\n =?ISO-2022-JP?B?GyRCJCQbKEI=?=", Sjis(" あい"), Sjis(" あ\r\n い")},
        {"fold in plain text keeps its blank", " a\r\n b", " a b", " a\r\n b"},
        {"UTF-8 character split between two words", " =?UTF-8?B?5pe=?= =?UTF-8?B?pQ==?=", Sjis(" 日")},
        {"split character, then a word of another charset", " =?UTF-8?B?5pe=?= =?ISO-8859-1?Q?x?=", Sjis(" 〓x")},
        {"ISO-2022-JP word left open ends with its word", " =?ISO-2022-JP?B?GyRCJCI=?= a", Sjis(" あ a")},
        {"word against text, as some mailers write", " x=?UTF-8?Q?=E3=81=82?=y", Sjis(" xあy")},
        {"raw UTF-8", " \xE6\x97\xA5 x", Sjis(" 日 x")},
        {"raw Shift_JIS", " " + Sjis("日") + " x", Sjis(" 日 x")},
        {"raw ISO-2022-JP left open ends at its line", " \x1b$B$\"\r\n x", Sjis(" あ") + " x", Sjis(" あ") + "\r\n x"},
        {"not a word: no end", " =?UTF-8?Q?abc", " =?UTF-8?Q?abc"},
        {"unknown charset read as UTF-8", " =?x-bogus?Q?=E3=81=82?=", Sjis(" あ")},
    };
    for (const Row& row : rows) {
        DecodeTally tally;
        const DecodedValue value = DecodeFieldValue(row.raw, tally);
        EXPECT_EQ(value.unfolded, row.unfolded) << row.name;
        EXPECT_EQ(value.folded, row.folded) << row.name;
    }
}

// A decoded line break cannot make a header field: the sender stays the one
// the message names.
TEST(MimeHeader, DecodedLineBreaksCannotForgeFields) {
    const std::string evil = EncodeBase64("x\r\nFrom: boss@example.jp\r\n\0y");
    const ReceivedMessage message = SplitReceivedMessage(
        Message("Subject: =?UTF-8?B?" + evil + "?=\r\nFrom: real@example.jp\r\nContent-Type: text/plain", "b"));
    EXPECT_EQ(message.from, " real@example.jp");
    EXPECT_EQ(message.subject, " x  From: boss@example.jp  ");
    EXPECT_EQ(message.header.find("\r\nFrom: boss"), std::string::npos);
    const ReceivedMessage q =
        SplitReceivedMessage(Message("Subject: =?US-ASCII?Q?a=0D=0AFrom:_x?=\r\nContent-Type: text/plain", "b"));
    EXPECT_EQ(q.from, "");
    EXPECT_EQ(q.header, "Subject: a  From: x\r\nContent-Type: text/plain");
}

TEST(MimeHeader, SubjectAndSenderInOtherCharsets) {
    const ReceivedMessage message = SplitReceivedMessage(
        Message("Subject: =?UTF-8?B?5Lya6K2w?=\r\n =?UTF-8?Q?=E3=81=AE?= notice\r\nFrom: =?UTF-8?B?5bGx55Sw?=\r\n"
                " <yamada@example.jp>\r\nContent-Type: text/plain; charset=UTF-8",
                "x"));
    EXPECT_EQ(message.subject, Sjis(" 会議の notice"));
    EXPECT_EQ(message.from, Sjis(" 山田 <yamada@example.jp>"));
    EXPECT_EQ(message.header, Sjis("Subject: 会議\r\n の notice\r\nFrom: 山田\r\n <yamada@example.jp>\r\n"
                                   "Content-Type: text/plain; charset=UTF-8"));
}

TEST(MimeParts, Names) {
    struct Row {
        const char* name;
        std::string headers;
        std::string type;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"filename preferred over name",
         "Content-Type: a/b; name=\"n.bin\"\r\nContent-Disposition: attachment; filename=\"f.bin\"", "a/b", "f.bin"},
        {"RFC 2231 continuations in UTF-8",
         "Content-Disposition: attachment;\r\n filename*0*=UTF-8''%E8%B3%87%E6;\r\n filename*1*=%96%99;\r\n"
         " filename*2=\".pdf\"",
         "a/b", Sjis("資料.pdf")},
        {"RFC 2231 in Shift_JIS", "Content-Disposition: attachment; filename*=shift_jis'ja'%8E%91%97%BF.txt", "a/b",
         Sjis("資料.txt")},
        {"RFC 2231 in ISO-8859-1", "Content-Type: a/b; name*=iso-8859-1''caf%E9.txt", "a/b",
         "caf" + Sjis("〓") + ".txt"},
        {"encoded words in a quoted name", "Content-Type: a/b; name=\"=?UTF-8?B?6LOH5paZ?=.txt\"", "a/b",
         Sjis("資料.txt")},
        {"raw UTF-8 name", "Content-Disposition: attachment; filename=\"\xE8\xB3\x87.txt\"", "a/b", Sjis("資.txt")},
        {"name without its ;", "Content-Type: application/pdf name=\"x.pdf\"", "application/pdf", "x.pdf"},
        {"unnamed message", "Content-Type: message/rfc822", "message/rfc822", "message.eml"},
        {"unnamed picture", "Content-Type: image/png", "image/png", "image.png"},
        {"unnamed other", "Content-Type: application/x-thing", "application/x-thing", "part.bin"},
        {"unnamed HTML", "Content-Type: text/html", "text/html", Sjis("HTML形式.html")},
    };
    for (const Row& row : rows) {
        DecodeTally tally;
        EXPECT_EQ(PartName(row.headers, row.type, false, tally), row.expected) << row.name;
    }
}

TEST(MimeHtml, ReadableText) {
    EXPECT_EQ(HtmlToText("<html><head><title>T</title><style>p{}</style></head><body>"
                         "<script>alert(1)</script><p>Hello&nbsp;<b>world</b> &amp;\n  you</p>"
                         "<div>a<br>b</div><ul><li>one<li>two</ul><pre>  x\n  y</pre></body></html>"),
              "Hello world & you\r\n\r\na\r\nb\r\n\r\n\xE3\x83\xBBone\r\n\xE3\x83\xBBtwo\r\n\r\n  x\r\n  y\r\n");
    EXPECT_EQ(HtmlMetaCharset("<HTML><META http-equiv=Content-Type content=\"text/html; charset=Shift_JIS\">"),
              "shift_jis");
    DecodeTally tally;
    EXPECT_EQ(HtmlBodyToSjis("<meta charset=\"euc-jp\"><p>\xA4\xA2</p>", "", "7bit", tally), Sjis("あ\r\n"));
}

TEST(MimeParts, HtmlOnlyAlternativeAndSinglePartPicture) {
    const std::string html = "<p>" + Sjis("こんにちは") + "</p>";
    const ReceivedMessage htmlOnly = SplitReceivedMessage(Message(
        "Content-Type: text/html; charset=Shift_JIS\r\nContent-Transfer-Encoding: base64", EncodeBase64Lines(html)));
    ASSERT_EQ(htmlOnly.partCount, 2);
    EXPECT_EQ(PartRecordContent(htmlOnly.body), Sjis("こんにちは\r\n"));
    ASSERT_EQ(htmlOnly.attachments.size(), 1u);
    EXPECT_EQ(PartRecordName(htmlOnly.attachments[0]), Sjis("HTML形式.html"));
    EXPECT_EQ(DecodeAttachment(PartRecordContent(htmlOnly.attachments[0]), PartRecordEncoding(htmlOnly.attachments[0])),
              html);

    // Three attachments and the HTML alternative: the attachments keep their
    // slots and nothing counts as left out.
    std::string mixed = "--m\r\nContent-Type: multipart/alternative; boundary=a\r\n\r\n--a\r\n"
                        "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                        EncodeBase64("テキスト") + "\r\n--a\r\nContent-Type: text/html\r\n\r\n<p>t</p>\r\n--a--\r\n";
    for (const char* name : {"1.png", "2.png", "3.png"}) {
        mixed += std::string("--m\r\nContent-Type: image/png; name=") + name + "\r\n\r\nx\r\n";
    }
    const ReceivedMessage alternative =
        SplitReceivedMessage(Message("Content-Type: multipart/mixed; boundary=m", mixed + "--m--"));
    EXPECT_EQ(PartRecordContent(alternative.body), Sjis("テキスト"));
    ASSERT_EQ(alternative.attachments.size(), 3u);
    EXPECT_EQ(PartRecordName(alternative.attachments[0]), "1.png");
    EXPECT_EQ(alternative.partsLeftOut, 0);

    const ReceivedMessage picture =
        SplitReceivedMessage(Message("Content-Type: image/jpeg\r\nContent-Transfer-Encoding: base64", "/9j/\r\n"));
    ASSERT_EQ(picture.partCount, 2);
    EXPECT_EQ(PartRecordContent(picture.body), "");
    EXPECT_EQ(PartRecordName(picture.attachments[0]), "image.jpg");
    EXPECT_EQ(DecodeAttachment(PartRecordContent(picture.attachments[0]), "base64"), "\xFF\xD8\xFF");
}

TEST(MimeBody, BrokenInputIsReadWithoutFault) {
    const std::vector<std::string> inputs = {"=",    "=4",    "=\r",     "==",       "=?",       "=?a?b?",
                                             "\x1b", "\x1b$", "\x1b$B!", "\xE3\x81", "\xFF\xFE", std::string(3, '\0')};
    for (const std::string& in : inputs) {
        DecodeTally tally;
        (void)DecodeQuotedPrintableBody(in);
        (void)DecodeBase64Body(in);
        (void)DecodeFieldValue(in, tally);
        (void)ToSjis("utf-8", in, tally);
        (void)ToSjis("euc-jp", in, tally);
        (void)Iso2022JpToSjis(in, tally);
        (void)HtmlToText(in);
        (void)SplitReceivedMessage("Subject: " + in + "\r\nContent-Type: text/html\r\n\r\n" + in);
    }
    EXPECT_EQ(DecodeQuotedPrintableBody("a=\r\nb=  \r\nc=zz="), "abc=zz");
    EXPECT_EQ(DecodeBase64Body("QUJD\r\nRA==\r\nRUY="), "ABCDEF");
}

// Long runs of the alphabet are decoded sixteen characters at a time; what
// breaks a run (a line end, a blank, a stray byte, padding in the middle)
// must give what a group-by-group reading gives: the bytes of every
// complete group, stray bytes skipped, padding ending its group.
TEST(MimeBody, Base64BodyReadInRunsAsGroupByGroup) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    auto reference = [&](std::string_view in) {
        std::string out;
        unsigned bits = 0;
        int count = 0;
        auto partial = [&] {
            if (count == 2) {
                out += static_cast<char>(bits >> 4);
            } else if (count == 3) {
                out += {static_cast<char>(bits >> 10), static_cast<char>(bits >> 2)};
            }
            bits = 0;
            count = 0;
        };
        for (const char c : in) {
            if (const std::size_t value = alphabet.find(c); value != std::string::npos) {
                bits = (bits << 6) | static_cast<unsigned>(value);
                if (++count == 4) {
                    out += {static_cast<char>(bits >> 16), static_cast<char>(bits >> 8), static_cast<char>(bits)};
                    bits = 0;
                    count = 0;
                }
            } else if (c == '=') {
                partial();
            }
        }
        partial();
        return out;
    };
    const std::string breaks = "\r\n= !\x80";
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        std::string in;
        const auto length = static_cast<std::size_t>(rng() % 400);
        for (std::size_t k = 0; k < length; ++k) {
            const auto pick = static_cast<std::size_t>(rng() % 100);
            in += pick < 94 ? alphabet[rng() % 64] : breaks[pick - 94];
        }
        EXPECT_EQ(DecodeBase64Body(in), reference(in)) << in;
    }
}

} // namespace
} // namespace tegalo
