// The order of the store's durable steps: what must be on the disk before
// the step that relies on it. A crash between two steps keeps only what was
// synced, so each test names the sync that has to come first.
#include "store/Attachments.h"
#include "store/FileIo.h"
#include "store/Mailbox.h"
#include "store/SentJournal.h"
#include "transfer/DocReceiveStore.h"
#include "transfer/Pop3Session.h"
#include "transfer/UidlFile.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace tegalo {
namespace {

using namespace testing_support;

struct Step {
    DurableStep kind;
    std::string file; // the last component of the path
    off_t offset;
    std::size_t length;
};

// Keeps every durable step while it lives.
class StepLog : public DurableStepObserver {
public:
    StepLog() : previous_(SetDurableStepObserver(this)) {}
    ~StepLog() override { SetDurableStepObserver(previous_); }
    StepLog(const StepLog&) = delete;
    StepLog& operator=(const StepLog&) = delete;

    void OnDurableStep(const DurableStepEvent& event) override {
        steps.push_back({event.step, std::filesystem::path(event.path).filename().string(), event.offset,
                         event.length});
    }

    // Index of the first step from `from` on that `match` accepts, or -1.
    template <typename Match>
    int Find(Match match, int from = 0) const {
        for (int i = from; i < static_cast<int>(steps.size()); ++i) {
            if (match(steps[static_cast<std::size_t>(i)])) {
                return i;
            }
        }
        return -1;
    }
    // Index of the last step that `match` accepts, or -1.
    template <typename Match>
    int FindLast(Match match) const {
        for (int i = static_cast<int>(steps.size()) - 1; i >= 0; --i) {
            if (match(steps[static_cast<std::size_t>(i)])) {
                return i;
            }
        }
        return -1;
    }

    std::string Dump() const {
        static const char* kNames[] = {"write", "sync", "rename", "unlink", "truncate", "syncdir"};
        std::string text;
        for (const Step& s : steps) {
            text += std::string(kNames[static_cast<int>(s.kind)]) + " " + s.file + " @" + std::to_string(s.offset) +
                    " +" + std::to_string(s.length) + "\n";
        }
        return text;
    }

