// Messages built from outgoing parts, read back by Python's email package.
#include "mime/Outgoing.h"

#include "text/jis.h"
#include "text/transfer_encoding.h"
#include "text/unicode.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace tegalo {
namespace {

using namespace tegalo::literals;

// Each part of the message, as Python's email package decodes it: the
// content type, the file name (UTF-8) and the
// decoded payload, in files part<N>.type, .name and .data.
const char* kPythonSplitter = R"PY(
import email, email.policy, sys, os
out = sys.argv[2]
with open(sys.argv[1], "rb") as f:
    msg = email.message_from_binary_file(f, policy=email.policy.compat32)
assert msg.is_multipart(), "not multipart"
# Each attachment part ends with a delimiter line and the next one starts
# with another, so empty parts without headers stand between them.
parts = [p for p in msg.get_payload() if p.keys() or p.get_payload().strip()]
for n, part in enumerate(parts):
    with open(os.path.join(out, f"part{n}.type"), "w") as f:
        f.write(part.get_content_type())
    name = part.get_filename()
    if name is not None:
        with open(os.path.join(out, f"part{n}.name"), "wb") as f:
            f.write(name.encode("utf-8"))
    with open(os.path.join(out, f"part{n}.data"), "wb") as f:
        f.write(part.get_payload(decode=True) or b"")
print(len(parts))
)PY";

