// Folder files the user arranged: a symbolic link to a file elsewhere stays
// a link, and a write-protected file is never replaced.
#include "store/Record.h"
#include "tests/core/store_test_support.h"

#include <filesystem>
#include <sys/stat.h>

namespace tegalo {
namespace {

using namespace testing_support;
using namespace literals;

class StoreLink : public MailboxTest {};

TEST_F(StoreLink, LinkedFolderFileStaysALinkAndItsTargetChanges) {
    std::filesystem::create_directory(dir / "elsewhere");
    WriteFile(dir / "elsewhere/recv", Golden("three"));
    std::filesystem::create_symlink("elsewhere/recv", dir / "recv");
    WriteFile(dir / "reserv", "     0");
    WriteFile(dir / "sent", "     0");
    WriteFile(dir / "recycle", "     0");
    WriteFile(dir / "addr", "");
    ASSERT_TRUE(Loaded(doc.Start(dir.Path()))) << ui.Shown();

    const std::string marked = WithReadMark(*doc.GetRecord(2));
    ASSERT_EQ(doc.RegData(2, marked, "recv"), StoreStatus::kOk) << ui.Shown();
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "recv"));
    EXPECT_EQ(File("elsewhere/recv"), Golden("three_c_read"));
    EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere/recv.tmp"));
    // Still the file the document knows: the next change goes through too.
    ASSERT_EQ(doc.RegData(2, *doc.GetRecord(2), "recv"), StoreStatus::kOk) << ui.Shown();
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "recv"));
    EXPECT_TRUE(ui.messages.empty()) << ui.Shown();
}

TEST_F(StoreLink, WriteProtectedFolderFileIsLeftAsItIs) {
    Open(Golden("three"), Golden("three"));
    ::chmod((dir / "reserv").c_str(), 0444);
    ::chmod((dir / "recv").c_str(), 0444);
    const std::string expected = "フォルダファイルが書き込み禁止になっています（reserv）：変更しませんでした"_sjis;

    Append(MakeRecord("new"), "sent"); // the other folders work as before
    EXPECT_NE(doc.AddReceived(*ParseSizeBlock(MakeRecord("x")), MakeRecord("x").substr(kSizeBlockLength), "reserv"),
              StoreStatus::kOk);
    EXPECT_EQ(ui.Last(), expected) << ui.Shown();
    EXPECT_EQ(File("reserv"), Golden("three"));

    // A rewrite of the shown folder (a record marked read) is refused too.
    ui.messages.clear();
    EXPECT_EQ(doc.RegData(2, WithReadMark(*doc.GetRecord(2)), "recv"), StoreStatus::kCannotWrite);
    EXPECT_EQ(ui.Last(), "フォルダファイルが書き込み禁止になっています（recv）：変更しませんでした"_sjis) << ui.Shown();
    EXPECT_EQ(File("recv"), Golden("three"));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "recv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
}

} // namespace
} // namespace tegalo
