// The document on healthy folder files: loading, appending, replacing,
// moving and deleting records, compared byte for byte with tests/data/store.
#include "config/NewMailbox.h"
#include "store/TegaloDoc.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace tegalo {
namespace {

using namespace literals;
using namespace testing_support;

class StoreFolder : public MailboxTest {};

const std::vector<std::string> kAbc = {"会議の件"_sjis, "Re: lunch", "写真"_sjis};

TEST_F(StoreFolder, StartShowsTheReceivedFolder) {
    Open(Golden("three"));
    EXPECT_EQ(doc.CurrentFolder(), kReceived);
    EXPECT_EQ(doc.BaseDir(), dir.Path());
    EXPECT_EQ(doc.GetRecordList().CountField(), "     3");
    EXPECT_EQ(Subjects(doc.GetRecordList()), kAbc);
    EXPECT_TRUE(ui.messages.empty()) << ui.Shown();
}

TEST_F(StoreFolder, StartNeedsTheReceivedFolderFile) {
    EXPECT_EQ(doc.Start(dir.Path()), StoreStatus::kCannotOpen);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"ファイルが開けません0"_sjis});
    EXPECT_EQ(doc.LoadList("recv").status, StoreStatus::kNotStarted);
}

TEST_F(StoreFolder, EmptyFolderIsItsCountAlone) {
    Open(Golden("three"));
    const LoadResult result = doc.LoadList(".\\recycle");
    EXPECT_EQ(result.status, StoreStatus::kOk);
    EXPECT_EQ(result.count, 0);
    EXPECT_EQ(doc.CurrentFolder(), kDeleted);
    EXPECT_EQ(doc.GetRecordList().CountField(), "     0");
    EXPECT_TRUE(doc.GetRecordList().empty());
}

TEST_F(StoreFolder, MissingFolderFileLeavesTheShownFolder) {
    Open(Golden("three"));
    std::filesystem::remove(dir / "sent");
    const LoadResult result = doc.LoadList("sent");
    EXPECT_EQ(result.status, StoreStatus::kCannotOpen);
    EXPECT_EQ(result.count, -1);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"ファイルが開けません4 LoadList"_sjis});
    ASSERT_FALSE(ui.traces.empty());
    EXPECT_EQ(ui.traces.back(), "Can't open file sent, error = 2\n");
    EXPECT_EQ(doc.CurrentFolder(), kReceived);
    EXPECT_EQ(Subjects(doc.GetRecordList()), kAbc);
}

TEST_F(StoreFolder, AppendToEmptyFolderWritesTheExample) {
    Open();
    const RecordPieces pieces{"Hi", "bob", "Mon", "X: y\r\n", "ok", {}};
    ASSERT_EQ(doc.AddCount("recv", 1), StoreStatus::kOk);
    ASSERT_EQ(doc.AddData(SizesFor(pieces, 0, 0), JoinPieces(pieces), "recv"), StoreStatus::kOk);
    EXPECT_EQ(File("recv"), Golden("example88"));
    EXPECT_EQ(doc.GetRecordList().CountField(), "     1");
    EXPECT_EQ(doc.GetRecord(0), Golden("example88").substr(6));
}

TEST_F(StoreFolder, AppendTouchesOnlyTheCountAndTheEnd) {
    std::string nine = FormatField(9);
    for (int i = 1; i <= 9; ++i) {
        nine += MakeRecord("message " + std::to_string(i));
    }
    Open(nine);
    const std::string tenth = MakeRecord("message 10");
    Append(tenth, "recv");
    EXPECT_EQ(File("recv"), "    10" + nine.substr(6) + tenth);
    EXPECT_EQ(doc.GetRecordList().CountField(), "    10");
    EXPECT_EQ(doc.GetRecordList().size(), 10u);
}

TEST_F(StoreFolder, AppendToAnotherFolderLeavesTheShownOne) {
    Open(Golden("three"));
    const std::string record = MakeRecord("to sent");
    Append(record, "sent");
    EXPECT_EQ(File("sent"), FormatField(1) + record);
    EXPECT_EQ(doc.CurrentFolder(), kReceived);
    EXPECT_EQ(Subjects(doc.GetRecordList()), kAbc);
    EXPECT_EQ(File("recv"), Golden("three"));
}

TEST_F(StoreFolder, AppendToTheShownWaitingFolderUpdatesTheList) {
    Open();
    ASSERT_EQ(doc.LoadList("reserv").status, StoreStatus::kOk);
    Append(MakeRecord("waiting"), "reserv");
    EXPECT_EQ(Subjects(doc.GetRecordList()), std::vector<std::string>{"waiting"});
    EXPECT_EQ(doc.GetRecordList().CountField(), "     1");
}

