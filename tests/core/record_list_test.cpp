// A folder in memory holds its file's bytes in one block with the records as
// views into it; records put in later are held on their own. Whatever the
// edits, the list shows what the file holds and rewrites it byte for byte.
#include "store/FolderFile.h"
#include "store/Record.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace tegalo {
namespace {

using testing_support::MakeRecord;
using testing_support::ReadFile;
using testing_support::Subjects;
using testing_support::TempDir;
using testing_support::WriteFile;

std::string Folder(const std::vector<std::string>& records) {
    std::string bytes = FormatField(static_cast<int>(records.size()));
    for (const std::string& record : records) {
        bytes += record;
    }
    return bytes;
}

// Applies `edit` to the file and to the list, as the store does.
void Edit(const TempDir& dir, RecordList& list, const FolderEdit& edit) {
    FileStamp stamp;
    ASSERT_EQ(RewriteFolderFile(dir.Path(), list, edit, stamp), 0);
    ApplyEdit(list, edit, stamp);
}

// What the list would write: its count, its records, its unread tail.
std::string Bytes(const RecordList& list) {
    std::string bytes(list.CountField());
    for (std::string_view record : list) {
        bytes += record;
    }
    return bytes + std::string(list.UnreadTail());
}

TEST(RecordList, ReadRecordsLieOneAfterAnotherInOneBlock) {
    TempDir dir;
    const std::string file = Folder({MakeRecord("a"), MakeRecord("b", std::string(5000, 'x')), MakeRecord("c")});
    WriteFile(dir / "recv", file);
    RecordList list;
    ASSERT_EQ(ReadFolderFile(dir / "recv", kReceived, list), 0);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(Bytes(list), file);
    for (std::size_t i = 0; i + 1 < list.size(); ++i) {
        EXPECT_EQ(list[i].data() + list[i].size(), list[i + 1].data()) << "record " << i << " is not a view";
    }
    // The block, the views and the list itself: nothing per record beyond its view.
    EXPECT_LE(list.MemoryBytes(), file.size() + 3 * sizeof(std::string_view) + sizeof(RecordList) + 64);
}

TEST(RecordList, EditsKeepTheFileAndTheListAlike) {
    TempDir dir;
    std::vector<std::string> expected = {MakeRecord("a"), MakeRecord("b"), MakeRecord("c"), MakeRecord("d"),
                                         MakeRecord("e")};
    WriteFile(dir / "recv", Folder(expected));
    RecordList list;
    ASSERT_EQ(ReadFolderFile(dir / "recv", kReceived, list), 0);
    const RecordList before = list; // a copy shares what it holds and never sees the edits

    const std::string replaced = MakeRecord("B", "a longer body than before\r\n");
    Edit(dir, list, FolderEdit{FolderEdit::Kind::kReplace, 1, replaced});
    expected[1] = replaced;
    const std::string appended = MakeRecord("f");
    Edit(dir, list, FolderEdit{FolderEdit::Kind::kAppend, 0, appended});
    expected.push_back(appended);
    Edit(dir, list, FolderEdit{FolderEdit::Kind::kRemove, 0, {}});
    expected.erase(expected.begin());
    const std::vector<std::size_t> some = {0, 2, 4}; // B, d, f: owned and read records alike
    Edit(dir, list, FolderEdit{FolderEdit::Kind::kRemoveSome, 0, {}, true, some});
    expected = {expected[1], expected[3]};

    EXPECT_EQ(Subjects(list), (std::vector<std::string>{"c", "e"}));
    EXPECT_EQ(list.CountField(), "     2");
    EXPECT_EQ(ReadFile(dir / "recv"), Folder(expected));
    EXPECT_EQ(Bytes(list), Folder(expected));
    EXPECT_EQ(Subjects(before), (std::vector<std::string>{"a", "b", "c", "d", "e"}));

    // Read anew, the file gives the same list.
    RecordList again;
    ASSERT_EQ(ReadFolderFile(dir / "recv", kReceived, again), 0);
    EXPECT_EQ(Bytes(again), Bytes(list));
}

TEST(RecordList, ReplacingOneRecordOverAndOverHoldsOnlyTheLastCopy) {
    TempDir dir;
    const std::string record = MakeRecord("a", std::string(1000, 'x'));
    WriteFile(dir / "recv", Folder({record, MakeRecord("b")}));
    RecordList list;
    ASSERT_EQ(ReadFolderFile(dir / "recv", kReceived, list), 0);
    const std::size_t held = list.MemoryBytes();
    for (int i = 0; i < 1000; ++i) {
        ApplyEdit(list, FolderEdit{FolderEdit::Kind::kReplace, 0, i % 2 == 0 ? WithReadMark(record) : record},
                  list.Stamp());
    }
    EXPECT_EQ(list[0], record);
    // The replaced copies are let go: a few records' worth at most stays.
    EXPECT_LT(list.MemoryBytes(), held + 200 * record.size());
}

TEST(RecordList, ADamagedFileKeepsItsUnreadTailThroughEdits) {
    TempDir dir;
    const std::string tail = "garbage that is no record";
    WriteFile(dir / "recv", Folder({MakeRecord("a"), MakeRecord("b")}) + tail);
    RecordList list;
    ASSERT_EQ(ReadFolderFile(dir / "recv", kReceived, list), 0);
    ASSERT_TRUE(list.Damaged());
    EXPECT_EQ(list.UnreadTail(), tail);
    Edit(dir, list, FolderEdit{FolderEdit::Kind::kAppend, 0, MakeRecord("c")});
    Edit(dir, list, FolderEdit{FolderEdit::Kind::kRemove, 0, {}});
    EXPECT_EQ(ReadFile(dir / "recv"), Folder({MakeRecord("b"), MakeRecord("c")}) + tail);
    EXPECT_EQ(list.UnreadTail(), tail);
}

// Reading only the count and the end steps through the size blocks of a
// file far longer than what one read takes, small records and one larger
// than a read alike, and still finds a damaged block deep in it.
TEST(RecordList, ReadingTheEndStepsThroughALongFile) {
    TempDir dir;
    std::vector<std::string> records;
    for (int i = 0; i < 400; ++i) {
        records.push_back(MakeRecord("r" + std::to_string(i), std::string(i == 200 ? 150000 : 700, 'x')));
    }
    const std::string file = Folder(records);
    WriteFile(dir / "sent", file);
    RecordList end;
    ASSERT_EQ(ReadFolderEnd(dir / "sent", kSent, end), 0);
    EXPECT_FALSE(end.Damaged());
    EXPECT_EQ(end.Count(), 400);

    std::string damaged = file;
    const std::size_t at = file.find(records[300]);
    damaged[at + 2] = 'x'; // record 300's length field
    WriteFile(dir / "sent", damaged);
    ASSERT_EQ(ReadFolderEnd(dir / "sent", kSent, end), 0);
    EXPECT_TRUE(end.Damaged());

    WriteFile(dir / "sent", file.substr(0, file.size() - 1)); // the last record cut short
    ASSERT_EQ(ReadFolderEnd(dir / "sent", kSent, end), 0);
    EXPECT_TRUE(end.Damaged());
}

TEST(RecordList, AFileWithoutRecordsHoldsNoBlock) {
    for (const std::string& file : {std::string(), std::string("   "), std::string("     0")}) {
        const RecordList list = ParseFolderBytes(file, kReceived);
        EXPECT_TRUE(list.empty());
        EXPECT_TRUE(list.UnreadTail().empty());
        EXPECT_LE(list.MemoryBytes(), sizeof(RecordList) + 32) << '"' << file << '"';
    }
}

} // namespace
} // namespace tegalo
