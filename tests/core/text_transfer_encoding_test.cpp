#include "text/transfer_encoding.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace tegalo {
namespace {

std::string EncodeChunk(const std::string& data) {
    std::string buf = data;
    buf.resize(80, '\0');
    const std::size_t n = EncodeBase64Chunk(buf.data(), data.size());
    return buf.substr(0, n);
}

std::string DecodeLine(const std::string& line) {
    std::string buf = line;
    return buf.substr(0, DecodeBase64Line(buf.data(), buf.size()));
}

TEST(Base64, ChunksAndLines) {
    EXPECT_EQ(Base64Char(0), 'A');
    EXPECT_EQ(Base64Char(26), 'a');
    EXPECT_EQ(Base64Char(52), '0');
    EXPECT_EQ(Base64Char(62), '+');
    EXPECT_EQ(Base64Char(63), '/');
    EXPECT_EQ(EncodeChunk(""), "");
    EXPECT_EQ(EncodeChunk("A"), "QQ==");
    EXPECT_EQ(EncodeChunk("AB"), "QUI=");
    EXPECT_EQ(EncodeChunk("ABC"), "QUJD");
    EXPECT_EQ(EncodeChunk("\xFF\xFE\xFD\0"s), "//79AA==");
    EXPECT_EQ(EncodeChunk(std::string(57, 'x')).size(), 76u);

    const std::string lines57 = EncodeBase64Lines(std::string(57, 'a'));
    EXPECT_EQ(lines57.size(), 78u);
    const std::string lines58 = EncodeBase64Lines(std::string(58, 'a'));
    EXPECT_EQ(lines58.substr(78), "YQ==\r\n");
    EXPECT_EQ(EncodeBase64Lines(""), "");
}

TEST(Base64, DecodeLineTable) {
    struct Row {
        const char* name;
        std::string in;
        std::string out;
    };
    const std::vector<Row> rows = {
        {"full groups", "QUJD", "ABC"},
        {"one pad", "QUI=", "AB"},
        {"two pads", "RA==", "D"},
        {"trailing characters ignored", "QUJDRA", "ABC"},
        {"empty", "", ""},
        {"binary", "//79AA==", "\xFF\xFE\xFD\0"s},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(DecodeLine(row.in), row.out) << row.name;
    }
}

TEST(Base64, RoundTripOfEveryLength) {
    std::mt19937 rng(7);
    for (std::size_t n = 0; n <= 57; ++n) {
        std::string data(n, '\0');
        for (char& c : data) {
            c = static_cast<char>(rng());
        }
        const std::string encoded = EncodeChunk(data);
        EXPECT_EQ(encoded.size(), n % 3 == 0 ? 4 * (n / 3) : 4 * (n / 3) + 4);
        EXPECT_EQ(DecodeLine(encoded), data) << n;
    }
}

TEST(QuotedPrintable, EncodeLine) {
    EXPECT_EQ(EncodeQuotedPrintableLine("abc"), "abc\r\n");
    EXPECT_EQ(EncodeQuotedPrintableLine("a b=c\x1b\x7F\x80\xFF"), "a=20b=3Dc=1B=7F=80=FF\r\n");
    EXPECT_EQ(EncodeQuotedPrintableLine(std::string(80, 'x')), std::string(72, 'x') + "=\r\n" + std::string(8, 'x') + "\r\n");
    EXPECT_EQ(EncodeQuotedPrintableLine(std::string(72, 'x')), std::string(72, 'x') + "=\r\n\r\n");
    // An escape that steps over 72 writes no break until the count lands on a multiple of 72 again.
    const std::string line = std::string(71, 'x') + " " + std::string(200, 'y');
    const std::string encoded = EncodeQuotedPrintableLine(line);
    EXPECT_EQ(encoded.substr(0, 74), std::string(71, 'x') + "=20");
    EXPECT_EQ(encoded.find("=\r\n"), 144u) << "first break after 144 output characters";
}

TEST(QuotedPrintable, EncodeText) {
    EXPECT_EQ(EncodeQuotedPrintable("a\r\nb\r\n"), "a\r\nb\r\n");
    EXPECT_EQ(EncodeQuotedPrintable("a\r\nb"), "a\r\nb");
    EXPECT_EQ(EncodeQuotedPrintable(""), "");
    EXPECT_EQ(EncodeQuotedPrintable("\x1b$B\x24\x22\x1b(B\r\n"), "=1B$B$\"=1B(B\r\n");
}

TEST(QuotedPrintable, DecodeTable) {
    struct Row {
        const char* name;
        std::string in;
        std::string out;
    };
    const std::vector<Row> rows = {
        {"escape and soft break", "a=3Db=\r\nc", "a=bc"},
        {"lower-case hex dropped whole", "x=3d", "x"},
        {"short tail keeps the equals sign", "ab=", "ab="},
        {"one character after the equals sign", "ab=4", "ab="},
        {"no escapes", "plain", "plain"},
        {"binary bytes", "=00=FF", "\0\xFF"s},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(DecodeQuotedPrintable(row.in), row.out) << row.name;
    }
    std::mt19937 rng(11);
    for (int i = 0; i < 200; ++i) {
        std::string text(rng() % 300, '\0');
        for (char& c : text) {
            c = static_cast<char>(rng());
        }
        // Encoded lines are joined with CR LF, which the decoder keeps: compare line by line.
        EXPECT_EQ(DecodeQuotedPrintable(EncodeQuotedPrintableLine(text)), text + "\r\n");
    }
}

std::string Python(const std::string& program, const std::string& input) {
    char path[] = "/tmp/tegalo-py-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    std::FILE* f = fdopen(fd, "wb");
    std::fwrite(input.data(), 1, input.size(), f);
    std::fclose(f);
    std::FILE* p = popen(("python3 -c '" + program + "' < " + path).c_str(), "r");
    std::string out;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) {
        out.append(buf, n);
    }
    EXPECT_EQ(pclose(p), 0);
    std::remove(path);
    return out;
}

// Python's standard library is an independent decoder for both encodings.
TEST(TransferEncodings, AgreeWithPythonsDecoders) {
    std::mt19937 rng(99);
    std::string data(100000, '\0');
    for (char& c : data) {
        c = static_cast<char>(rng());
    }
    const std::string lines = EncodeBase64Lines(data);
    EXPECT_EQ(Python("import sys,base64; sys.stdout.buffer.write(base64.b64decode(sys.stdin.buffer.read(), validate=False))", lines), data);

    std::string text;
    for (int i = 0; i < 300; ++i) {
        std::string line(rng() % 200, 'x');
        for (char& c : line) {
            c = static_cast<char>(0x20 + rng() % 0x60);
        }
        if (i % 7 == 0) {
            line += "\x1b$B\x24\x22\x30\x21\x1b(B = end.";
        }
        text += line + "\r\n";
    }
    const std::string qp = EncodeQuotedPrintable(text);
    EXPECT_EQ(Python("import sys,binascii; sys.stdout.buffer.write(binascii.a2b_qp(sys.stdin.buffer.read()))", qp), text);
    EXPECT_EQ(DecodeQuotedPrintable(qp), text);
}

} // namespace
} // namespace tegalo
