#include "transfer/TrustedCerts.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace tegalo {
namespace {

using namespace testing_support;

const std::string kA(64, 'a');
const std::string kB = std::string(63, '0') + "f";

TEST(TrustedCerts, PinHoldsForItsServerOnly) {
    const std::vector<TrustedCert> pins = ParseTrustedCerts("pop.example.jp:995 " + kA + "\r\n");
    const struct {
        const char* name;
        const char* host;
        int port;
        std::string fingerprint;
        CertTrust trust;
    } rows[] = {
        {"the pinned certificate", "pop.example.jp", 995, kA, CertTrust::Pinned},
        {"host names in any case", "POP.Example.JP", 995, kA, CertTrust::Pinned},
        {"a changed certificate", "pop.example.jp", 995, kB, CertTrust::Changed},
        {"the same certificate on another port", "pop.example.jp", 110, kA, CertTrust::Unknown},
        {"the same certificate on another host", "smtp.example.jp", 995, kA, CertTrust::Unknown},
        {"a fingerprint in capitals is no fingerprint", "pop.example.jp", 995, std::string(64, 'A'),
         CertTrust::Changed},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CheckPinned(pins, row.host, row.port, row.fingerprint), row.trust) << row.name;
    }
}

TEST(TrustedCerts, DamagedLinesAreSkipped) {
    const std::string text = "a:1 " + kA + "\r\n" +         // kept
                             "noport " + kA + "\r\n" +      // no port
                             "b:2 " + kA.substr(1) + "\n" + // 63 digits
                             "c:3 " + kA + "0\r\n" +        // 65 digits
                             "d:4 " + std::string(64, 'g') + "\r\n" + "\r\n" + "e:5 " + kB;
    EXPECT_EQ(ParseTrustedCerts(text), (std::vector<TrustedCert>{{"a:1", kA}, {"e:5", kB}}));
    EXPECT_EQ(FormatTrustedCerts(ParseTrustedCerts(text)), "a:1 " + kA + "\r\ne:5 " + kB + "\r\n");
}

TEST(TrustedCerts, FileKeepsOnePinPerServer) {
    TempDir dir;
    const TrustedCertsFile file(dir.Path());
    EXPECT_TRUE(file.Load().empty()) << "no file: nothing trusted";
    ASSERT_EQ(file.Trust("pop.example.jp", 995, kA), "");
    ASSERT_EQ(file.Trust("SMTP.example.jp", 465, kA), "");
    ASSERT_EQ(file.Trust("pop.example.jp", 995, kB), "") << "trusting a new certificate replaces the old pin";
    EXPECT_EQ(ReadFile(dir / "trusted-certs"), "smtp.example.jp:465 " + kA + "\r\npop.example.jp:995 " + kB + "\r\n");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "trusted-certs").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(CheckPinned(file.Load(), "pop.example.jp", 995, kA), CertTrust::Changed);

    EXPECT_NE(file.Trust("pop.example.jp", 995, "not hex"), "");
    EXPECT_NE(file.Trust("bad host", 995, kA), "");
    EXPECT_EQ(file.Load().size(), 2u);
}

// A pin file that cannot be read is never rewritten with the new pin alone:
// the pins it holds would be lost.
TEST(TrustedCerts, UnreadableFileIsNotReplaced) {
    TempDir dir;
    const TrustedCertsFile file(dir.Path());
    // A link to itself: opening it fails (even for root), renaming over it
    // would not.
    ASSERT_EQ(::symlink("trusted-certs", (dir / "trusted-certs").c_str()), 0);
    EXPECT_NE(file.Trust("pop.example.jp", 995, kA), "");
    struct stat st {};
    ASSERT_EQ(::lstat((dir / "trusted-certs").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

} // namespace
} // namespace tegalo
