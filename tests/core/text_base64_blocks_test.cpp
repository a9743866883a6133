// The base64 encoder and decoder work on runs of 12 bytes and of 16 or 32
// characters at a time where the processor allows; these cases put every
// kind of character (padding, characters outside the alphabet, line ends)
// at every place in and around those runs, against a one-group-at-a-time
// transcription of the line decoder.
#include "text/header_words.h"
#include "text/transfer_encoding.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace tegalo {
namespace {

// Every complete group of four characters gives three bytes, two when it
// ends in "=", one when it ends in "=="; Base64Value for every character.
std::string ReferenceDecodeLine(const std::string& line) {
    std::string out;
    for (std::size_t i = 0; i + 4 <= line.size(); i += 4) {
        const int a = Base64Value(static_cast<unsigned char>(line[i]));
        const int b = Base64Value(static_cast<unsigned char>(line[i + 1]));
        const int c = Base64Value(static_cast<unsigned char>(line[i + 2]));
        const int d = Base64Value(static_cast<unsigned char>(line[i + 3]));
        const std::size_t bytes = line[i + 3] != '=' ? 3 : (line[i + 2] == '=' ? 1 : 2);
        const char decoded[3] = {static_cast<char>((a * 4 + b / 16) & 0xFF),
                                 static_cast<char>(((b % 16) * 16 + c / 4) & 0xFF),
                                 static_cast<char>(((c % 4) * 64 + d) & 0xFF)};
        out.append(decoded, bytes);
    }
    return out;
}

std::string DecodeInPlace(std::string line) {
    const std::size_t bytes = DecodeBase64Line(line.data(), line.size());
    line.resize(bytes);
    return line;
}

TEST(Base64Blocks, OddCharactersAtEveryPlaceOfALine) {
    std::mt19937 rng(3);
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string odd = std::string("=.-_ \t\x80\xFF\x00*", 10);
    for (std::size_t length : {15u, 16u, 17u, 31u, 32u, 33u, 47u, 64u, 76u, 100u}) {
        std::string line(length, 'A');
        for (char& c : line) {
            c = alphabet[rng() % 64];
        }
        for (std::size_t at = 0; at < length; ++at) {
            for (char c : odd) {
                std::string changed = line;
                changed[at] = c;
                ASSERT_EQ(DecodeInPlace(changed), ReferenceDecodeLine(changed))
                    << "length " << length << ", " << int(static_cast<unsigned char>(c)) << " at " << at;
            }
        }
    }
}

TEST(Base64Blocks, LinesOfEveryLengthEncodeAndDecodeBack) {
    std::mt19937 rng(4);
    for (std::size_t n = 0; n <= 3 * 57 + 1; ++n) {
        std::string data(n, '\0');
        for (char& c : data) {
            c = static_cast<char>(rng());
        }
        const std::string lines = EncodeBase64Lines(data);
        std::string expected;
        for (std::size_t at = 0; at < n; at += 57) {
            std::string chunk = data.substr(at, 57);
            chunk.resize(80, '\0');
            chunk.resize(EncodeBase64Chunk(chunk.data(), std::min<std::size_t>(57, n - at)));
            expected += chunk + "\r\n";
        }
        ASSERT_EQ(lines, expected) << n;
        std::string decoded = "kept";
        AppendBase64Decoded(decoded, lines);
        ASSERT_EQ(decoded, "kept" + data) << n;
    }
}

TEST(Base64Blocks, DecodedLinesAreEachTheirOwn) {
    std::string out;
    // LF or CR LF ends, a last line without one, a line whose last group is
    // cut short, and a padded group in the middle of a long line.
    AppendBase64Decoded(out, "QUJD\nREVG\r\nR0g=QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVpBQkNERUZH\r\nSUpLTA\r\nTU5P");
    EXPECT_EQ(out, "ABCDEFGHABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGIJKMNO");
}

} // namespace
} // namespace tegalo
