// A batch of appends (the messages of one receive session) reaches the disk
// as a whole at its commit, and a crash before that takes it back whole.
#include "store/TegaloDoc.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace tegalo {
namespace {

using testing_support::MailboxTest;
using testing_support::MakeRecord;
using testing_support::Mailbox;
using testing_support::Subjects;

class Batch : public MailboxTest {
protected:
    void SetUp() override { Open("     1" + MakeRecord("before")); }

    bool JournalExists() { return std::filesystem::exists(dir / "tegalo.journal"); }
};

TEST_F(Batch, CommitMakesEveryAppendStand) {
    doc.BeginBatch("recv");
    for (const char* subject : {"one", "two", "three"}) {
        Append(MakeRecord(subject), "recv");
    }
    EXPECT_TRUE(JournalExists()) << "the batch can still be taken back";
    ASSERT_EQ(doc.CommitBatch(), StoreStatus::kOk) << ui.Shown();
    EXPECT_EQ(File("recv"), "     4" + MakeRecord("before") + MakeRecord("one") + MakeRecord("two") + MakeRecord("three"));
    EXPECT_FALSE(JournalExists());
    EXPECT_EQ(Subjects(doc.GetRecordList()), (std::vector<std::string>{"before", "one", "two", "three"}));
}

// The appends after a batch's first are held and written out together; a
// folder read in the middle of the batch (the window showing it) reads
// every one of them, and so does the next start after the commit.
TEST_F(Batch, HeldAppendsAreInTheFileWheneverItIsRead) {
    ASSERT_TRUE(Loaded(doc.LoadList("sent").status));
    doc.BeginBatch("recv");
    for (const char* subject : {"one", "two", "three"}) {
        Append(MakeRecord(subject), "recv");
    }
    ASSERT_TRUE(Loaded(doc.LoadList("recv").status)) << ui.Shown();
    EXPECT_EQ(Subjects(doc.GetRecordList()), (std::vector<std::string>{"before", "one", "two", "three"}));
    EXPECT_EQ(File("recv"), "     4" + MakeRecord("before") + MakeRecord("one") + MakeRecord("two") + MakeRecord("three"));
    Append(MakeRecord("four"), "recv");
    ASSERT_EQ(doc.CommitBatch(), StoreStatus::kOk) << ui.Shown();
    Mailbox after;
    std::filesystem::copy_file(dir / "recv", after.dir / "recv", std::filesystem::copy_options::overwrite_existing);
    ASSERT_TRUE(Loaded(after.doc.Start(after.dir.Path()))) << after.ui.Shown();
    EXPECT_EQ(Subjects(after.doc.GetRecordList()), (std::vector<std::string>{"before", "one", "two", "three", "four"}));
}

TEST_F(Batch, ACrashBeforeTheCommitTakesTheBatchBack) {
    doc.BeginBatch("recv");
    Append(MakeRecord("one"), "recv");
    Append(MakeRecord("two"), "recv");
    // What a crash leaves: the files as they are now, the journal included,
    // each still the same file (moved, not copied: the journal names them).
    Mailbox after;
    for (const char* name : {"recv", "reserv", "sent", "recycle", "addr", "tegalo.journal"}) {
        std::filesystem::rename(dir / name, after.dir / name);
    }
    ASSERT_TRUE(Loaded(after.doc.Start(after.dir.Path()))) << after.ui.Shown();
    EXPECT_EQ(after.File("recv"), "     1" + MakeRecord("before"));
    EXPECT_FALSE(std::filesystem::exists(after.dir / "tegalo.journal"));
}

TEST(BatchLeftOpen, IsTakenBackAtTheNextStart) {
    testing_support::TempDir dir;
    for (const char* name : {"reserv", "sent", "recycle"}) {
        testing_support::WriteFile(dir / name, "     0");
    }
    testing_support::WriteFile(dir / "recv", "     1" + MakeRecord("before"));
    testing_support::WriteFile(dir / "addr", "");
    testing_support::ScriptedUi ui;
    auto first = std::make_unique<CTegaloDoc>(ui);
    ASSERT_TRUE(Loaded(first->Start(dir.Path())));
    first->BeginBatch("recv");
    for (const char* subject : {"one", "two"}) {
        const std::string record = MakeRecord(subject);
        ASSERT_EQ(first->AddCount("recv", 1), StoreStatus::kOk);
        ASSERT_EQ(first->AddData(*ParseSizeBlock(record), record.substr(kSizeBlockLength), "recv"), StoreStatus::kOk);
    }
    first.reset(); // the program ends in the middle of a receive session
    CTegaloDoc next(ui);
    ASSERT_TRUE(Loaded(next.Start(dir.Path()))) << ui.Shown();
    EXPECT_EQ(testing_support::ReadFile(dir / "recv"), "     1" + MakeRecord("before"));
}

TEST_F(Batch, AnyOtherChangeCommitsFirst) {
    doc.BeginBatch("recv");
    Append(MakeRecord("one"), "recv");
    Append(MakeRecord("two"), "recv");
    ASSERT_EQ(doc.DelData(0, "recv", "recycle"), StoreStatus::kOk) << ui.Shown();
    EXPECT_FALSE(JournalExists());
    EXPECT_EQ(File("recv"), "     2" + MakeRecord("one") + MakeRecord("two"));
    EXPECT_EQ(File("recycle"), "     1" + MakeRecord("before"));
    EXPECT_EQ(doc.CommitBatch(), StoreStatus::kOk) << "nothing left to commit";
}

TEST_F(Batch, AppendsWhileAnotherFolderIsShown) {
    ASSERT_TRUE(Loaded(doc.LoadList("sent").status));
    doc.BeginBatch("recv");
    Append(MakeRecord("one"), "recv");
    Append(MakeRecord("two"), "recv");
    ASSERT_EQ(doc.CommitBatch(), StoreStatus::kOk) << ui.Shown();
    EXPECT_EQ(File("recv"), "     3" + MakeRecord("before") + MakeRecord("one") + MakeRecord("two"));
    EXPECT_EQ(doc.CurrentFolder(), kSent);
}

// Another program changing the folder file in the middle of a batch: the
// batch's appends go through the file it holds open, and neither an append
// nor the commit may write into, or vouch for, a file that is no longer the
// folder's.
TEST_F(Batch, AFolderChangedByAnotherProgramIsNotWrittenOrCommitted) {
    ASSERT_TRUE(Loaded(doc.LoadList("sent").status)); // recv is appended to as a file, not shown
    doc.BeginBatch("recv");
    Append(MakeRecord("one"), "recv");
    Append(MakeRecord("two"), "recv");
    const std::string written = File("recv");
    testing_support::WriteFile(dir / "recv", written + "junk"); // grown in place
    const std::string three = MakeRecord("three");
    StoreStatus status = doc.AddCount("recv", 1);
    if (status == StoreStatus::kOk) {
        status = doc.AddData(*ParseSizeBlock(three), std::string_view(three).substr(kSizeBlockLength), "recv");
    }
    // The append may be held; by the commit at the latest the change is seen,
    // nothing is written over the other program's bytes, and the batch is
    // taken back.
    if (status == StoreStatus::kOk) {
        status = doc.CommitBatch();
    }
    EXPECT_EQ(status, StoreStatus::kChangedOnDisk);
    EXPECT_EQ(File("recv").find(three), std::string::npos);

    // Replaced by a new file under the same name: the batch's records are in
    // the old one, so the commit must not say they are on the disk.
    testing_support::WriteFile(dir / "recv", "     1" + MakeRecord("before"));
    ASSERT_TRUE(Loaded(doc.LoadList("recv").status)) << ui.Shown();
    ASSERT_TRUE(Loaded(doc.LoadList("sent").status)) << ui.Shown();
    doc.BeginBatch("recv");
    Append(MakeRecord("one"), "recv");
    Append(MakeRecord("two"), "recv");
    Append(MakeRecord("three"), "recv");
    testing_support::WriteFile(dir / "recv.new", "     1" + MakeRecord("before"));
    std::filesystem::rename(dir / "recv.new", dir / "recv");
    EXPECT_NE(doc.CommitBatch(), StoreStatus::kOk);
}

} // namespace
} // namespace tegalo
