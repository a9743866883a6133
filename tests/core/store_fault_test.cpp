// Failures half way through a change: a temporary file that cannot be
// created, a disk that fills up, a target that cannot be opened, a crash
// that leaves a journal, a second process on the same mailbox. Every one
// leaves the old files and the shown folder as they were.
#include "config/AccountSettings.h"
#include "store/FolderFile.h"
#include "store/TegaloDoc.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace tegalo {
namespace {

using namespace literals;
using namespace testing_support;

// Every file in the mailbox with its content, to compare before and after.
std::map<std::string, std::string> Snapshot(const TempDir& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        if (entry.is_regular_file() && entry.path().filename() != "tegalo.lock") {
            files[entry.path().filename().string()] = ReadFile(entry.path().string());
        }
    }
    return files;
}

// A mailbox with something in every file.
std::unique_ptr<Mailbox> FullMailbox() {
    auto box = std::make_unique<Mailbox>();
    WriteFile(box->dir / "addr", Golden("addr_three"));
    WriteFile(box->dir / "comconfig", Golden("comconfig_full"));
    EXPECT_EQ(box->Open(Golden("three"), Golden("three"), "     0", Golden("three")), StoreStatus::kOk);
    return box;
}

struct RewriteRow {
    const char* name;
    const char* shown;
    const char* file;  // the file the operation replaces
    rlim_t sizeLimit;  // below the new file's size, above anything that must be written before it
    std::string message;
    std::function<bool(Mailbox&)> act; // true when the operation succeeded
};

const std::vector<RewriteRow>& RewriteRows() {
    static const std::vector<RewriteRow> rows = {
        {"RegData", "recv", "recv", 300, "ファイルが開けません6 RegData"_sjis,
         // A change beyond the read mark: the read mark alone is written in place.
         [](Mailbox& b) { return b.doc.RegData(2, MakeRecord("edited"), "recv") == StoreStatus::kOk; }},
        {"DelData deleting for good", "recycle", "recycle", 300, "ファイルが開けません3 DelData"_sjis,
         [](Mailbox& b) { return b.doc.DelData(1, "recycle", "recycle") == StoreStatus::kOk; }},
        {"DelData moving: the source rewrite fails after the target took the record", "recv", "recv", 300,
         "ファイルが開けません3 DelData"_sjis,
         [](Mailbox& b) { return b.doc.DelData(1, "recv", "sent") == StoreStatus::kOk; }},
        {"DelFileData", "recv", "reserv", 300, "ファイルが開けません11 DelFileData"_sjis,
         [](Mailbox& b) { return b.doc.DelFileData(0, "reserv") == StoreStatus::kOk; }},
        {"RegAddress", "recv", "addr", 40, "アドレスファイルが開けません"_sjis,
         [](Mailbox& b) { return b.doc.RegAddress("bob ,bob@example.com", "addr", 1) == StoreStatus::kOk; }},
        {"settings save", "recv", "comconfig", 20, "構成定義ﾌｧｲﾙがｵｰﾌﾟﾝできません"_sjis,
         [](Mailbox& b) { return SaveAccountSettings(b.dir.Path(), AccountSettings{}, b.ui) == SettingsStatus::kOk; }},
    };
    return rows;
}

// Runs `row` while `obstacle` is in force and checks that nothing changed
// and that the shown folder is still loaded; then runs it again without it.
void ExpectUntouched(const RewriteRow& row, const std::function<void(Mailbox&)>& obstacle,
                     const std::function<void(Mailbox&)>& clear) {
    SCOPED_TRACE(row.name);
    const std::unique_ptr<Mailbox> box = FullMailbox();
    ASSERT_TRUE(Loaded(box->doc.LoadList(row.shown).status));
    const auto before = Snapshot(box->dir);
    const std::vector<std::string> shown = Subjects(box->doc.GetRecordList());
    box->ui.messages.clear();

    obstacle(*box);
    const bool done = row.act(*box);
    clear(*box);

    EXPECT_FALSE(done);
    EXPECT_EQ(box->ui.Last(), row.message) << box->ui.Shown();
    EXPECT_EQ(Snapshot(box->dir), before);
    EXPECT_EQ(box->doc.CurrentFolder(), FolderFromName(row.shown));
    EXPECT_EQ(Subjects(box->doc.GetRecordList()), shown);
    EXPECT_TRUE(row.act(*box)) << box->ui.Shown();
    EXPECT_NE(box->File(row.file), before.at(row.file));
}