TEST_F(StoreFolder, DataWithoutAnnouncedCountIsRefused) {
    Open();
    const std::string record = MakeRecord("stray");
    EXPECT_EQ(doc.AddData(*ParseSizeBlock(record), record.substr(kSizeBlockLength), "recv"),
              StoreStatus::kInvalidArgument);
    ASSERT_EQ(doc.AddCount("sent", 1), StoreStatus::kOk);
    EXPECT_EQ(doc.AddData(*ParseSizeBlock(record), record.substr(kSizeBlockLength), "recv"),
              StoreStatus::kInvalidArgument);
    EXPECT_EQ(doc.AddCount("recv", 2), StoreStatus::kInvalidArgument);
    EXPECT_EQ(File("recv"), "     0");
    EXPECT_EQ(File("sent"), "     0");
}

TEST_F(StoreFolder, LargeRecordReadsBackUnchanged) {
    Open();
    std::string body;
    for (int i = 0; body.size() < 700'000; ++i) {
        body += "line " + std::to_string(i) + " \x82\xa0\r\n";
    }
    const std::string record = MakeRecord("large", body);
    Append(record, "recv");
    ASSERT_EQ(doc.LoadList("sent").status, StoreStatus::kOk);
    ASSERT_EQ(doc.LoadList("recv").status, StoreStatus::kOk);
    EXPECT_EQ(doc.GetRecord(0), record);
}

TEST_F(StoreFolder, CountWaiting) {
    Open(Golden("three"), Golden("b_c"));
    LoadResult result = doc.CountWaiting("reserv");
    EXPECT_EQ(result.status, StoreStatus::kOk);
    EXPECT_EQ(result.count, 2);
    EXPECT_EQ(doc.CurrentFolder(), kReceived);
    EXPECT_EQ(doc.GetRecordList().size(), 3u);
    for (std::string_view other : {"recv", "sent", "recycle", "outbox"}) {
        result = doc.CountWaiting(other);
        EXPECT_EQ(result.status, StoreStatus::kInvalidArgument) << other;
        EXPECT_EQ(result.count, -1) << other;
    }
    ASSERT_EQ(doc.LoadList("reserv").status, StoreStatus::kOk);
    EXPECT_EQ(doc.CountWaiting("reserv").count, 2);
    EXPECT_TRUE(ui.messages.empty()) << ui.Shown();
}

TEST_F(StoreFolder, MarkReadRewritesTheFolder) {
    Open(Golden("three"));
    const std::string marked = WithReadMark(*doc.GetRecord(2));
    ASSERT_EQ(doc.RegData(2, marked, "recv"), StoreStatus::kOk);
    EXPECT_EQ(File("recv"), Golden("three_c_read"));
    EXPECT_EQ(doc.GetRecord(2), marked);
}

TEST_F(StoreFolder, NewMailboxStartsEmpty) {
    ASSERT_EQ(CreateMailbox(dir / "box", ui), StoreStatus::kOk) << ui.Shown();
    for (std::string_view folder : {"recv", "reserv", "sent", "recycle"}) {
        EXPECT_EQ(ReadFile(dir / "box/" + std::string(folder)), "     0") << folder;
    }
    EXPECT_EQ(ReadFile(dir / "box/comconfig"), Golden("comconfig_defaults"));
    EXPECT_EQ(ReadFile(dir / "box/addr"), "");
    EXPECT_EQ(ReadFile(dir / "box/addr.txt"), "");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "box/comconfig").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(doc.Start(dir / "box"), StoreStatus::kOk);
}