    std::vector<Step> steps;

private:
    DurableStepObserver* previous_;
};

auto Is(DurableStep kind, std::string file) {
    return [kind, file](const Step& s) { return s.kind == kind && s.file == file; };
}

const std::string kJournal(kJournalFileName);

TEST(StoreStepOrder, AppendSyncsRecordBeforeCountAndJournalBeforeBoth) {
    Mailbox box;
    ASSERT_TRUE(Loaded(box.Open())) << box.ui.Shown();
    const std::string record = MakeRecord("new");
    StepLog log;
    ASSERT_EQ(box.doc.AddReceived(*ParseSizeBlock(record), record.substr(kSizeBlockLength), "recv"),
              StoreStatus::kOk);

    const int journalSynced = log.Find(Is(DurableStep::kSync, kJournal));
    const int journalInDir = log.Find(Is(DurableStep::kSyncDirectory, ""), std::max(journalSynced, 0));
    const int recordWritten = log.Find([&](const Step& s) {
        return s.kind == DurableStep::kWrite && s.file == "recv" && s.offset > 0 && s.length == record.size();
    });
    const int countWritten = log.Find([](const Step& s) {
        return s.kind == DurableStep::kWrite && s.file == "recv" && s.offset == 0 && s.length == kFieldWidth;
    });
    ASSERT_GE(journalSynced, 0) << log.Dump();
    ASSERT_GE(recordWritten, 0) << log.Dump();
    ASSERT_GE(countWritten, 0) << log.Dump();
    EXPECT_LT(journalInDir, recordWritten) << "the journal, and its name, reach the disk first\n" << log.Dump();
    const int recordSynced = log.Find(Is(DurableStep::kSync, "recv"), recordWritten);
    EXPECT_GE(recordSynced, 0) << log.Dump();
    EXPECT_LT(recordSynced, countWritten) << "the record is synced before the count announces it\n" << log.Dump();
    const int countSynced = log.Find(Is(DurableStep::kSync, "recv"), countWritten);
    const int journalGone = log.Find(Is(DurableStep::kUnlink, kJournal));
    EXPECT_GE(countSynced, 0) << log.Dump();
    EXPECT_LT(countSynced, journalGone) << "the journal goes only once the count is on the disk\n" << log.Dump();
}

// A send session's removal from the waiting folder: each note is on the
// disk, by its name too, before the rewrite that acts on it, and the notes
// go only once the new waiting folder is in place.
TEST(StoreStepOrder, SentMessagesLeaveTheWaitingFolderAfterTheirNotes) {
    Mailbox box;
    const std::string one = MakeRecord("one");
    const std::string two = MakeRecord("two");
    ASSERT_TRUE(Loaded(box.Open("     0", "     2" + one + two))) << box.ui.Shown();
    const std::string notes(kSentJournalFileName);
    StepLog log;
    ASSERT_EQ(box.doc.NoteSent(two), StoreStatus::kOk) << box.ui.Shown();
    ASSERT_EQ(box.doc.RemoveNoted(), StoreStatus::kOk) << box.ui.Shown();
    EXPECT_EQ(box.File("reserv"), "     1" + one);

    const int noteWritten = log.Find(Is(DurableStep::kWrite, notes));
    const int noteSynced = log.Find(Is(DurableStep::kSync, notes), std::max(noteWritten, 0));
    const int noteInDir = log.Find(Is(DurableStep::kSyncDirectory, ""), std::max(noteSynced, 0));
    const int replaced = log.Find(Is(DurableStep::kRename, "reserv"));
    const int replacedInDir = log.Find(Is(DurableStep::kSyncDirectory, ""), std::max(replaced, 0));
    const int notesGone = log.Find(Is(DurableStep::kUnlink, notes));
    ASSERT_GE(noteWritten, 0) << log.Dump();
    ASSERT_GE(noteInDir, 0) << log.Dump();
    ASSERT_GE(replaced, 0) << log.Dump();
    ASSERT_GE(notesGone, 0) << log.Dump();
    EXPECT_LT(noteInDir, replaced) << "the note reaches the disk first\n" << log.Dump();
    EXPECT_LT(replacedInDir, notesGone) << "the notes go once the new folder is in place\n" << log.Dump();
}

TEST(StoreStepOrder, MoveKeepsJournalUntilSourceIsReplaced) {
    Mailbox box;
    const std::string record = MakeRecord("moved");
    ASSERT_TRUE(Loaded(box.Open("     1" + record))) << box.ui.Shown();
    StepLog log;
    ASSERT_EQ(box.doc.DelData(0, "recv", "recycle"), StoreStatus::kOk) << box.ui.Shown();

    const int journalSynced = log.Find(Is(DurableStep::kSync, kJournal));
    const int targetWritten = log.Find([](const Step& s) { return s.kind == DurableStep::kWrite && s.file == "recycle"; });
    const int targetCount = log.Find([](const Step& s) {
        return s.kind == DurableStep::kWrite && s.file == "recycle" && s.offset == 0;
    });
    const int targetSynced = log.FindLast(Is(DurableStep::kSync, "recycle"));
    const int sourceTempSynced = log.Find(Is(DurableStep::kSync, "recv.tmp"));
    const int sourceReplaced = log.Find(Is(DurableStep::kRename, "recv"));
    const int journalGone = log.Find(Is(DurableStep::kUnlink, kJournal));
    ASSERT_GE(journalSynced, 0) << log.Dump();
    ASSERT_GE(targetWritten, 0) << log.Dump();
    ASSERT_GE(sourceReplaced, 0) << log.Dump();
    ASSERT_GE(journalGone, 0) << log.Dump();
    EXPECT_LT(journalSynced, targetWritten) << log.Dump();
    EXPECT_LT(log.Find(Is(DurableStep::kSync, "recycle")), targetCount) << log.Dump();
    EXPECT_LT(targetSynced, sourceReplaced) << "the copy is on the disk before the record leaves\n" << log.Dump();
    EXPECT_LT(sourceTempSynced, sourceReplaced) << "the new source is synced before it is renamed\n" << log.Dump();
    EXPECT_LT(log.Find(Is(DurableStep::kSyncDirectory, ""), sourceReplaced), journalGone) << log.Dump();
}

TEST(StoreStepOrder, RewriteSyncsTheNewFileBeforeTheRename) {
    Mailbox box;
    ASSERT_TRUE(Loaded(box.Open("     1" + MakeRecord("old")))) << box.ui.Shown();
    StepLog log;
    ASSERT_EQ(box.doc.RegData(0, MakeRecord("new"), "recv"), StoreStatus::kOk) << box.ui.Shown();
    const int synced = log.Find(Is(DurableStep::kSync, "recv.tmp"));
    const int renamed = log.Find(Is(DurableStep::kRename, "recv"));
    ASSERT_GE(synced, 0) << log.Dump();
    EXPECT_LT(log.Find(Is(DurableStep::kWrite, "recv.tmp")), synced) << log.Dump();
    EXPECT_LT(synced, renamed) << log.Dump();
    EXPECT_LT(renamed, log.Find(Is(DurableStep::kSyncDirectory, ""), std::max(renamed, 0))) << log.Dump();
}

// The receive session with the document's store: no DELE may leave before
// the batch of the session's messages is on the disk.
TEST(StoreStepOrder, ReceiveBatchIsSyncedBeforeTheFirstDele) {
    Mailbox box;
    ASSERT_TRUE(Loaded(box.Open())) << box.ui.Shown();
    DocReceiveStore store(box.doc);
    Pop3Session session(store, nullptr);
    StepLog log;
    const auto send = [](const Pop3Output& out) { return out.send; };
    static_cast<void>(send(session.StartReceive({"pop.example.jp", 110, "taro", "secret", false})));
    static_cast<void>(send(session.OnServerConnect()));
    const std::vector<std::string> replies = {
        "+OK ready\r\n", "+OK\r\n", "+OK logged in\r\n", "+OK 2 200\r\n",
        "+OK\r\n1 id1\r\n2 id2\r\n.\r\n",
        "+OK\r\nSubject: one\r\n\r\nfirst\r\n.\r\n",
        "+OK\r\nSubject: two\r\n\r\nsecond\r\n.\r\n",
    };
    std::string sent;
    int deleAt = -1;
    for (const std::string& reply : replies) {
        sent += send(session.ReadArrival(reply));
        if (sent.find("DELE") != std::string::npos) {
            deleAt = static_cast<int>(log.steps.size());
            break;
        }
    }
    ASSERT_GE(deleAt, 0) << "no DELE after the last message:\n" << sent;
    EXPECT_EQ(sent.substr(sent.find("DELE")), "DELE 1\r\n");

    // Every write to the received folder before the DELE was synced after it,
    // and the batch's journal was gone.
    const int lastWrite = log.FindLast(Is(DurableStep::kWrite, "recv"));
    const int lastSync = log.FindLast(Is(DurableStep::kSync, "recv"));
    ASSERT_GE(lastWrite, 0) << log.Dump();
    EXPECT_GT(lastSync, lastWrite) << "the batch is synced before the first DELE\n" << log.Dump();
    EXPECT_GT(log.FindLast(Is(DurableStep::kUnlink, kJournal)), lastSync) << log.Dump();
    EXPECT_FALSE(std::filesystem::exists(box.dir / kJournal));
    ASSERT_TRUE(Loaded(box.doc.LoadList("recv").status));
    EXPECT_EQ(box.doc.GetRecordList().Count(), 2);

    // The originals of the batch, written into one pack without a sync
    // each, reach the disk together, its name included, before the records
    // that refer to them.
    const auto original = [](const Step& s) { return s.file.ends_with(".pack"); };
    const int lastOriginal = log.FindLast([&](const Step& s) { return s.kind == DurableStep::kWrite && original(s); });
    const int originalsSynced = log.FindLast([&](const Step& s) { return s.kind == DurableStep::kSync && original(s); });
    const int namesSynced = log.FindLast(Is(DurableStep::kSyncDirectory, "originals"));
    ASSERT_GE(lastOriginal, 0) << log.Dump();
    EXPECT_EQ(log.Find([&](const Step& s) { return s.kind == DurableStep::kSync && original(s); }), originalsSynced)
        << "one sync for the batch\n" << log.Dump();
    EXPECT_LT(lastOriginal, originalsSynced) << log.Dump();
    EXPECT_LT(originalsSynced, namesSynced) << log.Dump();
    EXPECT_LT(namesSynced, lastSync) << log.Dump();
}

// The ids of the session's messages become the kept list at the very moment
// the batch does: staged beside it before the commit, renamed in place while
// the journal says the batch stands, all before the first DELE. A crash on
// either side of that rename finds the batch and the ids agreeing.
TEST(StoreStepOrder, ReceivedIdsCommittedWithTheBatchBeforeTheFirstDele) {
    Mailbox box;
    ASSERT_TRUE(Loaded(box.Open())) << box.ui.Shown();
    DocReceiveStore store(box.doc);
    UidlFile uidl(box.dir.Path());
    Pop3Session session(store, &uidl);
    StepLog log;
    static_cast<void>(session.StartReceive({"pop.example.jp", 110, "taro", "secret", false}));
    static_cast<void>(session.OnServerConnect());
    const std::vector<std::string> replies = {
        "+OK ready\r\n", "+OK\r\n", "+OK logged in\r\n", "+OK 2 200\r\n",
        "+OK\r\n1 id1\r\n2 id2\r\n.\r\n",
        "+OK\r\nSubject: one\r\n\r\nfirst\r\n.\r\n",
        "+OK\r\nSubject: two\r\n\r\nsecond\r\n.\r\n",
    };
    std::string sent;
    for (const std::string& reply : replies) {
        sent += session.ReadArrival(reply).send;
    }
    ASSERT_NE(sent.find("DELE 1\r\n"), std::string::npos) << sent;
    // Everything logged so far came before the DELE.
    const int staged = log.Find(Is(DurableStep::kRename, "recv.uidl.pending"));
    const int batchSynced = log.FindLast(Is(DurableStep::kSync, "recv"));
    const int doneJournal = log.FindLast(Is(DurableStep::kSync, kJournal));
    const int inPlace = log.Find(Is(DurableStep::kRename, "recv.uidl"));
    const int journalGone = log.FindLast(Is(DurableStep::kUnlink, kJournal));
    ASSERT_GE(staged, 0) << log.Dump();
    EXPECT_LT(staged, batchSynced) << log.Dump();
    EXPECT_LT(batchSynced, doneJournal) << log.Dump();
    EXPECT_LT(doneJournal, inPlace) << "the ids go in place once the batch stands\n" << log.Dump();
    EXPECT_LT(inPlace, journalGone) << log.Dump();
    const UidlLoad loaded = uidl.Load();
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.list.marks,
              (std::map<std::string, UidlMark, std::less<>>{{"id1", UidlMark::Stored}, {"id2", UidlMark::Stored}}));
    EXPECT_FALSE(std::filesystem::exists(box.dir / "recv.uidl.pending"));
}