TEST(StoreFault, TemporaryFileCannotBeCreated) {
    for (const RewriteRow& row : RewriteRows()) {
        const std::string temp = std::string(row.file) + ".tmp";
        ExpectUntouched(
            row, [&](Mailbox& b) { std::filesystem::create_directory(b.dir / temp); },
            [&](Mailbox& b) { std::filesystem::remove(b.dir / temp); });
    }
}

TEST(StoreFault, DiskFullWhileWriting) {
    for (const RewriteRow& row : RewriteRows()) {
        std::unique_ptr<FileSizeLimit> limit;
        ExpectUntouched(
            row, [&](Mailbox&) { limit = std::make_unique<FileSizeLimit>(row.sizeLimit); },
            [&](Mailbox&) { limit.reset(); });
    }
}

TEST(StoreFault, FailedAppendLeavesTheCount) {
    const std::unique_ptr<Mailbox> box = FullMailbox();
    const auto before = Snapshot(box->dir);
    const std::string record = MakeRecord("does not fit");
    const PartSizes sizes = *ParseSizeBlock(record);
    ASSERT_EQ(box->doc.AddCount("recv", 1), StoreStatus::kOk);
    {
        FileSizeLimit limit(Golden("three").size() + 20);
        EXPECT_EQ(box->doc.AddData(sizes, record.substr(kSizeBlockLength), "recv"), StoreStatus::kCannotWrite);
    }
    EXPECT_EQ(box->ui.Last(), "ファイルが開けません2 AddData"_sjis);
    EXPECT_EQ(Snapshot(box->dir), before);
    EXPECT_EQ(box->doc.GetRecordList().CountField(), "     3");
    EXPECT_EQ(box->doc.GetRecordList().size(), 3u);

    // The next append counts from the old count.
    ASSERT_EQ(box->doc.AddReceived(sizes, record.substr(kSizeBlockLength), "recv"), StoreStatus::kOk);
    EXPECT_EQ(box->File("recv"), "     4" + Golden("three").substr(6) + record);
}

TEST(StoreFault, MoveToATargetThatCannotTakeTheRecord) {
    struct Row {
        const char* name;
        std::function<void(Mailbox&)> obstacle;
        std::function<void(Mailbox&)> clear;
        std::string message;
    } const rows[] = {
        {"target missing", [](Mailbox& b) { std::filesystem::rename(b.dir / "sent", b.dir / "sent.away"); },
         [](Mailbox& b) { std::filesystem::rename(b.dir / "sent.away", b.dir / "sent"); },
         "ファイルが開けません4 LoadList"_sjis},
        {"target is a directory",
         [](Mailbox& b) {
             std::filesystem::rename(b.dir / "sent", b.dir / "sent.away");
             std::filesystem::create_directory(b.dir / "sent");
         },
         [](Mailbox& b) {
             std::filesystem::remove(b.dir / "sent");
             std::filesystem::rename(b.dir / "sent.away", b.dir / "sent");
         },
         "ファイルが開けません4 LoadList"_sjis},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::unique_ptr<Mailbox> box = FullMailbox();
        const auto before = Snapshot(box->dir);
        row.obstacle(*box);
        EXPECT_EQ(box->doc.DelData(0, "recv", "sent"), StoreStatus::kCannotOpen);
        row.clear(*box);
        EXPECT_EQ(box->ui.Last(), row.message) << box->ui.Shown();
        EXPECT_EQ(Snapshot(box->dir), before);
        EXPECT_EQ(box->doc.GetRecordList().size(), 3u);
    }
    // A full disk refuses the record at the target; the source keeps it.
    const std::unique_ptr<Mailbox> box = FullMailbox();
    const auto before = Snapshot(box->dir);
    {
        FileSizeLimit limit(Golden("three").size() + 10);
        EXPECT_EQ(box->doc.DelData(0, "recv", "recycle"), StoreStatus::kCannotWrite);
    }
    EXPECT_EQ(box->ui.Last(), "ファイルが開けません2 AddData"_sjis);
    EXPECT_EQ(Snapshot(box->dir), before);
    EXPECT_EQ(box->doc.GetRecordList().size(), 3u);
}

