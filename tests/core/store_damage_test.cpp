// Damaged folder files: the document loads what it can read, says so, and no
// later change loses the part it could not read.
#include "store/FolderFile.h"
#include "store/TegaloDoc.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <random>

namespace tegalo {
namespace {

using namespace literals;
using namespace testing_support;

struct DamageRow {
    const char* golden;
    std::size_t readable; // records before the damage
    std::size_t tailFrom; // where the unread tail starts in the file (npos: no tail)
};

// Offsets: the count is 6 bytes, record A 206, record B 164.
const DamageRow kDamaged[] = {
    {"damaged_count_too_high", 2, std::string::npos},
    {"damaged_size_mismatch", 1, 212},
    {"damaged_nondigit_count", 1, std::string::npos},
    {"damaged_nondigit_field", 1, 212},
    {"damaged_truncated", 1, 212},
    {"damaged_empty", 0, std::string::npos},
    {"damaged_short_count", 0, std::string::npos},
    {"damaged_trailing", 1, 212},
};

std::string Tail(const std::string& file, const DamageRow& row) {
    return row.tailFrom == std::string::npos ? std::string() : file.substr(row.tailFrom);
}

class StoreDamage : public MailboxTest {};

TEST_F(StoreDamage, LoadsTheRecordsBeforeTheDamageAndSaysSo) {
    for (const DamageRow& row : kDamaged) {
        SCOPED_TRACE(row.golden);
        const std::string file = Golden(row.golden);
        const RecordList list = ParseFolderBytes(file, kReceived);
        EXPECT_TRUE(list.Damaged());
        EXPECT_EQ(list.size(), row.readable);
        EXPECT_EQ(list.CountField(), FormatField(static_cast<int>(row.readable)));
        EXPECT_EQ(list.UnreadTail(), Tail(file, row));
        if (row.readable > 0) {
            EXPECT_EQ(SubjectOf(list[0]), "会議の件"_sjis);
        }
    }
}

TEST_F(StoreDamage, StartShowsTheDamage) {
    Open(Golden("damaged_truncated"));
    EXPECT_EQ(doc.GetRecordList().size(), 1u);
    EXPECT_EQ(ui.messages,
              std::vector<std::string>{"フォルダファイルが壊れています（recv）：先頭から1件だけ読み込みました"_sjis});
    EXPECT_EQ(doc.LoadList("recv").status, StoreStatus::kDamaged);
}

TEST_F(StoreDamage, RewritesKeepTheUnreadTail) {
    for (const DamageRow& row : kDamaged) {
        if (row.readable == 0) {
            continue;
        }
        SCOPED_TRACE(row.golden);
        Mailbox box;
        const std::string file = Golden(row.golden);
        ASSERT_EQ(box.Open(file), StoreStatus::kDamaged);
        const std::string a = *box.doc.GetRecord(0);

        // Mark the first record read, then move it away.
        ASSERT_EQ(box.doc.RegData(0, WithReadMark(a), "recv"), StoreStatus::kOk) << box.ui.Shown();
        std::string rest;
        for (std::size_t i = 1; i < row.readable; ++i) {
            rest += *box.doc.GetRecord(static_cast<int>(i));
        }
        EXPECT_EQ(box.File("recv"),
                  FormatField(static_cast<int>(row.readable)) + WithReadMark(a) + rest + Tail(file, row));
        ASSERT_EQ(box.doc.DelData(0, "recv", "recycle"), StoreStatus::kOk) << box.ui.Shown();
        EXPECT_EQ(box.File("recv"), FormatField(static_cast<int>(row.readable - 1)) + rest + Tail(file, row));
        EXPECT_EQ(box.File("recycle"), FormatField(1) + WithReadMark(a));
    }
}

TEST_F(StoreDamage, AppendsOnlyWhereNoUnreadTailFollows) {
    const std::string record = MakeRecord("new mail");
    struct Row {
        const char* golden;
        StoreStatus status;
        std::string after; // empty: the file stays as it was
    } const rows[] = {
        {"damaged_empty", StoreStatus::kOk, "     1" + record},
        {"damaged_short_count", StoreStatus::kOk, "     1" + record},
        {"damaged_count_too_high", StoreStatus::kOk, "     3" + Golden("damaged_count_too_high").substr(6) + record},
        {"damaged_trailing", StoreStatus::kDamaged, ""},
        {"damaged_truncated", StoreStatus::kDamaged, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.golden);
        Mailbox box;
        ASSERT_EQ(box.Open("     0", "     0", "     0", Golden(row.golden)), StoreStatus::kOk);
        const std::optional<PartSizes> sizes = ParseSizeBlock(record);
        EXPECT_EQ(box.doc.AddReceived(*sizes, record.substr(kSizeBlockLength), "recycle"), row.status);
        EXPECT_EQ(box.File("recycle"), row.after.empty() ? Golden(row.golden) : row.after);
        if (row.status != StoreStatus::kOk) {
            EXPECT_EQ(box.ui.Last(), "フォルダファイルが壊れているため追加できません（recycle）"_sjis);
        }
    }
}

// Many records of varied length, so that records straddle the reader's
// chunks, read from a file and from memory, whole and cut at random places.
TEST_F(StoreDamage, FileAndMemoryReadTheSameAtAnyCut) {
    std::mt19937 random(7);
    std::string file;
    std::vector<std::size_t> ends; // where each record ends in the file
    const int count = 400;
    file = FormatField(count);
    for (int i = 0; i < count; ++i) {
        const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 4000)(random);
        file += MakeRecord("r" + std::to_string(i), std::string(length, static_cast<char>('a' + i % 26)));
        ends.push_back(file.size());
    }
    std::vector<std::size_t> cuts = {file.size(), 0, 5, 6, 7, 6 + 66, ends[0], ends[0] + 1};
    for (int i = 0; i < 20; ++i) {
        cuts.push_back(std::uniform_int_distribution<std::size_t>(0, file.size())(random));
    }
    for (std::size_t cut : cuts) {
        SCOPED_TRACE(cut);
        const std::string bytes = file.substr(0, cut);
        WriteFile(dir / "recv", bytes);
        RecordList fromFile;
        ASSERT_EQ(ReadFolderFile(dir / "recv", kReceived, fromFile), 0);
        const RecordList fromMemory = ParseFolderBytes(bytes, kReceived);
        const auto complete = static_cast<std::size_t>(std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin());
        EXPECT_EQ(fromFile.size(), complete);
        EXPECT_EQ(fromFile.Damaged(), cut != file.size());
        ASSERT_EQ(fromMemory.size(), fromFile.size());
        for (std::size_t i = 0; i < fromFile.size(); ++i) {
            ASSERT_EQ(fromFile[i], fromMemory[i]) << i;
        }
        const std::size_t readEnd = complete == 0 ? 6 : ends[complete - 1];
        EXPECT_EQ(fromFile.UnreadTail(), cut > readEnd ? bytes.substr(readEnd) : std::string());
        EXPECT_EQ(fromMemory.UnreadTail(), fromFile.UnreadTail());
        // Reading only the count and the end vouches for the whole file alone.
        RecordList end;
        ASSERT_EQ(ReadFolderEnd(dir / "recv", kReceived, end), 0);
        EXPECT_EQ(end.Damaged(), cut != file.size());
        if (!end.Damaged()) {
            EXPECT_EQ(end.Count(), count);
            EXPECT_FALSE(end.Whole());
        }
    }
}

// A folder not shown is appended to without reading it whole, and one whose
// end is not sound is still read whole, so that its damage is found.
TEST_F(StoreDamage, AppendsToAFolderNotShownOnlyAfterASoundEnd) {
    const std::string a = MakeRecord("a");
    const std::string b = MakeRecord("b", std::string(3000, 'b'));
    Open("     0", "     0", "     2" + a + b);
    Append(a, "sent");
    Append(b, "sent");
    EXPECT_EQ(ReadFile(dir / "sent"), "     4" + a + b + a + b);
    // Changed behind the store's back: the end it knew is not taken on trust.
    WriteFile(dir / "sent", "     2" + a + b.substr(0, 100));
    const std::optional<PartSizes> sizes = ParseSizeBlock(a);
    EXPECT_EQ(doc.AddReceived(*sizes, a.substr(kSizeBlockLength), "sent"), StoreStatus::kDamaged);
    EXPECT_EQ(ReadFile(dir / "sent"), "     2" + a + b.substr(0, 100));
}

} // namespace
} // namespace tegalo
