// tegalo-convert converts large inputs block by block, starting afresh only
// where nothing before bears on what follows. Inputs of several blocks
// (256 KiB each) with runs, stray escape sequences and line ends across
// the block limits must come out as the one-piece conversion makes them.
#include "text/jis.h"
#include "text/transfer_encoding.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace tegalo {
namespace {

constexpr std::size_t kBlock = 256 * 1024;

struct ToolResult {
    std::string output;
    int status = -1;
};

// Runs tegalo-convert on `input`, from the file (which it maps) or through a
// pipe (which it reads).
ToolResult Convert(const std::string& mode, const std::string& input, bool pipe = false) {
    const std::string dir = testing::TempDir();
    // Tests run side by side: each process has files of its own.
    const std::string name = dir + "/tegalo-convert-" + std::to_string(::getpid());
    const std::string in = name + ".in";
    const std::string out = name + ".out";
    std::ofstream(in, std::ios::binary).write(input.data(), static_cast<std::streamsize>(input.size()));
    const std::string command = (pipe ? "cat '" + in + "' | '" : std::string("'")) + TEGALO_CONVERT_EXE + "' " + mode +
                                (pipe ? "" : " < '" + in + "'") + " > '" + out + "' 2>/dev/null";
    ToolResult result;
    const int status = std::system(command.c_str());
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream file(out, std::ios::binary);
    std::stringstream s;
    s << file.rdbuf();
    result.output = s.str();
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    return result;
}

// Shift_JIS lines of `width` characters, double-byte and single mixed.
std::string SjisLines(std::size_t bytes, std::size_t width, unsigned seed) {
    std::mt19937 rng(seed);
    std::string text;
    while (text.size() < bytes) {
        for (std::size_t i = 0; i < width; ++i) {
            if (rng() % 5 == 0) {
                text.push_back(static_cast<char>('a' + rng() % 26));
            } else {
                const auto jis = static_cast<unsigned>(((0x30 + rng() % 30) << 8) | (0x21 + rng() % 94));
                const unsigned sjis = JisCharToSjis(jis);
                text.push_back(static_cast<char>(sjis >> 8));
                text.push_back(static_cast<char>(sjis & 0xFF));
            }
        }
        text += "\r\n";
    }
    return text;
}

TEST(ConvertBlocks, SjisToJis) {
    // Lines far longer than a block, then short ones; a lead byte before CR.
    std::string text = SjisLines(kBlock + 5000, 200000, 1) + SjisLines(2 * kBlock, 30, 2) + "\x88\r\nend\x88";
    for (const bool pipe : {false, true}) {
        ToolResult r = Convert("sjis-to-jis", text, pipe);
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.output == SjisToJis(text)) << "sjis-to-jis differs from SjisToJis" << (pipe ? ", through a pipe" : "");
    }
}

TEST(ConvertBlocks, JisToSjis) {
    const std::string jis = SjisToJis(SjisLines(3 * kBlock, 30, 3));
    struct Case {
        const char* name;
        std::string text;
    };
    const std::string straddling = "\x1b$B" + std::string(2 * kBlock, '\x30') + "\r\n\x30\x30\x1b(B\r\n";
    const Case cases[] = {
        {"plain runs", jis},
        {"a run over two block limits with line ends in it", jis.substr(0, kBlock - 7) + straddling + jis},
        {"a stray closing sequence, then runs in later blocks", "stray \x1b(B\r\n" + jis},
        {"a stray closing sequence after the last run of a block",
         jis.substr(0, kBlock - 100) + "\x1b$B\x30\x30\x1b(B x \x1b(B\r\n" + jis},
        {"an opening sequence never closed", jis + "\x1b$B\x30\x30\r\n" + jis.substr(0, kBlock)},
    };
    for (const Case& c : cases) {
        bool error = false;
        const std::string expected = JisToSjis(c.text, &error);
        for (const bool pipe : {false, true}) {
            ToolResult r = Convert("jis-to-sjis", c.text, pipe);
            EXPECT_EQ(r.status, error ? 1 : 0) << c.name << (pipe ? ", through a pipe" : "");
            EXPECT_TRUE(r.output == expected) << c.name << (pipe ? ", through a pipe" : "");
        }
    }
}

TEST(ConvertBlocks, Base64) {
    std::mt19937 rng(5);
    std::string data(3 * kBlock + 1001, '\0');
    for (char& c : data) {
        c = static_cast<char>(rng());
    }
    const ToolResult encoded = Convert("base64-encode", data);
    EXPECT_EQ(encoded.status, 0);
    EXPECT_TRUE(encoded.output == EncodeBase64Lines(data));
    const ToolResult decoded = Convert("base64-decode", EncodeBase64Lines(data), true);
    EXPECT_EQ(decoded.status, 0);
    EXPECT_TRUE(decoded.output == data);
}

} // namespace
} // namespace tegalo