TEST(StoreFault, RecordsTooLargeForTheirFields) {
    const std::unique_ptr<Mailbox> box = FullMailbox();
    const auto before = Snapshot(box->dir);
    const std::string body(999'940, 'b');
    const RecordPieces huge{"big", "x@example.jp", "date", "H: 1\r\n", body, {}};
    const PartSizes sizes = SizesFor(huge, 0, 0);
    ASSERT_EQ(box->doc.AddCount("recv", 1), StoreStatus::kOk);
    EXPECT_EQ(box->doc.AddData(sizes, JoinPieces(huge), "recv"), StoreStatus::kLimitExceeded);
    EXPECT_EQ(box->ui.Last(), "メッセージが大き過ぎて保存できません"_sjis);

    std::string tooLong = *box->doc.GetRecord(0);
    tooLong.replace(0, 6, "999999");
    EXPECT_EQ(box->doc.RegData(0, tooLong, "recv"), StoreStatus::kBadRecord);
    EXPECT_EQ(Snapshot(box->dir), before);
}

// A folder of 999 999 records (the most six characters can count) takes no
// further record, by append or by move.
TEST(StoreFault, MillionthRecordIsRefused) {
    Mailbox box;
    const std::string empty = MakeRecord("", "", "");
    std::string full = FormatField(kFieldMax);
    full.reserve(full.size() + empty.size() * kFieldMax);
    for (int i = 0; i < kFieldMax; ++i) {
        full += empty;
    }
    ASSERT_EQ(box.Open(full, Golden("three")), StoreStatus::kOk);
    full.clear();
    full.shrink_to_fit();
    const std::string message = "フォルダの件数が上限の999999件に達しています（recv）"_sjis;
    const std::string record = MakeRecord("one more");
    EXPECT_EQ(box.doc.AddCount("recv", 1), StoreStatus::kLimitExceeded);
    EXPECT_EQ(box.ui.Last(), message);

    ASSERT_EQ(box.doc.LoadList("reserv").status, StoreStatus::kOk);
    EXPECT_EQ(box.doc.DelData(0, "reserv", "recv"), StoreStatus::kLimitExceeded);
    EXPECT_EQ(box.ui.Last(), message);
    EXPECT_EQ(box.File("reserv"), Golden("three"));
    EXPECT_EQ(box.File("recv").substr(0, 6), "999999");
}

TEST(StoreFault, SecondProcessIsRefused) {
    TempDir dir;
    for (const char* name : {"recv", "reserv", "sent", "recycle"}) {
        WriteFile(dir / name, "     0");
    }
    {
        ScriptedUi ui;
        CTegaloDoc first(ui);
        ASSERT_EQ(first.Start(dir.Path()), StoreStatus::kOk);

        ScriptedUi otherUi;
        CTegaloDoc other(otherUi);
        EXPECT_EQ(other.Start(dir.Path()), StoreStatus::kLocked);
        EXPECT_EQ(otherUi.messages, std::vector<std::string>{"このメールボックスは他のTegaloが使用中です"_sjis});

        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ScriptedUi childUi;
            CTegaloDoc childDoc(childUi);
            ::_exit(childDoc.Start(dir.Path()) == StoreStatus::kLocked ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process was let in";
    }
    // Once the first document is gone, the mailbox is free again.
    ScriptedUi laterUi;
    CTegaloDoc later(laterUi);
    EXPECT_EQ(later.Start(dir.Path()), StoreStatus::kOk) << laterUi.Shown();
}

// The states a crash can leave behind, and what the next start makes of them.
class StoreRecovery : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(dir / "recv", Golden("three"));
        WriteFile(dir / "reserv", "     0");
        WriteFile(dir / "sent", "     0");
        WriteFile(dir / "recycle", Golden("b_c"));
    }

    // The journal of appending `record` to recycle (moved from recv when
    // `move` is set), as the store writes it before touching recycle.
    ChangeJournal Journal(const std::string& record, bool move) {
        RecordList target;
        EXPECT_EQ(ReadFolderFile(dir / "recycle", kDeleted, target), 0);
        ChangeJournal journal;
        EXPECT_EQ(StartAppendJournal(dir.Path(), target, record.size(), journal), 0);
        if (move) {
            RecordList source;
            EXPECT_EQ(ReadFolderFile(dir / "recv", kReceived, source), 0);
            journal.source = "recv";
            journal.sourceStamp = source.Stamp();
        }
        EXPECT_EQ(WriteJournal(dir.Path(), journal), 0);
        return journal;
    }

    StoreStatus Start() { return doc.Start(dir.Path()); }

    TempDir dir;
    ScriptedUi ui;
    CTegaloDoc doc{ui};
    const std::string a{ParseFolderBytes(Golden("three"), kReceived)[0]};
};

