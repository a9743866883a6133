// Received messages kept as the server sent them beside their records: a
// real Dovecot receive of a message with more attachments than a record
// holds, what moves and deletes do with the originals, old mailboxes without
// them, and what a start removes after an interrupted change.
#include "mime/ReceivedMessage.h"
#include "store/Originals.h"
#include "store/TegaloDoc.h"
#include "text/unicode.h"
#include "transfer/DocReceiveStore.h"
#include "transfer/Pop3Session.h"
#include "transfer/UidlFile.h"

#include "store_test_support.h"
#include "tests/support/Dovecot.h"
#include "tests/support/Pop3Client.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <set>

namespace tegalo {
namespace {

using namespace testing_support;

std::string Pop3Data(const std::string& name) {
    return ReadFile(std::string(TEGALO_TEST_DATA) + "/pop3/" + name);
}

// The names of the files in the originals directory, sorted.
std::vector<std::string> OriginalFiles(const std::string& dir) {
    std::vector<std::string> names;
    if (!std::filesystem::exists(OriginalsDir(dir))) {
        return names;
    }
    for (const auto& entry : std::filesystem::directory_iterator(OriginalsDir(dir))) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A received message stored the way the receive session stores it.
StoreStatus Receive(CTegaloDoc& doc, std::string_view message) {
    ReceivedMessage split = SplitReceivedMessage(message);
    EXPECT_TRUE(split.DropAttachmentsToFit());
    return doc.AddReceived(split.Sizes(), split.RecordText(), "recv", message);
}

class StoreOriginals : public MailboxTest {};

TEST(OriginalNames, KeysAndFileNames) {
    const std::string record = MakeRecord("subject");
    const std::string key = OriginalKey(record);
    EXPECT_EQ(key.size(), 64u);
    EXPECT_EQ(OriginalKey(WithReadMark(record)), key) << "the read mark does not change the key";
    EXPECT_NE(OriginalKey(MakeRecord("subjecT")), key);
    EXPECT_EQ(OriginalKey(record.substr(0, kSizeBlockLength), record.substr(kSizeBlockLength)), key);

    struct Row {
        const char* name;
        std::string file;
        std::optional<int> n;
    };
    const std::vector<Row> rows = {
        {"first", key + ".eml", 1},
        {"second", key + "-2.eml", 2},
        {"tenth", key + "-10.eml", 10},
        {"leading zero", key + "-02.eml", std::nullopt},
        {"number one spelled out", key + "-1.eml", std::nullopt},
        {"no extension", key, std::nullopt},
        {"short key", key.substr(1) + ".eml", std::nullopt},
        {"upper-case hex", std::string(64, 'A') + ".eml", std::nullopt},
        {"the sweep marker", std::string(kSweepMarkerName), std::nullopt},
    };
    for (const Row& row : rows) {
        const std::optional<OriginalName> parsed = ParseOriginalFileName(row.file);
        EXPECT_EQ(parsed ? std::optional<int>(parsed->n) : std::nullopt, row.n) << row.name;
        if (parsed) {
            EXPECT_EQ(OriginalFileName(parsed->key, parsed->n), row.file) << row.name;
        }
    }
}

// Every attachment of a message, decoded, whatever the record had room for.
TEST(ReceivedAttachments, ListsEveryLeafButTheText) {
    const std::vector<ReceivedAttachment> five = ListReceivedAttachments(Pop3Data("multipart-5att.eml"));
    ASSERT_EQ(five.size(), 5u);
    for (std::size_t i = 0; i < five.size(); ++i) {
        EXPECT_EQ(five[i].name, SjisLiteral("資料" + std::to_string(i + 1) + ".txt"));
        EXPECT_EQ(five[i].bytes, "data " + std::to_string(i + 1));
    }
    struct Row {
        const char* name;
        std::string message;
        std::vector<std::string> names;
    };
    const std::vector<Row> rows = {
        {"plain text", "Content-Type: text/plain\r\n\r\nhello\r\n", {}},
        {"no content type", "Subject: x\r\n\r\nhello\r\n", {}},
        {"HTML only: its HTML form", "Content-Type: text/html\r\n\r\n<p>x</p>\r\n", {SjisLiteral("HTML形式.html")}},
        {"a picture alone", "Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\nAAEC\r\n",
         {"image.png"}},
        {"alternative: the HTML form is left out beside a text",
         "Content-Type: multipart/alternative; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nt\r\n"
         "--b\r\nContent-Type: text/html\r\n\r\n<p>t</p>\r\n--b--\r\n",
         {}},
        {"a second text part is an attachment",
         "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nt\r\n--b\r\n\r\nu\r\n--b--\r\n",
         {"text.txt"}},
    };
    for (const Row& row : rows) {
        std::vector<std::string> names;
        for (const ReceivedAttachment& attachment : ListReceivedAttachments(row.message)) {
            names.push_back(attachment.name);
        }
        EXPECT_EQ(names, row.names) << row.name;
    }
    EXPECT_EQ(ListReceivedAttachments("Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\nAAEC\r\n")
                  .at(0)
                  .bytes,
              std::string("\x00\x01\x02", 3));
}

TEST_F(StoreOriginals, OldMailboxWithoutOriginalsWorksAsBefore) {
    Open(FormatField(2) + MakeRecord("old 0") + MakeRecord("old 1"));
    EXPECT_EQ(doc.OriginalOf(0), std::nullopt);
    EXPECT_FALSE(doc.SaveOriginal(0, dir / "x.eml"));
    EXPECT_EQ(doc.DelData(0, "recv", "recycle"), StoreStatus::kOk) << ui.Shown();
    ASSERT_TRUE(Loaded(doc.LoadList("recycle").status));
    EXPECT_EQ(doc.DelData(0, "recycle", "recycle"), StoreStatus::kOk) << ui.Shown();
    EXPECT_FALSE(std::filesystem::exists(OriginalsDir(dir.Path()))) << "nothing made that was not needed";
    // A new message gets its original; the old one still has none.
    ASSERT_TRUE(Loaded(doc.LoadList("recv").status));
    ASSERT_EQ(Receive(doc, Pop3Data("multipart-3att.eml")), StoreStatus::kOk) << ui.Shown();
    EXPECT_EQ(doc.OriginalOf(0), std::nullopt);
    EXPECT_EQ(doc.OriginalOf(1), Pop3Data("multipart-3att.eml"));
}

// The original follows its record to the deleted folder and through the
// read mark; deleting for good takes it along, but never the original of
// another record with the same bytes. A batch's originals share one pack,
// which goes with the last of them.
TEST_F(StoreOriginals, MoveKeepsAndDeleteForGoodRemovesTheOriginal) {
    Open();
    const std::string message = Pop3Data("multipart-5att.eml");
    doc.BeginBatch("recv");
    ASSERT_EQ(Receive(doc, message), StoreStatus::kOk) << ui.Shown();
    ASSERT_EQ(Receive(doc, message), StoreStatus::kOk) << ui.Shown();
    ASSERT_EQ(Receive(doc, Pop3Data("multipart-1att.eml")), StoreStatus::kOk) << ui.Shown();
    ASSERT_EQ(doc.CommitBatch(), StoreStatus::kOk) << ui.Shown();
    const std::string key = OriginalKey(doc.GetRecordList()[0]);
    const std::string other = OriginalKey(doc.GetRecordList()[2]);
    ASSERT_EQ(OriginalFiles(dir.Path()).size(), 1u) << "one pack for the batch";
    // What the disk says, read afresh each time.
    const auto onDisk = [&](const std::string& k) {
        OriginalStore store;
        store.Open(dir.Path());
        return store.Count(k);
    };
    EXPECT_EQ(onDisk(key), 2) << "the same message twice has two originals";
    EXPECT_EQ(onDisk(other), 1);

    ASSERT_EQ(doc.RegData(0, WithReadMark(doc.GetRecordList()[0]), "recv"), StoreStatus::kOk);
    EXPECT_EQ(doc.OriginalOf(0), message) << "opened";
    ASSERT_EQ(doc.DelData(0, "recv", "recycle"), StoreStatus::kOk) << ui.Shown();
    ASSERT_EQ(doc.DelData(0, "recv", "recycle"), StoreStatus::kOk) << ui.Shown();
    ASSERT_TRUE(Loaded(doc.LoadList("recycle").status));
    EXPECT_EQ(doc.OriginalOf(0), message) << "moved";
    EXPECT_EQ(doc.OriginalOf(1), message);

    ASSERT_EQ(doc.DelData(0, "recycle", "recycle"), StoreStatus::kOk) << ui.Shown();
    EXPECT_EQ(doc.OriginalOf(0), message) << "the other copy keeps its original";
    EXPECT_EQ(onDisk(key), 1);
    ASSERT_EQ(doc.DelData(0, "recycle", "recycle"), StoreStatus::kOk) << ui.Shown();
    EXPECT_EQ(onDisk(key), 0);
    EXPECT_EQ(OriginalFiles(dir.Path()).size(), 1u) << "the pack stays for the message still in it";
    ASSERT_TRUE(Loaded(doc.LoadList("recv").status));
    EXPECT_EQ(doc.OriginalOf(0), Pop3Data("multipart-1att.eml")) << "other messages keep theirs";
    EXPECT_FALSE(std::filesystem::exists(OriginalsDir(dir.Path()) + std::string(kSweepMarkerName)));

    // Saving the original writes it as it came.
    ASSERT_TRUE(doc.SaveOriginal(0, dir / "saved.eml")) << ui.Shown();
    EXPECT_EQ(ReadFile(dir / "saved.eml"), Pop3Data("multipart-1att.eml"));

    // The last original of the pack takes the pack with it.
    ASSERT_EQ(doc.DelData(0, "recv", "recycle"), StoreStatus::kOk) << ui.Shown();
    ASSERT_TRUE(Loaded(doc.LoadList("recycle").status));
    ASSERT_EQ(doc.DelData(0, "recycle", "recycle"), StoreStatus::kOk) << ui.Shown();
    EXPECT_EQ(OriginalFiles(dir.Path()), std::vector<std::string>{});
}

// Originals kept one per file ("<key>.eml", "<key>-2.eml") are read,
// counted, swept and removed like those in packs.
TEST_F(StoreOriginals, SingleFileOriginalsStillCount) {
    const std::string record = MakeRecord("kept");
    Open(FormatField(1) + record);
    const std::string key = OriginalKey(record);
    std::filesystem::create_directory(OriginalsDir(dir.Path()));
    WriteFile(OriginalsDir(dir.Path()) + OriginalFileName(key, 1), "first");
    WriteFile(OriginalsDir(dir.Path()) + OriginalFileName(key, 2), "second");
    OriginalStore store;
    store.Open(dir.Path());
    EXPECT_EQ(store.Count(key), 2);
    EXPECT_EQ(store.Read(key), "first");
    // One record of the key: the sweep keeps one file.
    ASSERT_EQ(store.Sweep({{key, 1}}), 0);
    EXPECT_EQ(OriginalFiles(dir.Path()), std::vector<std::string>{OriginalFileName(key, 1)});
    ASSERT_EQ(doc.DelData(0, "recv", "recycle"), StoreStatus::kOk) << ui.Shown();
    ASSERT_TRUE(Loaded(doc.LoadList("recycle").status));
    EXPECT_EQ(doc.OriginalOf(0), "first");
    ASSERT_EQ(doc.DelData(0, "recycle", "recycle"), StoreStatus::kOk) << ui.Shown();
    EXPECT_EQ(OriginalFiles(dir.Path()), std::vector<std::string>{});
}

// A pack cut short by a crash, or holding originals of no record, gives
// what it holds whole and nothing else; the sweep removes the originals of
// no record.
TEST(OriginalPacks, ACutPackAndTheSweep) {
    TempDir dir;
    ASSERT_EQ(EnsureOriginalsDir(dir.Path()), 0);
    const std::string a(64, 'a');
    const std::string b(64, 'b');
    {
        OriginalStore store;
        store.Open(dir.Path());
        OriginalStore::Written written;
        ASSERT_EQ(store.Add(a, "message a", true, written), 0);
        ASSERT_EQ(store.Add(b, "message b", true, written), 0);
        ASSERT_EQ(store.Add(b, "message b", true, written), 0);
        ASSERT_EQ(store.SyncBatch(), 0);
    }
    const std::vector<std::string> packs = OriginalFiles(dir.Path());
    ASSERT_EQ(packs.size(), 1u);
    const std::string pack = OriginalsDir(dir.Path()) + packs[0];
    const std::string whole = ReadFile(pack);
    EXPECT_TRUE(whole.starts_with("ORIGINAL " + a + " 9\nmessage aORIGINAL " + b + " 9\nmessage b")) << whole;
    // Cut in the middle of the last original.
    WriteFile(pack, whole.substr(0, whole.size() - 3));
    {
        OriginalStore store;
        store.Open(dir.Path());
        EXPECT_EQ(store.Count(a), 1);
        EXPECT_EQ(store.Count(b), 1) << "the cut one is not there";
        EXPECT_EQ(store.Read(b), "message b");
        // No record has key b: the sweep removes it, marked in place.
        ASSERT_EQ(store.Sweep({{a, 1}}), 0);
        EXPECT_EQ(store.Count(b), 0);
    }
    OriginalStore again;
    again.Open(dir.Path());
    EXPECT_EQ(again.Count(b), 0);
    EXPECT_EQ(again.Read(a), "message a");
    EXPECT_NE(ReadFile(pack).find("REMOVED  " + b), std::string::npos);
    // No record at all: every original is removed, but a pack holding bytes
    // no header accounts for stays, marked, rather than go with them.
    ASSERT_EQ(again.Sweep({}), 0);
    EXPECT_EQ(again.Count(a), 0);
    EXPECT_EQ(OriginalFiles(dir.Path()), packs);
    EXPECT_NE(ReadFile(pack).find("REMOVED  " + a), std::string::npos);
}

// A record refused (a full folder) leaves no original; a batch never
// committed leaves originals that the next start removes.
TEST(StoreOriginalsStart, OriginalsWithoutRecordsDoNotStay) {
    TempDir dir;
    for (const char* name : {"recv", "reserv", "sent", "recycle"}) {
        WriteFile(dir / name, "     0");
    }
    WriteFile(dir / "addr", "");
    {
        ScriptedUi ui;
        CTegaloDoc doc(ui);
        ASSERT_EQ(doc.Start(dir.Path()), StoreStatus::kOk) << ui.Shown();
        doc.BeginBatch("recv");
        ASSERT_EQ(Receive(doc, Pop3Data("multipart-3att.eml")), StoreStatus::kOk) << ui.Shown();
        EXPECT_EQ(OriginalFiles(dir.Path()).size(), 2u) << "the original and the sweep marker";
        // The document goes without committing: the batch is taken back.
    }
    {
        ScriptedUi ui;
        CTegaloDoc doc(ui);
        ASSERT_EQ(doc.Start(dir.Path()), StoreStatus::kOk) << ui.Shown();
        EXPECT_EQ(doc.GetRecordList().Count(), 0);
        EXPECT_EQ(OriginalFiles(dir.Path()), std::vector<std::string>{});
    }
    // Without the marker a start leaves the directory alone.
    const std::string stray = std::string(64, 'a') + ".eml";
    WriteFile(OriginalsDir(dir.Path()) + stray, "stray");
    {
        ScriptedUi ui;
        CTegaloDoc doc(ui);
        ASSERT_EQ(doc.Start(dir.Path()), StoreStatus::kOk) << ui.Shown();
        EXPECT_EQ(OriginalFiles(dir.Path()), std::vector<std::string>{stray});
    }
    // A record refused leaves no original behind.
    {
        ScriptedUi ui;
        CTegaloDoc doc(ui);
        ASSERT_EQ(doc.Start(dir.Path()), StoreStatus::kOk) << ui.Shown();
        const std::string record = MakeRecord("x");
        PartSizes wrong = *ParseSizeBlock(record);
        wrong[kSubjectLength] += 1;
        EXPECT_NE(doc.AddReceived(wrong, record.substr(kSizeBlockLength), "recv", "original"), StoreStatus::kOk);
        EXPECT_EQ(OriginalFiles(dir.Path()), std::vector<std::string>{stray});
    }
}

// Where no original can be written the message is refused whole: nothing
// is appended, so the session leaves it on the server.
TEST_F(StoreOriginals, NoPlaceForTheOriginalStoresNothing) {
    Open();
    WriteFile(dir / std::string(kOriginalsDirName), "a file where the directory belongs");
    doc.BeginBatch("recv");
    EXPECT_EQ(Receive(doc, Pop3Data("multipart-5att.eml")), StoreStatus::kCannotWrite);
    EXPECT_EQ(doc.CommitBatch(), StoreStatus::kOk);
    EXPECT_EQ(File("recv"), "     0");
    EXPECT_FALSE(ui.messages.empty());

    // Once the way is clear, the next message is stored with its original.
    std::filesystem::remove(dir / std::string(kOriginalsDirName));
    ASSERT_EQ(Receive(doc, Pop3Data("multipart-5att.eml")), StoreStatus::kOk) << ui.Shown();
    EXPECT_EQ(doc.OriginalOf(0), Pop3Data("multipart-5att.eml"));
}

// The whole way through a real POP3 server: five attachments, more than a
// record holds, stored, deleted from the server, the original byte for
// byte, every attachment listed and saved with its bytes.
class OriginalsDovecot : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(server_.Start({{"taro", "secret"}}), ""); }
    void TearDown() override {
        if (HasFailure()) {
            std::cerr << "Dovecot's log:\n" << server_.Log();
        }
        server_.Stop();
    }
    pop3_test::DovecotServer server_;
};

TEST_F(OriginalsDovecot, FiveAttachmentsStoredWholeAndDeletedFromTheServer) {
    const std::string message = Pop3Data("multipart-5att.eml");
    server_.Deliver("taro", message);
    server_.Deliver("taro", Pop3Data("multipart-1att.eml"));
    Mailbox box;
    ASSERT_TRUE(Loaded(box.Open())) << box.ui.Shown();
    {
        DocReceiveStore store(box.doc);
        UidlFile uidl(box.dir.Path());
        Pop3Session session(store, &uidl);
        const pop3_test::SessionRun run =
            pop3_test::RunPop3Session(session, {"127.0.0.1", server_.Port(), "taro", "secret", false});
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.LastStatus(), "2 Messages Received! Server messages Deleted");
    }
    EXPECT_EQ(server_.MessageCount("taro"), 0);
    ASSERT_TRUE(Loaded(box.doc.LoadList("recv").status));
    ASSERT_EQ(box.doc.GetRecordList().Count(), 2);
    const std::optional<std::string> original = box.doc.OriginalOf(0);
    ASSERT_TRUE(original.has_value());
    EXPECT_EQ(*original, message) << "byte for byte";
    const std::optional<RecordPieces> pieces = SplitRecord(box.doc.GetRecordList()[0]);
    ASSERT_TRUE(pieces.has_value());
    EXPECT_EQ(ParseSizeBlock(box.doc.GetRecordList()[0])->at(kPartCount), 4) << "the record as ever: three slots";

    RuntimeDir runtime;
    const std::vector<ReceivedAttachment> all = ListReceivedAttachments(*original);
    ASSERT_EQ(all.size(), 5u);
    std::set<std::string> paths;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::optional<std::string> path = box.doc.SaveDecodedCopy(all[i].bytes, all[i].name);
        ASSERT_TRUE(path.has_value()) << box.ui.Shown();
        EXPECT_EQ(ReadFile(*path), "data " + std::to_string(i + 1));
        EXPECT_TRUE(path->ends_with("資料" + std::to_string(i + 1) + ".txt")) << *path;
        paths.insert(*path);
    }
    EXPECT_EQ(paths.size(), 5u);
}

} // namespace
} // namespace tegalo