class MimeRoundTrip : public testing::Test {
protected:

    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = dir_ / name;
        testing_support::WriteFile(path, bytes);
        return path;
    }

    std::string Read(const std::string& name) {
        std::ifstream in(dir_ / name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // Puts the message on disk the way the send session builds it and lets
    // Python split it; returns the number of parts Python found.
    int Split(const std::vector<std::string>& parts) {
        const WireMessage wire = BuildWireMessage(parts, "test", "a@example.org", "Tegalo", "me@example.org",
                                                  "Mon, 07 Dec 2026 10:00:00 +0900");
        Write("message.eml", wire.header + wire.body);
        Write("split.py", kPythonSplitter);
        const std::string out = dir_ / "out";
        mkdir(out.c_str(), 0700);
        const std::string command = "python3 " + (dir_ / "split.py") + " " + (dir_ / "message.eml") + " " + out;
        std::FILE* p = popen(command.c_str(), "r");
        char buf[64] = {};
        const bool read = std::fgets(buf, sizeof buf, p) != nullptr;
        EXPECT_EQ(pclose(p), 0);
        return read ? std::atoi(buf) : -1;
    }

    testing_support::TempDir dir_;
};

TEST_F(MimeRoundTrip, BinaryAttachmentsOfEverySizeDecodeToTheirBytes) {
    std::mt19937 rng(3);
    for (std::size_t size : {0u, 1u, 2u, 3u, 56u, 57u, 58u, 100000u}) {
        std::string bytes(size, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(rng());
        }
        std::vector<std::string> parts(10);
        parts[0] = "2";
        parts[1] = BuildBodyPart("本文です。"_sjis, "", 0, textPart).part;
        parts[2] = BuildBodyPart("", Write("data.bin", bytes), 1, base64File).part;
        parts[3] = BuildBodyPart("", Write("写真.jpg", "\xFF\xD8 jpeg"), 2, base64File).part;
        ASSERT_EQ(Split(parts), 3) << size;
        EXPECT_EQ(Read("out/part0.type"), "text/plain");
        // The line end before a delimiter line belongs to the delimiter.
        EXPECT_EQ(Read("out/part0.data"), SjisToJis("本文です。"_sjis));
        EXPECT_EQ(Read("out/part1.data"), bytes) << size;
        EXPECT_EQ(Read("out/part1.name"), "data.bin");
        EXPECT_EQ(Read("out/part2.name"), "写真.jpg");
        EXPECT_EQ(Read("out/part2.data"), "\xFF\xD8 jpeg");
        EXPECT_EQ(Read("out/part2.type"), "image/jpeg");
    }
}

TEST_F(MimeRoundTrip, HtmlAttachmentsWithAndWithoutAFinalLineEnd) {
    const std::string html = "<html><body>\r\n<p>こんにちは = 100%</p>\r\n"_sjis + std::string(200, 'x') + "\r\n</body></html>";
    for (const std::string& text : {html, html + "\r\n"}) {
        std::vector<std::string> parts(10);
        parts[0] = "2";
        parts[1] = BuildBodyPart("text", "", 0, textPart).part;
        parts[2] = BuildBodyPart("", Write("page.html", text), 1, htmlFile).part;
        parts[3] = BuildBodyPart("", Write("after.txt", "after"), 2, base64File).part;
        ASSERT_EQ(Split(parts), 3);
        EXPECT_EQ(Read("out/part1.type"), "text/html");
        // The line end before a delimiter line belongs to the delimiter, so
        // a file's own final line end is the one a reader drops.
        // Python's quoted-printable decoder writes line ends as LF.
        std::string expected = SjisToJis(text.ends_with("\r\n") ? text.substr(0, text.size() - 2) : text);
        for (std::size_t pos; (pos = expected.find("\r\n")) != std::string::npos;) {
            expected.erase(pos, 1);
        }
        EXPECT_EQ(Read("out/part1.data"), expected);
        EXPECT_EQ(Read("out/part2.data"), "after") << "the part after the HTML one is still found";
        EXPECT_EQ(DecodeQuotedPrintable(EncodeQuotedPrintable(SjisToJis(text))), SjisToJis(text));
    }
}

TEST(BuildWireMessage, HeaderLines) {
    std::vector<std::string> parts(10);
    parts[0] = "0";
    parts[1] = "本文"_sjis;
    const WireMessage plain = BuildWireMessage(parts, "件名"_sjis, "山田<yamada@example.jp>,\r\nCc: b@example.jp"_sjis,
                                               "田中"_sjis, "tanaka@example.jp", "Mon, 07 Dec 2026 10:00:00 +0900",
                                               "<1@example.jp>");
    EXPECT_EQ(plain.header, "Date: Mon, 07 Dec 2026 10:00:00 +0900\r\n"
                            "From: =?ISO-2022-JP?B?GyRCRURDZhsoQg==?= <tanaka@example.jp>\r\n"
                            "To: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>\r\n"
                            "Cc: b@example.jp\r\n"
                            "Subject: =?ISO-2022-JP?B?GyRCN29MPhsoQg==?=\r\n"
                            "Message-ID: <1@example.jp>\r\n"
                            "MIME-Version: 1.0\r\n"
                            "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n");
    EXPECT_EQ(plain.body, SjisToJis("本文"_sjis));

    parts[0] = "1";
    parts[1] = BuildBodyPart("x", "", 0, textPart).part;
    parts[2] = BuildBodyPart("QUJD\r\n", "a.jpg", 1, encodedContent).part;
    const WireMessage multi = BuildWireMessage(parts, "s", "a@x", "N", "m@x", "D", "<2@x>");
    EXPECT_NE(multi.header.find("Message-ID: <2@x>\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n boundary=\"" +
                                std::string(kBoundary) + "\"\r\n\r\n"),
              std::string::npos);
    const std::string delimiter = "--" + std::string(kBoundary);
    EXPECT_EQ(multi.body, delimiter + "\r\n"
                          "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                          "Content-Transfer-Encoding: 7bit\r\n\r\n"
                          "x\r\n" +
                          delimiter + "\r\n"
                          "Content-Type: image/jpeg; name=\"a.jpg\"\r\n"
                          "Content-Disposition: attachment; filename=\"a.jpg\"\r\n"
                          "Content-Transfer-Encoding: base64\r\n\r\n"
                          "QUJD\r\n" +
                          delimiter + "--\r\n")
        << "one delimiter between parts, the closing one at the end";
}

} // namespace
} // namespace tegalo