TEST_F(StoreRecovery, RecordWrittenButNotCountedIsTakenBack) {
    Journal(a, false);
    WriteFile(dir / "recycle", Golden("b_c") + a.substr(0, 100));
    ASSERT_EQ(Start(), StoreStatus::kOk);
    EXPECT_EQ(ReadFile(dir / "recycle"), Golden("b_c"));
    EXPECT_FALSE(std::filesystem::exists(dir / "tegalo.journal"));
    EXPECT_EQ(ui.traces.back(), "An interrupted change was taken back\n");
}

TEST_F(StoreRecovery, CountedAppendStands) {
    Journal(a, false);
    WriteFile(dir / "recycle", "     3" + Golden("b_c").substr(6) + a);
    ASSERT_EQ(Start(), StoreStatus::kOk);
    EXPECT_EQ(ReadFile(dir / "recycle"), Golden("b_c_a"));
    EXPECT_FALSE(std::filesystem::exists(dir / "tegalo.journal"));
}

TEST_F(StoreRecovery, MoveWhoseSourceWasNotRewrittenIsTakenBack) {
    Journal(a, true);
    WriteFile(dir / "recycle", Golden("b_c_a"));
    ASSERT_EQ(Start(), StoreStatus::kOk);
    EXPECT_EQ(ReadFile(dir / "recycle"), Golden("b_c"));
    EXPECT_EQ(ReadFile(dir / "recv"), Golden("three"));
}

TEST_F(StoreRecovery, MoveWhoseSourceWasReplacedStands) {
    Journal(a, true);
    WriteFile(dir / "recycle", Golden("b_c_a"));
    WriteFile(dir / "recv.tmp", "     2" + Golden("three").substr(6 + a.size()));
    std::filesystem::rename(dir / "recv.tmp", dir / "recv");
    ASSERT_EQ(Start(), StoreStatus::kOk);
    EXPECT_EQ(ReadFile(dir / "recycle"), Golden("b_c_a"));
    EXPECT_EQ(doc.GetRecordList().size(), 2u);
    EXPECT_EQ(ui.traces.back(), "An interrupted change had been made in full\n");
}

TEST_F(StoreRecovery, JournalCutShortChangedNothing) {
    const std::string journal = FormatJournal(Journal(a, true));
    WriteFile(dir / "tegalo.journal", journal.substr(0, journal.size() - 3));
    WriteFile(dir / "sent.tmp", "half a rewrite");
    ASSERT_EQ(Start(), StoreStatus::kOk);
    EXPECT_EQ(ReadFile(dir / "recycle"), Golden("b_c"));
    EXPECT_FALSE(std::filesystem::exists(dir / "tegalo.journal"));
    EXPECT_FALSE(std::filesystem::exists(dir / "sent.tmp"));
}

TEST(StoreJournal, RoundTrip) {
    ChangeJournal journal;
    journal.target = "recycle";
    journal.targetSize = 797;
    journal.targetHead = std::string("  \r\n 3", 6);
    journal.newSize = 1000;
    journal.newHead = "     4";
    journal.source = "recv";
    journal.sourceStamp.device = 2049;
    journal.sourceStamp.inode = 1234567;
    journal.hasIdentity = true;
    journal.targetDevice = 2050;
    journal.targetInode = 7654321;
    journal.companions = {"recv.uidl", "recv.digest"};
    const std::string text = FormatJournal(journal);
    const std::optional<ChangeJournal> back = ParseJournal(text);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->target, "recycle");
    EXPECT_EQ(back->targetSize, 797);
    EXPECT_EQ(back->targetHead, journal.targetHead);
    EXPECT_EQ(back->newSize, 1000);
    EXPECT_TRUE(back->hasIdentity);
    EXPECT_EQ(back->targetDevice, 2050u);
    EXPECT_EQ(back->targetInode, 7654321u);
    EXPECT_EQ(back->companions, (std::vector<std::string>{"recv.uidl", "recv.digest"}));
    EXPECT_EQ(back->newHead, "     4");
    EXPECT_EQ(back->source, "recv");
    EXPECT_EQ(back->sourceStamp.inode, 1234567u);
    for (std::size_t cut = 0; cut < text.size(); ++cut) {
        EXPECT_FALSE(ParseJournal(text.substr(0, cut)).has_value()) << cut;
    }
}

} // namespace
} // namespace tegalo
