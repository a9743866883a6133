// The pieces of the wire form: address lists, the charset choice, encoded
// words, folding, RFC 2231 parameters, quoted-printable and charset labels.
#include "mime/AddressList.h"
#include "mime/WireEncode.h"

#include "text/header_words.h"
#include "text/jis.h"
#include "text/transfer_encoding.h"
#include "text/unicode.h"

#include <gtest/gtest.h>

#include <random>

namespace tegalo {
namespace {

using namespace tegalo::literals;

std::string Sjis(std::string_view utf8) {
    return SjisLiteral(utf8);
}

// "name|address" per mailbox, "group:" lines before members, one a line.
std::string Shown(const AddressListParse& list) {
    std::string shown;
    for (const AddressListItem& item : list.items) {
        if (item.group) {
            shown += "group:" + SjisToUtf8(item.groupName) + "\n";
        }
        for (const MailboxAddress& m : item.mailboxes) {
            shown += SjisToUtf8(m.name) + "|" + m.address + "\n";
        }
    }
    return shown;
}

TEST(AddressList, ReadsWhatPeopleType) {
    const struct {
        const char* name;
        std::string text;
        std::string shown;
    } rows[] = {
        {"bare addresses", "a@x.jp, b@x.jp", "|a@x.jp\n|b@x.jp\n"},
        {"Tegalo's own form, no blank before <", Sjis("山田<y@x.jp>,鈴木<s@x.jp>"), "山田|y@x.jp\n鈴木|s@x.jp\n"},
        {"a quoted name with a comma is one recipient", "\"Suzuki, Ichiro\" <s@x.jp>", "Suzuki, Ichiro|s@x.jp\n"},
        {"escapes in a quoted name", "\"a \\\"b\\\" c\" <s@x.jp>", "a \"b\" c|s@x.jp\n"},
        {"comments anywhere", "(boss) Taro (x) <t@x.jp> (Tokyo), b@x.jp (Bob)", "Taro|t@x.jp\n|b@x.jp\n"},
        {"nested comment", "a@x.jp (one (two) three)", "|a@x.jp\n"},
        {"a group and what follows it", "Team: a@x.jp, B <b@x.jp>;, c@x.jp",
         "group:Team\n|a@x.jp\nB|b@x.jp\n|c@x.jp\n"},
        {"an empty group", "undisclosed-recipients:;", "group:undisclosed-recipients\n"},
        {"second bytes 0x5C and 0x40 stay in the name", Sjis("表ソァ <h@x.jp>"), "表ソァ|h@x.jp\n"},
        {"half-width katakana in a name", Sjis("ﾔﾏﾀﾞ <y@x.jp>"), "ﾔﾏﾀﾞ|y@x.jp\n"},
        {"empty elements and a trailing comma", ",a@x.jp,,b@x.jp,\r\n", "|a@x.jp\n|b@x.jp\n"},
        {"quoted local part and domain literal", "\"a b\"@x.jp, c@[192.0.2.1]", "|\"a b\"@x.jp\n|c@[192.0.2.1]\n"},
        {"an old source route is dropped", "<@relay.jp:a@x.jp>", "|a@x.jp\n"},
    };
    for (const auto& row : rows) {
        const AddressListParse list = ParseAddressList(row.text);
        EXPECT_TRUE(list.Ok()) << row.name << ": " << SjisToUtf8(list.badText);
        EXPECT_EQ(Shown(list), row.shown) << row.name;
    }
}

TEST(AddressList, RefusesWhatCannotBeAnAddressWithItsText) {
    const struct {
        const char* name;
        std::string text;
        std::string bad;
    } rows[] = {
        {"a name without an address", "a@x.jp, Taro", "Taro"},
        {"no domain", "taro", "taro"},
        {"unclosed angle", "Taro <t@x.jp, b@x.jp", "Taro <t@x.jp, b@x.jp"},
        {"unclosed quote", "\"Taro <t@x.jp>", "\"Taro <t@x.jp>"},
        {"a group without its ;", "Team: a@x.jp", "Team: a@x.jp"},
        {"two addresses without a comma", "a@x.jp b@x.jp", "a@x.jp b@x.jp"},
        {"a Japanese address", Sjis("山田@x.jp"), Sjis("山田@x.jp")},
    };
    for (const auto& row : rows) {
        const AddressListParse list = ParseAddressList(row.text);
        EXPECT_FALSE(list.Ok()) << row.name;
        EXPECT_EQ(SjisToUtf8(list.badText), SjisToUtf8(row.bad)) << row.name;
        EXPECT_TRUE(list.items.empty()) << row.name;
    }
}

TEST(AddressList, SplitsTheCcLineOffTheRecipientText) {
    const RecipientTexts texts = SplitRecipientText("a@x.jp, b@x.jp,\r\nCc: c@x.jp");
    EXPECT_EQ(texts.to, "a@x.jp, b@x.jp");
    EXPECT_EQ(texts.cc, "c@x.jp");
    EXPECT_EQ(SplitRecipientText("a@x.jp,").to, "a@x.jp,") << "without a Cc line the text stays as typed";
}

TEST(WireEncode, WhatFitsIso2022Jp) {
    const struct {
        const char* name;
        std::string text;
        bool fits;
    } rows[] = {
        {"ASCII", "Hello, world", true},
        {"JIS X 0208 kanji and kana", Sjis("漢字とかなとカナ"), true},
        {"last kanji of JIS X 0208", Sjis("熙"), true},
        {"NEC row 13", Sjis("①Ⅰ㍉"), true},
        {"IBM extension kanji", Sjis("髙"), false},
        {"NEC-selected IBM extension", "\xED\x40", false},
        {"IBM extension roman numeral", Sjis("ⅰ"), false},
        {"half-width katakana", Sjis("ｶﾅ"), false},
        {"ESC would switch the reader's charset", "a\x1b$Bb", false},
        {"user-defined area", "\xF0\x40", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(FitsIso2022Jp(row.text), row.fits) << row.name;
    }
}

// Every word within its limit, whole characters in each, and the words
// decode back to the text, blanks included.
TEST(WireEncode, EncodedWordsKeepEveryCharacterAndBlank) {
    std::string long_;
    for (int i = 0; i < 12; ++i) {
        long_ += Sjis("会議 の件 ");
    }
    const std::string mixed = Sjis("Re: 髙橋様 ｶﾀｶﾅ ① と ABC def");
    for (const std::string& text : {long_, mixed, std::string("x")}) {
        for (const WireCharset charset : {WireCharset::iso2022jp, WireCharset::utf8}) {
            if (charset == WireCharset::iso2022jp && !FitsIso2022Jp(text)) {
                continue;
            }
            const std::vector<std::string> words = EncodedWords(text, charset, 60);
            std::string decoded;
            for (std::size_t i = 0; i < words.size(); ++i) {
                EXPECT_LE(words[i].size(), i == 0 ? 60u : 75u) << words[i];
                const std::size_t start = words[i].find("?B?") + 3;
                const std::string raw = DecodeBase64Text(words[i].substr(start, words[i].size() - 2 - start));
                if (charset == WireCharset::iso2022jp) {
                    const std::size_t open = raw.rfind("\x1b$B");
                    EXPECT_TRUE(open == std::string::npos || raw.find("\x1b(B", open) != std::string::npos)
                        << "each word returns to ASCII";
                    decoded += JisToSjis(raw);
                } else {
                    decoded += raw;
                }
            }
            EXPECT_EQ(charset == WireCharset::utf8 ? decoded : SjisToUtf8(decoded), SjisToUtf8(text));
        }
    }
}

TEST(WireEncode, FoldedFieldsStayWithin78) {
    const std::string field =
        UnstructuredField("Subject", std::string(30, 'a') + " " + std::string(60, 'b') + "  c", WireCharset::iso2022jp);
    EXPECT_EQ(field, "Subject: " + std::string(30, 'a') + "\r\n " + std::string(60, 'b') + "  c\r\n")
        << "folded before a blank; two blanks stay two";
    const std::string words = UnstructuredField(
        "Subject", Sjis(std::string(40, 'x') + "漢字漢字漢字漢字漢字漢字漢字漢字漢字漢字"), WireCharset::iso2022jp);
    std::size_t start = 0;
    for (std::size_t end; (end = words.find("\r\n", start)) != std::string::npos; start = end + 2) {
        EXPECT_LE(end - start, 78u) << words;
    }
    const std::string longWord = UnstructuredField("Subject", std::string(2000, 'w'), WireCharset::iso2022jp);
    EXPECT_TRUE(LinesWithin(longWord, 78)) << "a word longer than a line goes out as encoded words";
    EXPECT_EQ(DisplayNameTokens("Taro Yamada", WireCharset::utf8), (std::vector<std::string>{"Taro", "Yamada"}));
    EXPECT_EQ(DisplayNameTokens("Yamada, Taro \"T\"", WireCharset::utf8),
              std::vector<std::string>{"\"Yamada, Taro \\\"T\\\"\""});
}

TEST(WireEncode, Rfc2231ParametersSplitOnCharacters) {
    EXPECT_EQ(Rfc2231Parameter("filename", "report.pdf"), std::vector<std::string>{"filename=\"report.pdf\""});
    EXPECT_EQ(Rfc2231Parameter("filename", "a b%.txt"), std::vector<std::string>{"filename*=UTF-8''a%20b%25.txt"});
    std::string name;
    for (int i = 0; i < 20; ++i) {
        name += "見積";
    }
    const std::vector<std::string> params = Rfc2231Parameter("filename", name);
    ASSERT_GT(params.size(), 1u);
    std::string joined;
    for (std::size_t i = 0; i < params.size(); ++i) {
        const std::string head = "filename*" + std::to_string(i) + "*=";
        ASSERT_TRUE(params[i].starts_with(head)) << params[i];
        EXPECT_LE(params[i].size() + 2, 78u) << params[i];
        std::string value = params[i].substr(head.size());
        EXPECT_EQ(value.size() % 9, i == 0 ? 7u : 0u) << "whole three-byte characters: " << value;
        joined += value;
    }
    EXPECT_TRUE(joined.starts_with("UTF-8''%E8%A6%8B"));
}

TEST(WireEncode, QuotedPrintableLinesAndRoundTrip) {
    std::mt19937 rng(4);
    for (int round = 0; round < 50; ++round) {
        std::string text;
        const std::size_t length = rng() % 400;
        for (std::size_t i = 0; i < length; ++i) {
            const auto pick = rng() % 10;
            text += pick == 0   ? std::string("\r\n")
                    : pick == 1 ? std::string(" ")
                    : pick == 2 ? std::string("=")
                                : std::string(1, static_cast<char>(rng()));
        }
        const std::string encoded = EncodeQuotedPrintableText(text);
        EXPECT_TRUE(LinesWithin(encoded, 76)) << encoded;
        EXPECT_EQ(encoded.find(" \r\n"), std::string::npos) << "no blank at a line end";
        EXPECT_EQ(DecodeQuotedPrintable(encoded), text);
    }
}

TEST(WireEncode, CharsetLabelsMatchTheBytes) {
    EXPECT_EQ(DetectTextCharset("plain"), "US-ASCII");
    EXPECT_EQ(DetectTextCharset(SjisToJis(Sjis("日本語"))), "ISO-2022-JP");
    EXPECT_EQ(DetectTextCharset("日本語"), "UTF-8");
    EXPECT_EQ(DetectTextCharset(Sjis("日本語")), "Shift_JIS");
    EXPECT_EQ(DetectTextCharset("\x80\xFF\xFE"), "");
}

} // namespace
} // namespace tegalo
