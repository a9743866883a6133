#include "text/jis.h"

#include "text_reference.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace tegalo {
namespace {

const std::string kOpen = "\x1b$B";
const std::string kClose = "\x1b(B";

struct Row {
    const char* name;
    std::string sjis;
    std::string jis;
};

TEST(SjisToJis, KnownTexts) {
    const std::vector<Row> rows = {
        {"ascii only", "Hello, world.\r\n", "Hello, world.\r\n"},
        {"hiragana a i u", "\x82\xA0\x82\xA2\x82\xA4", kOpen + "\x24\x22\x24\x24\x24\x26" + kClose},
        {"run closed before CR LF", "abc\x82\xA0\r\n\x82\xA2",
         "abc" + kOpen + "\x24\x22" + kClose + "\r\n" + kOpen + "\x24\x24" + kClose},
        {"half-width katakana stays 8-bit", "\xB1", "\xB1"},
        {"half-width katakana ends a run", "\x82\xA0\xB1", kOpen + "\x24\x22" + kClose + "\xB1"},
        {"lone lead byte at the end stays", "a\x82", "a\x82"},
        {"lead byte after a run at the end stays", "\x82\xA0\x82", kOpen + "\x24\x22" + kClose + "\x82"},
        {"invalid pair dropped, run kept", "\x81\x7Fx", kOpen + kClose + "x"},
        {"lead byte swallows the CR", "\x82\r\n", kOpen + kClose + "\n"},
        {"kanji and last JIS row", "\x88\x9F\xEA\xA4", kOpen + "\x30\x21\x74\x26" + kClose},
        {"empty", "", ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(SjisToJis(row.sjis), row.jis) << row.name;
    }
}

TEST(JisToSjis, KnownTexts) {
    const std::vector<Row> rows = {
        {"ascii only", "Hello\r\n", "Hello\r\n"},
        {"hiragana a i u", "\x82\xA0\x82\xA2\x82\xA4", kOpen + "\x24\x22\x24\x24\x24\x26" + kClose},
        {"two runs", "\x82\xA0\r\n\x82\xA2", kOpen + "\x24\x22" + kClose + "\r\n" + kOpen + "\x24\x24" + kClose},
        {"odd byte at the end of a run is dropped", "\x82\xA0x", kOpen + "\x24\x22\x24" + kClose + "x"},
        {"invalid pair ends the run", "\x82\xA0y", kOpen + "\x24\x22\x7F\x21\x24\x24" + kClose + "y"},
        {"ESC ( J and ESC $ @ are not recognised", "\x1b(Jabc\x1b$@\x24\x22", "\x1b(Jabc\x1b$@\x24\x22"},
        {"empty run joins its neighbours into a new run",
         "\x82\xA0", "\x1b$" + kOpen + kClose + "B\x24\x22" + kClose},
    };
    for (const Row& row : rows) {
        bool error = true;
        EXPECT_EQ(JisToSjis(row.jis, &error), row.sjis) << row.name;
        EXPECT_FALSE(error) << row.name;
    }
}

TEST(JisToSjis, UnclosedOrMisplacedRunsStopWithTheError) {
    struct ErrorRow {
        const char* name;
        std::string jis;
        std::string expected;
    };
    const std::vector<ErrorRow> rows = {
        {"open without close", "ab" + kOpen + "\x24\x22", "ab" + kOpen + "\x24\x22"},
        {"second run unclosed keeps the first converted",
         kOpen + "\x24\x22" + kClose + "x" + kOpen + "\x24\x24", "\x82\xA0x" + kOpen + "\x24\x24"},
        {"ESC ( B before ESC $ B", kClose + "a" + kOpen + "\x24\x22" + kClose, kClose + "a" + kOpen + "\x24\x22" + kClose},
    };
    for (const ErrorRow& row : rows) {
        bool error = false;
        EXPECT_EQ(JisToSjis(row.jis, &error), row.expected) << row.name;
        EXPECT_TRUE(error) << row.name;
    }
    EXPECT_EQ(JisToSjis(kOpen), kOpen) << "the error flag is optional";
}

// Random texts built from the pieces that break converters: the fast
// versions must agree with the literal algorithm byte for byte.
std::string RandomText(std::mt19937& rng, bool jisPieces) {
    static const std::vector<std::string> pieces = {
        "a", "Z", " ", ".", "\r\n", "\n", "\x1b", "$", "(", "B", "\x1b$B", "\x1b(B", "\x1b$", "\x1b(",
        "\x1b(J", "\x1b$@", "\x24\x22", "\x30\x21", "\x7E\x7E", "\x7F\x21", "\x21", "\x82\xA0", "\x88\x9F",
        "\x81\x40", "\xEA\xA4", "\xB1", "\xDF", "\x82", "\x85\x40", "\xFC\xFC", "\xF0\x40", "\x81\x7F", "\0"s,
    };
    std::uniform_int_distribution<std::size_t> len(0, jisPieces ? 40 : 60);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::string text;
    for (std::size_t n = len(rng); n > 0; --n) {
        text += pieces[pick(rng)];
    }
    return text;
}

TEST(JisConversion, MatchesTheLiteralAlgorithmOnGeneratedTexts) {
    std::mt19937 rng(20261207);
    for (int i = 0; i < 30000; ++i) {
        const std::string text = RandomText(rng, i % 2 == 0);
        ASSERT_EQ(SjisToJis(text), reference::SjisToJis(text)) << testing::PrintToString(text);
        bool fastError = false;
        bool slowError = false;
        const std::string fast = JisToSjis(text, &fastError);
        ASSERT_EQ(fast, reference::JisToSjis(text, &slowError)) << testing::PrintToString(text);
        ASSERT_EQ(fastError, slowError) << testing::PrintToString(text);
        // Whatever SjisToJis writes from text without escape bytes converts back without an error.
        if (text.find('\x1b') == std::string::npos) {
            bool roundTripError = true;
            JisToSjis(SjisToJis(text), &roundTripError);
            ASSERT_FALSE(roundTripError) << testing::PrintToString(text);
        }
    }
}

TEST(JisConversion, RoundTripOfLongJapaneseText) {
    std::string sjis;
    for (unsigned j1 = 0x21; j1 <= 0x7E; ++j1) {
        for (unsigned j2 = 0x21; j2 <= 0x7E; ++j2) {
            const unsigned s = JisCharToSjis((j1 << 8) | j2);
            sjis.push_back(static_cast<char>(s >> 8));
            sjis.push_back(static_cast<char>(s & 0xFF));
        }
        sjis += "line\r\n";
    }
    EXPECT_EQ(JisToSjis(SjisToJis(sjis)), sjis);
}

std::string RunFilter(const std::string& command, const std::string& input) {
    char inPath[] = "/tmp/tegalo-nkf-XXXXXX";
    const int fd = mkstemp(inPath);
    EXPECT_GE(fd, 0);
    std::FILE* f = fdopen(fd, "wb");
    std::fwrite(input.data(), 1, input.size(), f);
    std::fclose(f);
    std::string out;
    std::FILE* p = popen((command + " < " + inPath).c_str(), "r");
    EXPECT_NE(p, nullptr);
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        out.append(buf, n);
    }
    EXPECT_EQ(pclose(p), 0) << command;
    std::remove(inPath);
    return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    for (std::size_t nl; (nl = text.find('\n', pos)) != std::string::npos; pos = nl + 1) {
        lines.push_back(text.substr(pos, nl - pos));
    }
    return lines;
}

// nkf converts the whole JIS X 0208 square arithmetically when its CP932
// remapping of the NEC/IBM rows is switched off; Tegalo must agree with it
// on every pair, in both directions, and round-trip.
TEST(JisConversion, AgreesWithNkfOnEveryPair) {
    std::vector<unsigned> pairs;
    std::string jisLines;
    for (unsigned j1 = 0x21; j1 <= 0x7E; ++j1) {
        for (unsigned j2 = 0x21; j2 <= 0x7E; ++j2) {
            pairs.push_back((j1 << 8) | j2);
            jisLines += kOpen + static_cast<char>(j1) + static_cast<char>(j2) + kClose + "\n";
        }
    }
    const std::vector<std::string> nkfSjis = SplitLines(RunFilter("nkf -J -s -x --no-cp932", jisLines));
    ASSERT_EQ(nkfSjis.size(), pairs.size());
    std::string sjisLines;
    std::size_t compared = 0;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (nkfSjis[i].size() != 2) {
            continue;
        }
        const std::string jis = kOpen + static_cast<char>(pairs[i] >> 8) + static_cast<char>(pairs[i] & 0xFF) + kClose;
        EXPECT_EQ(JisToSjis(jis), nkfSjis[i]) << std::hex << pairs[i];
        EXPECT_EQ(SjisToJis(nkfSjis[i]), jis) << std::hex << pairs[i];
        sjisLines += nkfSjis[i] + "\n";
        ++compared;
    }
    EXPECT_EQ(compared, pairs.size());
    // And Shift_JIS back to JIS through nkf gives what SjisToJis gives.
    EXPECT_EQ(RunFilter("nkf -S -j -x", sjisLines), SjisToJis(sjisLines));
}

} // namespace
} // namespace tegalo