TEST_F(StoreFolder, NewMailboxNeverOverwrites) {
    WriteFile(dir / "addr.txt", "kept,kept@example.jp\r\n");
    EXPECT_EQ(CreateMailbox(dir.Path(), ui), StoreStatus::kAlreadyExists);
    EXPECT_EQ(ui.Last(), "既にファイルがあります（addr.txt）"_sjis);
    EXPECT_EQ(ReadFile(dir / "addr.txt"), "kept,kept@example.jp\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "recv"));
    EXPECT_FALSE(std::filesystem::exists(dir / "comconfig"));
}

// One move or delete, with the folder files before and after.
struct MoveRow {
    const char* name;
    std::array<const char*, 4> before; // recv, reserv, sent, recycle; nullptr for an empty folder
    const char* shown;
    int index;
    const char* source;
    const char* target;
    std::array<const char*, 4> after;
    std::vector<std::string> shownAfter;
};

std::string FolderOrEmpty(const char* golden) {
    return golden == nullptr ? std::string("     0") : Golden(golden);
}

TEST_F(StoreFolder, MovesAndDeletes) {
    const MoveRow rows[] = {
        {"delete in the received folder goes to the end of recycle",
         {"three", nullptr, nullptr, nullptr}, "recv", 1, "recv", "recycle",
         {"three_without_b", nullptr, nullptr, "recycle_b"}, {"会議の件"_sjis, "写真"_sjis}},
        {"delete in recycle removes for good",
         {nullptr, nullptr, nullptr, "three"}, "recycle", 1, "recycle", "recycle",
         {nullptr, nullptr, nullptr, "three_without_b"}, {"会議の件"_sjis, "写真"_sjis}},
        {"move from recycle to recv while recycle is shown",
         {"b_c", nullptr, nullptr, "three"}, "recycle", 0, "recycle", "recv",
         {"b_c_a", nullptr, nullptr, "b_c"}, {"Re: lunch", "写真"_sjis}},
        {"moving the only record leaves the count 0",
         {"recycle_b", nullptr, nullptr, nullptr}, "recv", 0, "recv", "sent",
         {"empty", nullptr, "recycle_b", nullptr}, {}},
        {"waiting to deleted",
         {nullptr, "three", nullptr, "b_c"}, "reserv", 0, "reserv", "recycle",
         {nullptr, "b_c", nullptr, "b_c_a"}, {"Re: lunch", "写真"_sjis}},
    };
    for (const MoveRow& row : rows) {
        SCOPED_TRACE(row.name);
        Mailbox box;
        const char* names[] = {"recv", "reserv", "sent", "recycle"};
        ASSERT_EQ(box.Open(FolderOrEmpty(row.before[0]), FolderOrEmpty(row.before[1]), FolderOrEmpty(row.before[2]),
                           FolderOrEmpty(row.before[3])),
                  StoreStatus::kOk);
        ASSERT_EQ(box.doc.LoadList(row.shown).status, StoreStatus::kOk);
        ASSERT_EQ(box.doc.DelData(row.index, row.source, row.target), StoreStatus::kOk) << box.ui.Shown();
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(box.File(names[i]), FolderOrEmpty(row.after[static_cast<std::size_t>(i)])) << names[i];
        }
        EXPECT_EQ(box.doc.CurrentFolder(), FolderFromName(row.shown));
        EXPECT_EQ(Subjects(box.doc.GetRecordList()), row.shownAfter);
        EXPECT_EQ(box.doc.GetRecordList().CountField(), FormatField(static_cast<int>(row.shownAfter.size())));
        EXPECT_TRUE(box.ui.messages.empty()) << box.ui.Shown();
        EXPECT_FALSE(std::filesystem::exists(box.dir / "tegalo.journal"));
    }
}

TEST_F(StoreFolder, SentMessageLeavesTheWaitingFolder) {
    Open(Golden("three"), Golden("three"));
    ASSERT_EQ(doc.DelFileData(1, "reserv"), StoreStatus::kOk);
    EXPECT_EQ(File("reserv"), Golden("three_without_b"));
    EXPECT_EQ(doc.CurrentFolder(), kReceived);
    EXPECT_EQ(Subjects(doc.GetRecordList()), kAbc);

    EXPECT_EQ(doc.DelFileData(0, "sent"), StoreStatus::kInvalidArgument);
    EXPECT_EQ(doc.DelFileData(0, "recv"), StoreStatus::kInvalidArgument);
    EXPECT_EQ(File("recv"), Golden("three"));

    ASSERT_EQ(doc.LoadList("reserv").status, StoreStatus::kOk);
    ASSERT_EQ(doc.DelFileData(0, ".\\reserv"), StoreStatus::kOk);
    EXPECT_EQ(Subjects(doc.GetRecordList()), std::vector<std::string>{"写真"_sjis});
    EXPECT_EQ(File("reserv"), FormatField(1) + doc.GetRecord(0).value());
}

