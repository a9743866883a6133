#include "text/header_words.h"

#include "text/transfer_encoding.h"
#include "text_reference.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tegalo {
namespace {

TEST(Base64Value, Table) {
    struct Row {
        char c;
        int value;
    };
    const std::vector<Row> rows = {{'A', 0},  {'Z', 25}, {'a', 26}, {'z', 51}, {'0', 52}, {'9', 61}, {'+', 62},
                                   {'/', 63}, {'=', 0},  {':', 62}, {'@', 63}, {'[', 26}, {'`', 25}, {'{', 52},
                                   {'-', 0},  {' ', 0},  {'\x7F', 56}};
    for (const Row& row : rows) {
        EXPECT_EQ(Base64Value(static_cast<unsigned char>(row.c)), row.value) << row.c;
    }
    EXPECT_EQ(Base64Value(0xC8), 0) << "bytes above 0x7F count as 0";
}

TEST(DecodeHeaderWords, KnownTexts) {
    struct Row {
        const char* name;
        std::string in;
        std::string out;
    };
    const std::vector<Row> rows = {
        {"no words", "Subject: hello\r\n", "Subject: hello\r\n"},
        {"one hiragana, padding ends the text", "=?ISO-2022-JP?B?GyRCJCIbKEI=?=", "\x1b$B\x24\x22\x1b(B"},
        {"both prefixes", "=?iso-2022-jp?B?GyRCJCIbKEI=?= x =?ISO-2022-JP?B?GyRCJCIbKEI=?=",
         "\x1b$B\x24\x22\x1b(B x \x1b$B\x24\x22\x1b(B"},
        {"mixed case prefix left alone", "=?Iso-2022-JP?B?GyRCJCIbKEI=?=", "=?Iso-2022-JP?B?GyRCJCIbKEI=?="},
        {"lower-case b left alone", "=?ISO-2022-JP?b?GyRCJCIbKEI=?=", "=?ISO-2022-JP?b?GyRCJCIbKEI=?="},
        {"Q encoding left alone", "=?ISO-2022-JP?Q?abc?=", "=?ISO-2022-JP?Q?abc?="},
        {"end marker before the first word", "a?=b =?ISO-2022-JP?B?QUJD?=", "a?=b ABC"},
        {"six characters decode one group", "=?ISO-2022-JP?B?QUJDRE?=", "ABC"},
        {"prefix without end marker stops", "=?ISO-2022-JP?B?QUJD?= =?iso-2022-jp?B?QUJD",
         "=?ISO-2022-JP?B?QUJD?= =?iso-2022-jp?B?QUJD"},
        {"folded words keep CR LF and blank", "=?ISO-2022-JP?B?QUJD?=\r\n =?ISO-2022-JP?B?REVG?=", "ABC\r\n DEF"},
        {"decoded bytes form a new word",
         "=?ISO-2022-JP?B?" + EncodeBase64("=?ISO-2022-JP?B?") + "?=QUJD?=", "ABC"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(DecodeHeaderWords(row.in), row.out) << row.name;
    }
}

TEST(DecodeHeaderWords, MatchesTheLiteralAlgorithmOnGeneratedTexts) {
    const std::vector<std::string> pieces = {
        "=?iso-2022-jp?B?", "=?ISO-2022-JP?B?", "?=", "?", "=", "=?", "QUJD", "GyRCJCIbKEI=", "GyRC", "AA==", "A",
        " ", "\r\n ", "Subject: ", "x", "=?iso-2022-jp?b?", "PT9pc28tMjAyMi1qcD9CPw==", // "=?iso-2022-jp?B?"
        "PT9JU08tMjAyMi1KUD9CPw==",                                                      // "=?ISO-2022-JP?B?"
        "Pz0=", "aXNv", "LTIw", "\x1b$B",
    };
    std::mt19937 rng(4242);
    std::uniform_int_distribution<std::size_t> len(0, 30);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    for (int i = 0; i < 30000; ++i) {
        std::string text;
        for (std::size_t n = len(rng); n > 0; --n) {
            text += pieces[pick(rng)];
        }
        ASSERT_EQ(DecodeHeaderWords(text), reference::DecodeHeaderWords(text)) << testing::PrintToString(text);
    }
}

TEST(EncodeHeaderWords, EncodesEachRun) {
    EXPECT_EQ(EncodeHeaderWords("plain ascii subject"), "plain ascii subject");
    EXPECT_EQ(EncodeHeaderWords("\x1b$B\x24\x22\x1b(B"), "=?iso-2022-jp?B?GyRCJCIbKEI=?=");
    EXPECT_EQ(EncodeHeaderWords("a\x1b$B\x24\x22\x1b(Bb\x1b$B\x24\x24\x1b(Bc"),
              "a=?iso-2022-jp?B?GyRCJCIbKEI=?=b=?iso-2022-jp?B?GyRCJCQbKEI=?=c");
    EXPECT_EQ(EncodeHeaderWords("x\x1b$B\x24\x22"), "x=?iso-2022-jp?B?GyRCJCI=?=") << "unclosed run to the end";
    // What the sending side writes, the receiving side reads back.
    const std::string jis = "Re: \x1b$B\x30\x21\x24\x22\x1b(B \x1b$B\x74\x26\x1b(B!";
    EXPECT_EQ(DecodeHeaderWords(EncodeHeaderWords(jis)), jis);
}

} // namespace
} // namespace tegalo
