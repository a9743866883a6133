// Repairing a damaged folder file: the whole records stay, the damaged tail
// moves to a side file byte for byte, and the folder takes records again.
#include "store/FolderFile.h"
#include "store/FolderRepair.h"
#include "store/Record.h"
#include "tests/core/store_test_support.h"

#include <filesystem>

namespace tegalo {
namespace {

using namespace testing_support;

class StoreRepair : public MailboxTest {};

TEST_F(StoreRepair, KeepsWholeRecordsAndMovesTheTail) {
    const std::string whole = Golden("three");
    const std::string record = MakeRecord("cut short", "a body that never ends\r\n");
    const std::string tail = record.substr(0, record.size() / 2) + std::string("\0\xff\r\n", 4);
    Open(whole + tail);
    ASSERT_NE(doc.AddReceived(*ParseSizeBlock(MakeRecord("new")), MakeRecord("new").substr(kSizeBlockLength), "recv"),
              StoreStatus::kOk)
        << "a damaged folder takes nothing before its repair";

    FolderRepair report;
    ASSERT_EQ(RepairFolderFile(dir.Path(), kReceived, "20261207-203015", report), 0);
    EXPECT_TRUE(report.damaged);
    EXPECT_EQ(report.kept, 3);
    EXPECT_EQ(report.sideFile, "recv.damaged-20261207-203015");
    EXPECT_EQ(report.movedBytes, tail.size());
    EXPECT_EQ(File("recv"), whole);
    EXPECT_EQ(File("recv.damaged-20261207-203015"), tail);

    // A second repair finds nothing to do, and a side file is never replaced.
    ASSERT_EQ(RepairFolderFile(dir.Path(), kReceived, "20261207-203015", report), 0);
    EXPECT_FALSE(report.damaged);
    WriteFile(dir / "recv", whole + tail);
    EXPECT_EQ(RepairFolderFile(dir.Path(), kReceived, "20261207-203015", report), EEXIST);
    EXPECT_EQ(File("recv"), whole + tail);
    EXPECT_EQ(File("recv.damaged-20261207-203015"), tail);

    // Repaired, the file reads back whole.
    ASSERT_EQ(RepairFolderFile(dir.Path(), kReceived, "20261207-203016", report), 0);
    RecordList list;
    ASSERT_EQ(ReadFolderFile(dir / "recv", kReceived, list), 0);
    EXPECT_FALSE(list.Damaged());
    EXPECT_EQ(list.Count(), 3);
}

TEST_F(StoreRepair, SoundFilesAreLeftAlone) {
    Open(Golden("three"));
    const auto before = std::filesystem::last_write_time(dir / "recv");
    FolderRepair report;
    ASSERT_EQ(RepairFolderFile(dir.Path(), kReceived, "20261207-203015", report), 0);
    EXPECT_FALSE(report.damaged);
    EXPECT_EQ(report.kept, 3);
    EXPECT_EQ(std::filesystem::last_write_time(dir / "recv"), before);
    EXPECT_FALSE(std::filesystem::exists(dir / "recv.damaged-20261207-203015"));
}

} // namespace
} // namespace tegalo
