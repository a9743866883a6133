// The send session's view of the mail store, over a real document in a
// temporary mailbox.
#include "transfer/DocSendStore.h"
#include "store/SentJournal.h"

#include "tests/support/ComposeWaiting.h"
#include "text/jis.h"
#include "text/unicode.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

namespace tegalo {
namespace {

using namespace tegalo::literals;
using smtp_test::Draft;
using testing_support::MailboxTest;
using testing_support::Subjects;

class SmtpDocSendStore : public MailboxTest {
protected:
    void SetUp() override {
        Open();
        for (const char* subject : {"one", "two", "three"}) {
            ASSERT_EQ(smtp_test::SaveWaiting(doc, "me@example.jp", {subject, "a@example.jp", "", "text", {}}),
                      StoreStatus::kOk)
                << ui.Shown();
        }
    }

    std::vector<std::string> Folder(const std::string& name) {
        RecordList list;
        EXPECT_EQ(ReadFolderFile(dir / name, FolderFromName(name), list), 0);
        return Subjects(list);
    }

    DocSendStore store{doc};
};

TEST_F(SmtpDocSendStore, PreparesAWaitingMessageWhateverWasPreparedBefore) {
    const std::string jpg = dir / "写真.jpg";
    testing_support::WriteFile(jpg, std::string("\xFF\xD8\xFF\xE0 binary\0data", 17));
    ASSERT_EQ(smtp_test::SaveWaiting(doc, "me@example.jp",
                                     {"添付"_sjis, "山田 <yamada@example.jp>"_sjis, "b@example.jp", "本文"_sjis, {jpg}}),
              StoreStatus::kOk);
    EXPECT_EQ(store.CountWaiting(), 4);

    WaitingMessage waiting;
    ASSERT_EQ(store.PrepareWaiting(3, waiting), StoreStatus::kOk) << ui.Shown();

    const OutgoingMessage& m = waiting.message;
    EXPECT_EQ(m.recipientText, "山田 <yamada@example.jp>,\r\nCc: b@example.jp"_sjis);
    ASSERT_EQ(m.sendEnvelope.size(), 5u);
    EXPECT_EQ(m.sendEnvelope[0], "1");
    EXPECT_EQ(m.sendEnvelope[1], "添付"_sjis);
    EXPECT_EQ(m.sendEnvelope[3], "yamada@example.jp");
    EXPECT_EQ(m.sendEnvelope[4], "b@example.jp");
    EXPECT_EQ(m.bodyParts[0], "1");
    EXPECT_NE(m.bodyParts[2].find("name=\"" + SjisToJis("写真.jpg"_sjis) + "\""), std::string::npos);
    ASSERT_TRUE(Loaded(doc.LoadList("reserv").status));
    EXPECT_EQ(waiting.record, doc.GetRecordList()[3]);

    EXPECT_EQ(store.PrepareWaiting(4, waiting), StoreStatus::kBadIndex);

    // Preparing other messages first (one with more recipients and parts,
    // one that fails) changes nothing in the message prepared after them.
    const PreparedSend other = doc.PrepareSend(0, "reserv");
    ASSERT_EQ(other.status, StoreStatus::kOk);
    EXPECT_NE(other.bodyParts, m.bodyParts);
    const PreparedSend failed = doc.PrepareSend(9, "reserv");
    EXPECT_EQ(failed.status, StoreStatus::kBadIndex);
    EXPECT_TRUE(failed.sendEnvelope.empty());
    EXPECT_TRUE(failed.bodyParts.empty());
    const PreparedSend again = doc.PrepareSend(3, "reserv");
    ASSERT_EQ(again.status, StoreStatus::kOk);
    EXPECT_EQ(again.sendEnvelope, m.sendEnvelope);
    EXPECT_EQ(again.bodyParts, m.bodyParts);
}

TEST_F(SmtpDocSendStore, FilesTheSentCopy) {
    WaitingMessage waiting;
    ASSERT_EQ(store.PrepareWaiting(1, waiting), StoreStatus::kOk);
    const std::string header = "Date: x\r\n\r\n";
    PartSizes sizes{};
    sizes[kSubjectLength] = 3;
    sizes[kSenderLength] = 12;
    sizes[kDateLength] = 17;
    sizes[kHeaderLength] = static_cast<int>(header.size());
    ASSERT_EQ(store.FileSent(sizes, "two" + std::string("a@example.jp") + "Mon, Dec 07, 2026" + header,
                             waiting.message.bodyParts, ""),
              StoreStatus::kOk)
        << ui.Shown();
    const std::string sent = File("sent");
    EXPECT_TRUE(sent.starts_with("     1"));
    EXPECT_TRUE(sent.ends_with("two" + std::string("a@example.jp") + "Mon, Dec 07, 2026" + header + "text"));
}

// The sent records are noted one by one and leave the waiting folder
// together at the end, each found by its bytes wherever it stands then,
// whichever folder is shown and whether it was opened meanwhile.
TEST_F(SmtpDocSendStore, RemovesTheSentRecordsTogetherAtTheEnd) {
    WaitingMessage two;
    WaitingMessage three;
    ASSERT_EQ(store.PrepareWaiting(1, two), StoreStatus::kOk);
    ASSERT_EQ(store.PrepareWaiting(2, three), StoreStatus::kOk);

    ASSERT_TRUE(Loaded(doc.LoadList("reserv").status));
    ASSERT_EQ(doc.DelData(0, "reserv", "recycle"), StoreStatus::kOk) << "the indexes shift";
    ASSERT_EQ(doc.RegData(1, WithReadMark(doc.GetRecordList()[1]), "reserv"), StoreStatus::kOk) << "opened";
    ASSERT_TRUE(Loaded(doc.LoadList("recv").status));

    ASSERT_EQ(store.RemoveWaiting(three.record), StoreStatus::kOk) << ui.Shown();
    ASSERT_EQ(store.RemoveWaiting(two.record), StoreStatus::kOk);
    EXPECT_EQ(Folder("reserv"), (std::vector<std::string>{"two", "three"})) << "until the end";
    EXPECT_TRUE(std::filesystem::exists(dir / std::string(kSentJournalFileName)));

    ASSERT_EQ(store.RemoveSentWaiting(), StoreStatus::kOk) << ui.Shown();
    EXPECT_TRUE(Folder("reserv").empty());
    EXPECT_EQ(doc.CurrentFolder(), kReceived) << "the folder shown stays";
    EXPECT_FALSE(std::filesystem::exists(dir / std::string(kSentJournalFileName)));
    EXPECT_EQ(Folder("recycle"), std::vector<std::string>{"one"});
}

// Notes that an ended session could not act on are acted on before the
// next one counts the waiting messages; a note whose record is gone (edited
// meanwhile) takes nothing else with it.
TEST_F(SmtpDocSendStore, FinishesAnEarlierRemovalBeforeCounting) {
    WaitingMessage one;
    ASSERT_EQ(store.PrepareWaiting(0, one), StoreStatus::kOk);
    ASSERT_EQ(NoteSentRecord(doc.BaseDir(), one.record), 0);
    ASSERT_EQ(NoteSentRecord(doc.BaseDir(), one.record + "edited"), 0);
    EXPECT_EQ(store.CountWaiting(), 2) << ui.Shown();
    EXPECT_EQ(Folder("reserv"), (std::vector<std::string>{"two", "three"}));
    EXPECT_FALSE(std::filesystem::exists(dir / std::string(kSentJournalFileName)));
    EXPECT_EQ(Folder("sent"), std::vector<std::string>{"one"}) << "its copy never filed: filed as it waited";
}

// A session stopped after one message's copy was filed and another was
// only noted: the next count files the second as it waited, not the first
// again, and takes both out of the waiting folder.
TEST_F(SmtpDocSendStore, FinishesTheBookkeepingOfAStoppedSession) {
    WaitingMessage two;
    WaitingMessage three;
    ASSERT_EQ(store.PrepareWaiting(1, two), StoreStatus::kOk);
    ASSERT_EQ(store.PrepareWaiting(2, three), StoreStatus::kOk);
    const std::string header = "Date: x\r\n\r\n";
    PartSizes sizes{};
    sizes[kSubjectLength] = 8;
    sizes[kSenderLength] = 12;
    sizes[kDateLength] = 17;
    sizes[kHeaderLength] = static_cast<int>(header.size());
    ASSERT_EQ(store.RemoveWaiting(two.record), StoreStatus::kOk);
    ASSERT_EQ(store.FileSent(sizes, "two copy" + std::string("a@example.jp") + "Mon, Dec 07, 2026" + header,
                             two.message.bodyParts, two.record),
              StoreStatus::kOk)
        << ui.Shown();
    ASSERT_EQ(store.RemoveWaiting(three.record), StoreStatus::kOk);
    EXPECT_FALSE(std::filesystem::exists(dir / (std::string(kSentJournalFileName) + ".pending")));

    EXPECT_EQ(store.CountWaiting(), 1) << ui.Shown();
    EXPECT_EQ(Folder("reserv"), std::vector<std::string>{"one"});
    EXPECT_EQ(Folder("sent"), (std::vector<std::string>{"two copy", "three"}));
    EXPECT_FALSE(std::filesystem::exists(dir / std::string(kSentJournalFileName)));
}

TEST_F(SmtpDocSendStore, SameRecordButReadMark) {
    ASSERT_TRUE(Loaded(doc.LoadList("reserv").status));
    const std::string_view record = doc.GetRecordList()[0];
    EXPECT_TRUE(SameRecordButReadMark(record, WithReadMark(record)));
    EXPECT_FALSE(SameRecordButReadMark(record, doc.GetRecordList()[1]));
    std::string changed(record);
    changed.back() = 'X';
    EXPECT_FALSE(SameRecordButReadMark(record, changed));
}

TEST_F(SmtpDocSendStore, MissingWaitingFolder) {
    std::filesystem::remove(dir / "reserv");
    EXPECT_EQ(store.CountWaiting(), -1);
    EXPECT_FALSE(ui.messages.empty()) << "the user was told";
    WaitingMessage waiting;
    EXPECT_NE(store.PrepareWaiting(0, waiting), StoreStatus::kOk);
    static_cast<void>(store.RemoveWaiting("anything"));
    EXPECT_NE(store.RemoveSentWaiting(), StoreStatus::kOk);
}

} // namespace
} // namespace tegalo
