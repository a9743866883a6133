// The folder ends noted between runs: an append trusts a note only while
// the folder file is exactly as noted, and reads the records again after
// any other change, however small.
#include "store/FolderEnds.h"
#include "store/TegaloDoc.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace tegalo {
namespace {

using testing_support::MakeRecord;

TEST(CheckedEndLine, ReadsWhatItWritesAndNothingElse) {
    CheckedEnd end;
    end.device = 2049;
    end.inode = 123456789;
    end.size = 200'000'006;
    end.modified = timespec{1'796'000'000, 999'999'999};
    end.changed = timespec{1'796'000'001, 0};
    end.count = 100000;
    const std::string line = FormatCheckedEndLine("sent", end);
    EXPECT_EQ(line, "sent 2049 123456789 200000006 1796000000 999999999 1796000001 0 100000");
    const auto parsed = ParseCheckedEndLine(line);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->first, "sent");
    EXPECT_TRUE(parsed->second == end);

    for (const char* bad : {"", "sent", " 1 2 3 4 5 6 7 8", "sent 1 2 3 4 5 6 7", "sent 1 2 3 4 5 6 7 8 9",
                            "sent 1 2 3 4 5 6 7 8 ", "sent 1 2 -3 4 5 6 7 8", "sent 1 2 3 4 1000000000 6 7 8",
                            "sent 1 2 3 4 5 6 7 1000000", "sent 1 2 3 4 5 6 7 x8", "sent 1  2 3 4 5 6 7 8"}) {
        EXPECT_FALSE(ParseCheckedEndLine(bad).has_value()) << bad;
    }
}

// A mailbox whose sent folder holds one record, appended by a run of the
// program (sent is not the shown folder, so its end is noted).
class FolderEnds : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"recv", "reserv", "sent", "recycle"}) {
            testing_support::WriteFile(dir / name, "     0");
        }
        testing_support::WriteFile(dir / "addr", "");
        ASSERT_EQ(AppendInRun(MakeRecord("one")), StoreStatus::kOk);
    }

    // One run of the program appending `record` to sent.
    StoreStatus AppendInRun(const std::string& record) {
        testing_support::ScriptedUi ui;
        CTegaloDoc doc(ui);
        if (!Loaded(doc.Start(dir.Path()))) {
            return StoreStatus::kCannotOpen;
        }
        if (const StoreStatus status = doc.AddCount("sent", 1); status != StoreStatus::kOk) {
            return status;
        }
        return doc.AddData(*ParseSizeBlock(record), std::string_view(record).substr(kSizeBlockLength), "sent");
    }

    std::string Sent() const { return testing_support::ReadFile(dir / "sent"); }

    testing_support::TempDir dir;
};

TEST_F(FolderEnds, AnAppendNotesTheFolderAsItIsOnDisk) {
    const std::optional<CheckedEnd> noted = RecallCheckedEnd(dir.Path(), "sent");
    ASSERT_TRUE(noted.has_value());
    RecordList list;
    ASSERT_EQ(ReadFolderEnd(dir / "sent", kSent, list), 0);
    const std::optional<CheckedEnd> now = CheckedEndOf(dir / "sent", list);
    ASSERT_TRUE(now.has_value());
    EXPECT_TRUE(*noted == *now);
    EXPECT_EQ(noted->count, 1);

    ASSERT_EQ(AppendInRun(MakeRecord("two")), StoreStatus::kOk);
    EXPECT_EQ(Sent(), "     2" + MakeRecord("one") + MakeRecord("two"));
    EXPECT_EQ(RecallCheckedEnd(dir.Path(), "sent")->count, 2);
}

// Whatever another program does to the file after the note, the next
// append reads the records again and refuses a damaged folder.
TEST_F(FolderEnds, AnyChangeByAnotherProgramIsReadAgain) {
    const std::string sound = Sent();
    const std::vector<std::pair<const char*, std::function<std::string(std::string)>>> changes = {
        {"bytes appended after the last record", [](std::string f) { return f + "junk"; }},
        {"a size block changed in place, same size",
         [](std::string f) {
             f[kFieldWidth + 1] = f[kFieldWidth + 1] == '9' ? '8' : '9';
             return f;
         }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        // The sound file again, noted by a run of the program.
        testing_support::WriteFile(dir / "sent", "     0");
        ASSERT_EQ(AppendInRun(MakeRecord("one")), StoreStatus::kOk);
        ASSERT_EQ(Sent(), sound);
        ASSERT_EQ(RecallCheckedEnd(dir.Path(), "sent")->count, 1);

        const std::string damaged = change(sound);
        std::ofstream(dir / "sent", std::ios::binary | std::ios::in | std::ios::out) << damaged;
        ASSERT_EQ(Sent(), damaged);
        EXPECT_NE(AppendInRun(MakeRecord("two")), StoreStatus::kOk);
        EXPECT_EQ(Sent(), damaged) << "nothing is appended to a damaged folder";
    }
}

TEST_F(FolderEnds, AnUnreadableNoteIsNoNote) {
    for (const std::string& notes : {std::string(""), std::string("garbage\n"), std::string("sent 1 2 3\n"),
                                    std::string(4, '\0')}) {
        testing_support::WriteFile(dir / std::string(kFolderEndsFileName), notes);
        EXPECT_FALSE(RecallCheckedEnd(dir.Path(), "sent").has_value());
    }
    ASSERT_EQ(AppendInRun(MakeRecord("two")), StoreStatus::kOk);
    EXPECT_EQ(Sent(), "     2" + MakeRecord("one") + MakeRecord("two"));
}

} // namespace
} // namespace tegalo