std::vector<DurableStep> Kinds(const StepLog& log) {
    std::vector<DurableStep> kinds;
    for (const Step& s : log.steps) {
        kinds.push_back(s.kind);
    }
    return kinds;
}

// The list of received ids and the attachment copies are replaced whole by
// the store's one atomic routine, and say which step failed.
TEST(StoreStepOrder, UidlListAndAttachmentCopiesAreReplacedWhole) {
    const std::vector<DurableStep> whole = {DurableStep::kWrite, DurableStep::kSync, DurableStep::kRename,
                                            DurableStep::kSyncDirectory};
    TempDir dir;
    UidlFile uidl(dir.Path());
    {
        StepLog log;
        EXPECT_EQ(uidl.Save(UidlList{"taro", {{"a1", UidlMark::Stored}}}), "");
        EXPECT_EQ(Kinds(log), whole) << log.Dump();
        ASSERT_EQ(log.steps.size(), whole.size());
        EXPECT_EQ(log.steps[2].file, "recv.uidl");
        EXPECT_TRUE(log.steps[0].file.starts_with("recv.uidl.")) << "a temporary file of its own beside it";
    }
    EXPECT_EQ(std::filesystem::status(uidl.Path()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    UidlFile nowhere(dir / "missing");
    EXPECT_EQ(nowhere.Save(UidlList{}).rfind("cannot create a file beside " + dir / "missing/recv.uidl: ", 0), 0u)
        << nowhere.Save(UidlList{});

    const std::string copies = dir / "copies";
    std::filesystem::create_directory(copies);
    {
        StepLog log;
        std::string error;
        EXPECT_EQ(WriteAttachmentCopy(copies, "a.txt", "text", &error), copies + "/a.txt") << error;
        EXPECT_EQ(Kinds(log), whole) << log.Dump();
    }
    std::string error;
    EXPECT_EQ(WriteAttachmentCopy(dir / "none", "a.txt", "text", &error), "");
    EXPECT_EQ(error.rfind(dir / "none: ", 0), 0u) << error;
}

} // namespace
} // namespace tegalo