TEST_F(StoreFolder, IndexesOutOfRangeChangeNothing) {
    Open(Golden("three"), Golden("b_c"));
    for (int index : {-1, 3, 1000}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(doc.DelData(index, "recv", "recycle"), StoreStatus::kBadIndex);
        EXPECT_EQ(doc.RegData(index, *doc.GetRecord(0), "recv"), StoreStatus::kBadIndex);
        EXPECT_EQ(doc.GetRecord(index), std::nullopt);
    }
    EXPECT_EQ(doc.DelFileData(2, "reserv"), StoreStatus::kBadIndex);
    EXPECT_EQ(doc.DelFileData(-1, "reserv"), StoreStatus::kBadIndex);
    EXPECT_EQ(File("recv"), Golden("three"));
    EXPECT_EQ(File("reserv"), Golden("b_c"));
    EXPECT_EQ(File("recycle"), "     0");
    EXPECT_EQ(Subjects(doc.GetRecordList()), kAbc);
}

TEST_F(StoreFolder, OnlyTheShownFolderIsEverRewrittenFromTheList) {
    Open(Golden("three"), Golden("b_c"));
    // The shown list is recv's: writing it into reserv or sent would put one
    // folder's records into another folder's file.
    EXPECT_EQ(doc.DelData(0, "reserv", "recycle"), StoreStatus::kInvalidArgument);
    EXPECT_EQ(doc.RegData(0, *doc.GetRecord(0), "sent"), StoreStatus::kInvalidArgument);
    EXPECT_EQ(doc.DelData(0, "recv", "recv"), StoreStatus::kInvalidArgument);
    EXPECT_EQ(doc.DelData(0, "recv", "outbox"), StoreStatus::kInvalidArgument);
    EXPECT_EQ(File("reserv"), Golden("b_c"));
    EXPECT_EQ(File("sent"), "     0");
    EXPECT_EQ(File("recv"), Golden("three"));
}

TEST_F(StoreFolder, RecipientsIntoTheEnvelope) {
    Open();
    struct Row {
        const char* name;
        std::string text;
        std::vector<std::string> recipients;
    } const rows[] = {
        {"two bare addresses", "a@example.jp,b@example.jp", {"a@example.jp", "b@example.jp"}},
        {"a name and its address", "Taro <taro@example.jp>", {"taro@example.jp"}},
        {"names with and without a blank", "Taro <t@example.jp>,Hanako<h@example.jp>", {"t@example.jp", "h@example.jp"}},
        {"Cc line after the To list", "a@example.jp,\r\nCc: c@example.jp", {"a@example.jp", "c@example.jp"}},
        {"a quoted name holds a comma", "\"Suzuki, Ichiro\" <s@example.jp>", {"s@example.jp"}},
        {"a group and a comment", "Team: a@x.jp, B <b@x.jp>;, c@x.jp (Chiba)", {"a@x.jp", "b@x.jp", "c@x.jp"}},
        {"empty elements name no one", ",a@x.jp,,b@x.jp,", {"a@x.jp", "b@x.jp"}},
    };
    for (const Row& row : rows) {
        const Envelope envelope = doc.SetRecipients("subject", "date", row.text);
        ASSERT_EQ(envelope.status, StoreStatus::kOk) << row.name;
        std::vector<std::string> expected = {std::to_string(row.recipients.size() - 1), "subject", "date"};
        expected.insert(expected.end(), row.recipients.begin(), row.recipients.end());
        EXPECT_EQ(envelope.sendEnvelope, expected) << row.name;
    }
    // An address that cannot be read is refused with its text.
    const Envelope refused = doc.SetRecipients("subject", "date", "a@x.jp, Taro <taro@");
    EXPECT_EQ(refused.status, StoreStatus::kInvalidArgument);
    EXPECT_TRUE(refused.sendEnvelope.empty());
    EXPECT_EQ(ui.Last(), "宛先のアドレスを読み取れません: Taro <taro@"_sjis);
}

TEST_F(StoreFolder, AHundredRecipientsAtMost) {
    Open();
    std::string hundred = "r0@x.jp";
    for (int i = 1; i < 100; ++i) {
        hundred += ",r" + std::to_string(i) + "@x.jp";
    }
    const Envelope envelope = doc.SetRecipients("s", "d", hundred);
    ASSERT_EQ(envelope.status, StoreStatus::kOk);
    EXPECT_EQ(envelope.sendEnvelope.size(), 103u);
    const Envelope refused = doc.SetRecipients("s", "d", hundred + ",r100@x.jp");
    EXPECT_EQ(refused.status, StoreStatus::kTooManyRecipients);
    EXPECT_EQ(ui.Last(), "宛先が多過ぎます"_sjis);
    EXPECT_TRUE(refused.sendEnvelope.empty());
}

} // namespace
} // namespace tegalo
