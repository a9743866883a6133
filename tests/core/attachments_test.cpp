#include "store/Attachments.h"

#include "text/unicode.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace std::string_literals;

namespace tegalo {
namespace {

using namespace tegalo::literals;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(DecodeAttachment, ByEncoding) {
    struct Row {
        const char* name;
        std::string content;
        std::string encoding;
        std::string bytes;
    };
    const std::vector<Row> rows = {
        {"base64 lines", "QUJD\r\nRA==", "base64", "ABCD"},
        {"base64 skips an empty line", "QUJD\r\n\r\nRA==\r\n", "base64", "ABCD"},
        {"base64 lines ending in a blank", "QUJD \r\nRA== \r\n", "base64", "ABCD"},
        {"base64 leaves out characters outside its alphabet", "QU*JD\r\nR\tA==\r\n", "base64", "ABCD"},
        {"base64 groups across lines, LF line ends", "QUJ\nDRA==\n", "base64", "ABCD"},
        {"base64 without padding", "QUJDRA", "base64", "ABCD"},
        {"base64 ends after its padding", "RA==\r\nQUJD\r\n", "base64", "D"},
        {"x-uuencode", "begin 644 abc.txt\r\n#86)C\r\n`\r\nend\r\n", "x-uuencod", "abc"},
        {"uuencode with trailing blanks cut off", "begin 600 h\r\n32&5L;&\\L(\'=O<FQD(2 Q,C,T-0\r\n`\r\nend",
         "x-uue", "Hello, world! 12345"},
        {"uuencode with a folded begin line", "begin 664 =?UTF-8?B?YQ==?=\r\n =?UTF-8?B?Yg==?=\r\n#86)C\r\n`\r\nend",
         "uuencode", "abc"},
        {"uuencode without begin", "#86)C\r\nend\r\n", "uuencode", "abc"},
        {"base64 stops at the stored delimiter line", "QUJD\r\n------=_NextPart_000_0017_01C3CBA8.DEA1DD40\r\n",
         "base64", "ABC"},
        {"base64 stops at a delimiter tail", "QUJD\r\n------", "base64", "ABC"},
        {"long base64 line", std::string(4000, 'A'), "base64", std::string(3000, '\0')},
        {"quoted-printable", "a=3Db=\r\nc", "quoted-pr", "a=bc\r\n"},
        {"quoted-printable lower-case hex dropped", "x=3d", "quoted-pr", "x\r\n"},
        {"text lines get CR LF, the last too", "one\r\ntwo", "7bit", "one\r\ntwo\r\n"},
        {"closing delimiter of a composed message dropped", "a=3Db\r\n------=_NextPart_000_0017_01C3CBA8.DEA1DD40\r\n",
         "quoted-pr", "a=b\r\n"},
        {"blank encoding written as stored", "line\r\n", "", "line\r\n"},
        {"empty content", "", "base64", ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(DecodeAttachment(row.content, row.encoding), row.bytes) << row.name;
    }
}

TEST(SafeAttachmentName, HostileNamesStayOneFileName) {
    struct Row {
        const char* name;
        std::string in;
        std::string out;
    };
    const std::vector<Row> rows = {
        {"plain", "report.pdf", "report.pdf"},
        {"Japanese", "報告書.pdf"_sjis, "報告書.pdf"},
        {"Shift_JIS trail byte 0x5C is no separator", "表.txt"_sjis, "表.txt"},
        {"parent directories", "../../.bashrc", ".._.._.bashrc"},
        {"absolute path", "/etc/passwd", "_etc_passwd"},
        {"backslashes", "..\\..\\x", ".._.._x"},
        {"dot", ".", "attachment"},
        {"dot dot", "..", "attachment"},
        {"empty", "", "attachment"},
        {"control bytes", "a\r\nb\x1b\x7f.txt", "a__b__.txt"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(SafeAttachmentName(row.in), row.out) << row.name;
    }
    const std::string longName = SafeAttachmentName(std::string(200, 'a') + "報告書報告書報告書報告書"_sjis + ".jpeg");
    EXPECT_LE(longName.size(), 255u);
    EXPECT_TRUE(longName.ends_with(".jpeg"));
    EXPECT_EQ(SjisToUtf8(Utf8ToSjis(longName).text), longName) << "not cut inside a character";
}

class AttachmentDir : public testing::Test {
protected:
    testing_support::RuntimeDir runtime;
};

TEST_F(AttachmentDir, IsPrivateAndCopiesAreNotExecutable) {
    std::string error;
    const std::string dir = AttachmentDirectory(&error);
    ASSERT_EQ(dir, runtime.Path() + "/tegalo") << error;
    struct stat st {};
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const std::string path = WriteAttachmentCopy(dir, "script.sh", "#!/bin/sh\n", &error);
    ASSERT_EQ(path, dir + "/script.sh") << error;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ReadFile(path), "#!/bin/sh\n");

    // The same attachment again uses its copy; another one of the same
    // name gets a name of its own instead of overwriting it.
    EXPECT_EQ(WriteAttachmentCopy(dir, "script.sh", "#!/bin/sh\n", &error), path);
    EXPECT_EQ(WriteAttachmentCopy(dir, "script.sh", "other", &error), dir + "/script (2).sh");
    EXPECT_EQ(WriteAttachmentCopy(dir, "script.sh", "third", &error), dir + "/script (3).sh");
    EXPECT_EQ(WriteAttachmentCopy(dir, "script.sh", "other", &error), dir + "/script (2).sh");
    EXPECT_EQ(ReadFile(path), "#!/bin/sh\n");
    EXPECT_EQ(ReadFile(dir + "/script (2).sh"), "other");
    EXPECT_EQ(WriteAttachmentCopy(dir, "README", "x", &error), dir + "/README");
    EXPECT_EQ(WriteAttachmentCopy(dir, "README", "y", &error), dir + "/README (2)");

    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    EXPECT_EQ(AttachmentDirectory(&error), "") << "a directory open to others is refused";
}

TEST_F(AttachmentDir, PlantedSymbolicLinkIsNeitherFollowedNorReplaced) {
    const std::string dir = AttachmentDirectory();
    const std::string target = runtime.Path() + "/victim";
    std::ofstream(target) << "precious";
    ASSERT_EQ(symlink(target.c_str(), (dir + "/photo.jpg").c_str()), 0);
    std::string error;
    const std::string path = WriteAttachmentCopy(dir, "photo.jpg", "jpeg bytes", &error);
    EXPECT_EQ(path, dir + "/photo (2).jpg") << error;
    EXPECT_EQ(ReadFile(target), "precious");
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadFile(path), "jpeg bytes");
}

TEST(AttachmentPaths, OnlyFilesDirectlyInsideTheDirectory) {
    EXPECT_TRUE(IsAttachmentCopyPath("/run/user/1/tegalo/a.pdf", "/run/user/1/tegalo"));
    EXPECT_FALSE(IsAttachmentCopyPath("/run/user/1/tegalo/../x", "/run/user/1/tegalo"));
    EXPECT_FALSE(IsAttachmentCopyPath("/run/user/1/tegalo/sub/x", "/run/user/1/tegalo"));
    EXPECT_FALSE(IsAttachmentCopyPath("/run/user/1/tegalox/a", "/run/user/1/tegalo"));
    EXPECT_FALSE(IsAttachmentCopyPath("/home/u/.bashrc", "/run/user/1/tegalo"));
    EXPECT_FALSE(IsAttachmentCopyPath("/home/u/.bashrc", ""));

    EXPECT_TRUE(MayRunCode("run.sh"));
    EXPECT_TRUE(MayRunCode("Setup.EXE"));
    EXPECT_TRUE(MayRunCode("app.desktop"));
    EXPECT_TRUE(MayRunCode("README"));
    EXPECT_FALSE(MayRunCode("photo.jpg"));
    EXPECT_FALSE(MayRunCode("報告書.pdf"));
}

} // namespace
} // namespace tegalo
