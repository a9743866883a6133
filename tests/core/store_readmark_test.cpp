// Marking a message read writes one byte in place; any other change to a
// record writes the folder anew.
#include "store/TegaloDoc.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace tegalo {
namespace {

using testing_support::MailboxTest;
using testing_support::MakeRecord;
using testing_support::WriteFile;

ino_t Inode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class ReadMark : public MailboxTest {
protected:
    void SetUp() override {
        Open("     3" + MakeRecord("one") + MakeRecord("two") + MakeRecord("three"));
    }
};

TEST_F(ReadMark, IsWrittenInPlace) {
    const std::string path = dir / "recv";
    const ino_t before = Inode(path);
    const std::string record = *doc.GetRecord(1);
    ASSERT_EQ(doc.RegData(1, WithReadMark(record), "recv"), StoreStatus::kOk) << ui.Shown();
    EXPECT_EQ(Inode(path), before) << "no new file for a read mark";
    EXPECT_EQ(File("recv"), "     3" + MakeRecord("one") + WithReadMark(MakeRecord("two")) + MakeRecord("three"));
    EXPECT_EQ(*doc.GetRecord(1), WithReadMark(record));
    // The folder reads back the same.
    ASSERT_TRUE(Loaded(doc.LoadList("recv").status));
    EXPECT_EQ(*doc.GetRecord(1), WithReadMark(record));
}

TEST_F(ReadMark, OtherChangesRewriteTheFolder) {
    const std::string path = dir / "recv";
    const ino_t before = Inode(path);
    ASSERT_EQ(doc.RegData(2, MakeRecord("THREE"), "recv"), StoreStatus::kOk) << ui.Shown();
    EXPECT_NE(Inode(path), before);
    EXPECT_EQ(File("recv"), "     3" + MakeRecord("one") + MakeRecord("two") + MakeRecord("THREE"));
}

TEST_F(ReadMark, AFileChangedSinceItWasLoadedIsLeftAlone) {
    const std::string changed = "     2" + MakeRecord("x") + MakeRecord("y");
    WriteFile(dir / "recv", changed);
    EXPECT_EQ(doc.RegData(0, WithReadMark(*doc.GetRecord(0)), "recv"), StoreStatus::kChangedOnDisk);
    EXPECT_EQ(File("recv"), changed);
    EXPECT_EQ(*doc.GetRecord(0), MakeRecord("one")) << "the list keeps what it showed";
}

} // namespace
} // namespace tegalo
