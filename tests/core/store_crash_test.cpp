// Every store operation is stopped after each of its durable steps in turn:
// a child process runs the operation with TEGALO_FAIL_AFTER_STEP=k and ends
// right after its k-th write, sync, rename, unlink or truncation, for k = 1,
// 2, ... until the operation completes without reaching k. After each stop
// the next start must find the mailbox either as it was before the
// operation or as the operation leaves it, byte for byte: every folder file
// whole, every message in exactly one folder, no journal, nothing else
// changed, and every record that had its original (the message as
// received) still has it.
#include "store/FileIo.h"
#include "config/NewMailbox.h"
#include "store/Mailbox.h"
#include "store/SentJournal.h"
#include "store/TegaloDoc.h"
#include "store/FolderEnds.h"
#include "store/FolderFile.h"
#include "store/Originals.h"
#include "transfer/DocReceiveStore.h"
#include "transfer/Pop3Session.h"
#include "transfer/UidlFile.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tegalo {
namespace {

using namespace testing_support;

// The mailbox directory of a child, which runs the operation of its test.
constexpr const char* kChildDirVariable = "TEGALO_CRASH_CHILD_DIR";
// Far more steps than any operation takes: a run that gets here never ends.
constexpr int kMaxSteps = 200;

enum class Operation { kAppend, kBatch, kBatchWithOriginals, kMove, kDeleteForGood, kRewrite, kDeleteWaiting, kRemoveSent, kRemoveFirstSent };

class QuietUi : public StoreUi {
public:
    void Message(std::string_view) override {}
};

bool AddReceived(CTegaloDoc& doc, const std::string& subject, std::size_t size) {
    const std::string record = MakeRecord(subject, "body\r\n" + std::string(size, 'x') + "\r\n");
    return doc.AddReceived(*ParseSizeBlock(record), record.substr(kSizeBlockLength), "recv") == StoreStatus::kOk;
}

// A received message kept with its original, as the receive session stores it.
bool AddWithOriginal(CTegaloDoc& doc, const std::string& subject, std::size_t size) {
    const std::string record = MakeRecord(subject, "body\r\n" + std::string(size, 'x') + "\r\n");
    return doc.AddReceived(*ParseSizeBlock(record), record.substr(kSizeBlockLength), "recv",
                           "Subject: " + subject + "\r\n\r\nthe original\r\n") == StoreStatus::kOk;
}

// The operation itself, on the mailbox in `dir`. False when it failed.
bool Run(Operation operation, const std::string& dir) {
    QuietUi ui;
    CTegaloDoc doc(ui);
    if (doc.Start(dir) != StoreStatus::kOk) {
        return false;
    }
    switch (operation) {
    case Operation::kAppend:
        return AddReceived(doc, "appended", 3000);
    case Operation::kBatch:
        doc.BeginBatch("recv");
        return AddReceived(doc, "batch 1", 100) && AddReceived(doc, "batch 2", 5000) &&
               AddReceived(doc, "batch 3", 10) && doc.CommitBatch() == StoreStatus::kOk;
    case Operation::kBatchWithOriginals:
        doc.BeginBatch("recv");
        // "kept 1" twice: the same message received twice has two originals.
        return AddWithOriginal(doc, "kept 1", 100) && AddWithOriginal(doc, "kept 2", 5000) &&
               AddWithOriginal(doc, "kept 1", 100) && doc.CommitBatch() == StoreStatus::kOk;
    case Operation::kMove:
        return doc.DelData(1, "recv", "sent") == StoreStatus::kOk;
    case Operation::kDeleteForGood:
        return Loaded(doc.LoadList("recycle").status) && doc.DelData(0, "recycle", "recycle") == StoreStatus::kOk;
    case Operation::kRewrite: {
        const std::optional<std::string> record = doc.GetRecord(2);
        return record && doc.RegData(2, WithReadMark(*record), "recv") == StoreStatus::kOk;
    }
    case Operation::kDeleteWaiting:
        return Loaded(doc.LoadList("reserv").status) && doc.DelFileData(0, "reserv") == StoreStatus::kOk;
    case Operation::kRemoveSent:
    case Operation::kRemoveFirstSent: {
        // A send session: each accepted message noted, all removed at the end.
        RecordList waiting;
        if (ReadFolderFile(dir + "reserv", kWaiting, waiting) != 0 || waiting.size() < 2) {
            return false;
        }
        const std::size_t noted = operation == Operation::kRemoveSent ? 2 : 1;
        for (std::size_t i = 0; i < noted; ++i) {
            if (doc.NoteSent(waiting[i]) != StoreStatus::kOk) {
                return false;
            }
        }
        return doc.RemoveNoted() == StoreStatus::kOk;
    }
    }
    return false;
}

using Files = std::map<std::string, std::string>;

// Every file of the mailbox but the lock file and the noted folder ends (a
// hint that no longer fits once the files are copied), by name; the files of
// the originals directory as "originals/<name>", its packs as
// "originals/pack <n>" in the order of their names.
Files FilesOf(const std::string& dir) {
    Files files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name == kOriginalsDirName && entry.is_directory()) {
            // Packs are named by the clock: by their order instead.
            std::set<std::string> packs;
            for (const auto& inner : std::filesystem::directory_iterator(entry.path())) {
                const std::string innerName = inner.path().filename().string();
                if (innerName.ends_with(kPackExtension)) {
                    packs.insert(innerName);
                } else {
                    files[name + "/" + innerName] = ReadFile(inner.path().string());
                }
            }
            int n = 0;
            for (const std::string& pack : packs) {
                files[name + "/pack " + std::to_string(++n)] = ReadFile(entry.path() / pack);
            }
        } else if (name != kLockFileName && !name.starts_with(kFolderEndsFileName) && !entry.is_directory()) {
            files[name] = ReadFile(entry.path().string());
        }
    }
    return files;
}

void PutFiles(const std::string& dir, const Files& files) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::filesystem::remove_all(entry.path());
    }
    for (const auto& [name, bytes] : files) {
        if (const std::size_t slash = name.find('/'); slash != std::string::npos) {
            std::filesystem::create_directories(dir + name.substr(0, slash));
        }
        WriteFile(dir + name, bytes);
        std::filesystem::permissions(dir + name, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
}

std::string Folder(const std::vector<std::string>& records) {
    std::string text = FormatField(static_cast<int>(records.size()));
    for (const std::string& record : records) {
        text += record;
    }
    return text;
}

// Messages in every folder, of several sizes.
Files Seed() {
    TempDir dir;
    ScriptedUi ui;
    EXPECT_EQ(CreateMailbox(dir.Path(), ui), StoreStatus::kOk) << ui.Shown();
    Files files = FilesOf(dir.Path());
    files["recv"] = Folder({MakeRecord("recv 0"), MakeRecord("recv 1", std::string(2000, 'r') + "\r\n"),
                            MakeRecord("recv 2", std::string(700, 's') + "\r\n")});
    files["reserv"] = Folder({MakeRecord("waiting 0"), MakeRecord("waiting 1")});
    files["sent"] = Folder({MakeRecord("sent 0")});
    files["recycle"] = Folder({MakeRecord("deleted 0", std::string(1500, 'd') + "\r\n"), MakeRecord("deleted 1")});
    // Two messages kept with their originals.
    const std::string originals(kOriginalsDirName);
    files[originals + "/" + OriginalFileName(OriginalKey(MakeRecord("deleted 0", std::string(1500, 'd') + "\r\n")), 1)] =
        "original of deleted 0";
    files[originals + "/" + OriginalFileName(OriginalKey(MakeRecord("recv 1", std::string(2000, 'r') + "\r\n")), 1)] =
        "original of recv 1";
    return files;
}

// Starts the document on `dir` as the next start of the program would, and
// describes what is wrong with the mailbox ("" when nothing).
std::string CheckStart(const std::string& dir) {
    ScriptedUi ui;
    CTegaloDoc doc(ui);
    if (doc.Start(dir) != StoreStatus::kOk) {
        return "the start failed: " + ui.Shown();
    }
    // The messages that have an original wherever they are.
    const std::set<std::string> withOriginal = {"recv 1", "deleted 0", "kept 1", "kept 2",
                                                " message 1", " message 2", " message 3"};
    for (int folder = kReceived; folder <= kDeleted; ++folder) {
        const LoadResult loaded = doc.LoadList(FolderName(folder));
        if (loaded.status != StoreStatus::kOk) {
            return std::string(FolderName(folder)) + " does not load whole: " + ui.Shown();
        }
        for (int i = 0; i < loaded.count; ++i) {
            const std::string subject = SubjectOf(doc.GetRecordList()[static_cast<std::size_t>(i)]);
            if (withOriginal.count(subject) > 0 && !doc.OriginalOf(i)) {
                return "\"" + subject + "\" in " + std::string(FolderName(folder)) + " lost its original";
            }
        }
    }
    if (std::filesystem::exists(OriginalsDir(dir) + std::string(kSweepMarkerName))) {
        return "the sweep marker is still there";
    }
    if (std::filesystem::exists(dir + std::string(kJournalFileName))) {
        return "the journal is still there";
    }
    if (std::filesystem::exists(dir + std::string(kSentJournalFileName))) {
        return "the send journal is still there";
    }
    return {};
}

// How a child run ended: 0 when the operation completed, kFailAfterStepExit
// when it was stopped, anything else is a fault.
int RunChild(const std::string& dir, int step) {
    const std::string filter =
        std::string("--gtest_filter=") + ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() +
        "." + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        if (!entry.starts_with(std::string(kFailAfterStepVariable) + "=") &&
            !entry.starts_with(std::string(kChildDirVariable) + "=")) {
            environment.emplace_back(entry);
        }
    }
    environment.push_back(std::string(kFailAfterStepVariable) + "=" + std::to_string(step));
    environment.push_back(std::string(kChildDirVariable) + "=" + dir);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string self = "/proc/self/exe";
    std::string filterArgument = filter;
    std::vector<char*> argv = {self.data(), filterArgument.data(), nullptr};

    const pid_t child = ::fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
        }
        ::execve(argv[0], argv.data(), envp.data());
        std::_Exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

// In a child: runs the operation and ends. In the test: stops the operation
// after every step in turn and checks the mailbox after each stop.
// `partial`, when given, is an operation whose result a stop may also leave
// (a session stopped between two of its messages).
void StopAtEveryStep(Operation operation, std::optional<Operation> partial = std::nullopt) {
    if (const char* childDir = std::getenv(kChildDirVariable)) {
        std::_Exit(Run(operation, childDir) ? 0 : 3);
    }
    const Files before = Seed();
    TempDir work;
    PutFiles(work.Path(), before);
    ASSERT_TRUE(Run(operation, work.Path()));
    const Files after = FilesOf(work.Path());
    ASSERT_NE(after, before) << "the operation changed nothing";
    Files middle = before;
    if (partial) {
        PutFiles(work.Path(), before);
        ASSERT_TRUE(Run(*partial, work.Path()));
        middle = FilesOf(work.Path());
    }

    int stops = 0;
    for (int step = 1;; ++step) {
        SCOPED_TRACE("stopped after step " + std::to_string(step));
        ASSERT_LT(step, kMaxSteps) << "the operation never completes";
        PutFiles(work.Path(), before);
        const int ended = RunChild(work.Path(), step);
        ASSERT_TRUE(ended == 0 || ended == kFailAfterStepExit) << "the child ended with " << ended;
        const std::string fault = CheckStart(work.Path());
        ASSERT_EQ(fault, "");
        const Files found = FilesOf(work.Path());
        if (ended == 0) {
            EXPECT_EQ(found, after) << "the completed operation leaves what it left in the test";
            break;
        }
        ++stops;
        EXPECT_TRUE(found == before || found == after || found == middle)
            << "the mailbox is neither as before nor as after the operation";
    }
    EXPECT_GT(stops, 0);
}

// --- A whole receive, stopped at every step ---
//
// A scripted POP3 server in the child's process: three messages with ids,
// deletions made final only by QUIT (as RFC 1939 has it), which records them
// in a file beside the mailbox that the test reads after the child ended.

constexpr int kServerMessages = 3;
constexpr std::string_view kServerDeleted = "server-deleted.txt"; // not a file the store knows

std::string ServerMessage(int number) {
    return "Subject: message " + std::to_string(number) + "\r\nFrom: sender@example.jp\r\n\r\nbody marker-" +
           std::to_string(number) + "-end\r\n";
}

std::set<int> ServerDeleted(const std::string& dir) {
    std::set<int> deleted;
    std::ifstream in(dir + std::string(kServerDeleted));
    for (int number = 0; in >> number;) {
        deleted.insert(number);
    }
    return deleted;
}

// How the scripted server and the account behave.
enum class ServerKind {
    kUidlDelete, // the server lists ids; messages are deleted once stored
    kNoUidlKeep, // no UIDL; messages are kept on the server (recognised by digest)
};

// Runs one receive session against the server holding the messages not in
// `deleted`. False when the mailbox would not start.
bool ReceiveSession(const std::string& dir, ServerKind kind = ServerKind::kUidlDelete) {
    QuietUi ui;
    CTegaloDoc doc(ui);
    if (doc.Start(dir) != StoreStatus::kOk) {
        return false;
    }
    DocReceiveStore store(doc);
    UidlFile uidl(dir);
    UidlFile digests(dir, UidlFile::kDigestFileName);
    Pop3Session session(store, &uidl);
    session.SetDigestStore(&digests);
    const bool withUidl = kind == ServerKind::kUidlDelete;
    const std::set<int> gone = ServerDeleted(dir);
    std::vector<int> present; // the server's message numbers, 1 up, map to these
    for (int number = 1; number <= kServerMessages; ++number) {
        if (gone.count(number) == 0) {
            present.push_back(number);
        }
    }
    std::set<int> marked;
    static_cast<void>(session.StartReceive({"pop.example.jp", 110, "taro", "secret", !withUidl}));
    Pop3Output out = session.OnServerConnect();
    std::string reply = "+OK ready\r\n";
    for (int round = 0; round < 100 && !out.close; ++round) {
        out = session.ReadArrival(reply);
        reply.clear();
        std::istringstream commands(out.send);
        for (std::string line; std::getline(commands, line);) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            const std::size_t blank = line.find(' ');
            const std::string verb = line.substr(0, blank);
            const bool numbered = verb == "RETR" || verb == "DELE";
            const int arg = numbered && blank != std::string::npos ? std::atoi(line.c_str() + blank + 1) : 0;
            if (verb == "STAT") {
                reply += "+OK " + std::to_string(present.size()) + " 0\r\n";
            } else if (verb == "UIDL" && !withUidl) {
                reply += "-ERR not supported\r\n";
            } else if (verb == "UIDL") {
                reply += "+OK\r\n";
                for (std::size_t i = 0; i < present.size(); ++i) {
                    reply += std::to_string(i + 1) + " uid-" + std::to_string(present[i]) + "\r\n";
                }
                reply += ".\r\n";
            } else if (verb == "RETR") {
                reply += "+OK\r\n" + ServerMessage(present.at(static_cast<std::size_t>(arg - 1))) + ".\r\n";
            } else if (verb == "DELE") {
                marked.insert(present.at(static_cast<std::size_t>(arg - 1)));
                reply += "+OK\r\n";
            } else if (verb == "QUIT") {
                std::ofstream record(dir + std::string(kServerDeleted), std::ios::app);
                for (const int number : marked) {
                    record << number << "\n";
                }
                record.close();
                reply += "+OK bye\r\n";
            } else {
                reply += "+OK\r\n";
            }
        }
    }
    return out.close;
}

// How often each server message is in the received folder.
std::vector<int> StoredCounts(const std::string& dir) {
    const std::string recv = ReadFile(dir + "recv");
    std::vector<int> counts;
    for (int number = 1; number <= kServerMessages; ++number) {
        const std::string marker = "marker-" + std::to_string(number) + "-end";
        int count = 0;
        for (std::size_t at = recv.find(marker); at != std::string::npos; at = recv.find(marker, at + 1)) {
            ++count;
        }
        counts.push_back(count);
    }
    return counts;
}

// A receive stopped after each of its durable steps in turn (the batch, its
// commit, the saved ids, through the DELE phase and the QUIT), then a whole
// receive: each message is stored exactly once and the server is empty.
TEST(StoreCrash, ReceiveStoppedAtEveryStepStoresEachMessageOnce) {
    if (const char* childDir = std::getenv(kChildDirVariable)) {
        std::_Exit(ReceiveSession(childDir) ? 0 : 3);
    }
    const Files before = Seed();
    TempDir work;
    const std::vector<int> seeded = (PutFiles(work.Path(), before), StoredCounts(work.Path()));
    ASSERT_EQ(seeded, std::vector<int>(kServerMessages, 0));
    int stops = 0;
    for (int step = 1;; ++step) {
        SCOPED_TRACE("stopped after step " + std::to_string(step));
        ASSERT_LT(step, kMaxSteps) << "the receive never completes";
        PutFiles(work.Path(), before);
        const int ended = RunChild(work.Path(), step);
        ASSERT_TRUE(ended == 0 || ended == kFailAfterStepExit) << "the child ended with " << ended;
        ASSERT_TRUE(ReceiveSession(work.Path())) << "the next session";
        EXPECT_EQ(StoredCounts(work.Path()), std::vector<int>(kServerMessages, 1));
        EXPECT_EQ(ServerDeleted(work.Path()).size(), static_cast<std::size_t>(kServerMessages));
        EXPECT_EQ(CheckStart(work.Path()), "");
        if (ended == 0) {
            break;
        }
        ++stops;
    }
    EXPECT_GT(stops, 5);
}

// The same with a server that has no UIDL and keeps every message: the
// digests of what was stored reach the disk with the batch, so that no stop
// makes the next session store a message again.
TEST(StoreCrash, ReceiveWithoutUidlStoppedAtEveryStepStoresEachMessageOnce) {
    if (const char* childDir = std::getenv(kChildDirVariable)) {
        std::_Exit(ReceiveSession(childDir, ServerKind::kNoUidlKeep) ? 0 : 3);
    }
    const Files before = Seed();
    TempDir work;
    int stops = 0;
    for (int step = 1;; ++step) {
        SCOPED_TRACE("stopped after step " + std::to_string(step));
        ASSERT_LT(step, kMaxSteps) << "the receive never completes";
        PutFiles(work.Path(), before);
        const int ended = RunChild(work.Path(), step);
        ASSERT_TRUE(ended == 0 || ended == kFailAfterStepExit) << "the child ended with " << ended;
        ASSERT_TRUE(ReceiveSession(work.Path(), ServerKind::kNoUidlKeep)) << "the next session";
        ASSERT_TRUE(ReceiveSession(work.Path(), ServerKind::kNoUidlKeep)) << "and one more";
        EXPECT_EQ(StoredCounts(work.Path()), std::vector<int>(kServerMessages, 1));
        EXPECT_TRUE(ServerDeleted(work.Path()).empty());
        EXPECT_EQ(CheckStart(work.Path()), "");
        if (ended == 0) {
            break;
        }
        ++stops;
    }
    EXPECT_GT(stops, 3);
}

// --- What the start finds left behind ---

// A journal that does not describe the folder there now (a mailbox restored
// from a backup, a journal copied in) must not cut the folder: it is set
// aside, the folder kept, the user told.
TEST(StoreStart, ForeignJournalIsSetAsideAndTheFolderKept) {
    const Files seeded = Seed();
    struct Row {
        const char* name;
        bool identity;
    };
    for (const Row row : {Row{"another file's identity", true}, Row{"no identity recorded", false}}) {
        SCOPED_TRACE(row.name);
        TempDir work;
        PutFiles(work.Path(), seeded);
        ChangeJournal journal;
        journal.target = "recv";
        journal.targetSize = 6;
        journal.targetHead = "     0";
        journal.newSize = 400;
        journal.newHead = "     1";
        journal.hasIdentity = row.identity;
        journal.targetDevice = 1;
        journal.targetInode = 1;
        WriteFile(work.Path() + std::string(kJournalFileName), FormatJournal(journal));

        ScriptedUi ui;
        CTegaloDoc doc(ui);
        ASSERT_EQ(doc.Start(work.Path()), StoreStatus::kOk) << ui.Shown();
        EXPECT_EQ(ReadFile(work.Path() + "recv"), seeded.at("recv"));
        EXPECT_EQ(ui.messages.size(), 1u);
        EXPECT_FALSE(std::filesystem::exists(work.Path() + std::string(kJournalFileName)));
        EXPECT_EQ(ReadFile(work.Path() + std::string(kAsideJournalPrefix) + "1"), FormatJournal(journal));
    }
}

// The journal of this very file, as an interrupted append leaves it, is
// still undone.
TEST(StoreStart, OwnJournalIsUndone) {
    const Files seeded = Seed();
    TempDir work;
    PutFiles(work.Path(), seeded);
    {
        QuietUi ui;
        CTegaloDoc doc(ui);
        ASSERT_EQ(doc.Start(work.Path()), StoreStatus::kOk);
        ASSERT_TRUE(Loaded(doc.LoadList("recv").status));
        ChangeJournal journal;
        ASSERT_EQ(StartAppendJournal(work.Path(), doc.GetRecordList(), 100, journal), 0);
        EXPECT_TRUE(journal.hasIdentity);
        WriteFile(work.Path() + std::string(kJournalFileName), FormatJournal(journal));
        std::ofstream(work.Path() + "recv", std::ios::app) << std::string(50, 'z');
    }
    ScriptedUi ui;
    CTegaloDoc doc(ui);
    ASSERT_EQ(doc.Start(work.Path()), StoreStatus::kOk) << ui.Shown();
    EXPECT_EQ(ReadFile(work.Path() + "recv"), seeded.at("recv"));
    EXPECT_TRUE(ui.messages.empty()) << ui.Shown();
}

// Temporary files an interrupted write left in the mailbox go at the start;
// nothing else does.
TEST(StoreStart, OrphanedTemporariesAreRemoved) {
    const Files seeded = Seed();
    TempDir work;
    PutFiles(work.Path(), seeded);
    for (const char* orphan : {"recv.uidl.a1B2c3", "recv.tmp", "addr.tmp", "comconfig.tmp", ".tegalo-Xy12Zq"}) {
        WriteFile(work.Path() + orphan, "left over");
    }
    for (const char* kept : {"recv.uidl", "notes.txt", "recv.uidl.backup-copy", "tmp"}) {
        WriteFile(work.Path() + kept, "mine");
    }
    std::filesystem::create_directory(work.Path() + "dir.tmp");
    ScriptedUi ui;
    CTegaloDoc doc(ui);
    ASSERT_EQ(doc.Start(work.Path()), StoreStatus::kOk) << ui.Shown();
    Files expected = seeded;
    for (const char* kept : {"recv.uidl", "notes.txt", "recv.uidl.backup-copy", "tmp"}) {
        expected[kept] = "mine";
    }
    EXPECT_EQ(FilesOf(work.Path()), expected);
    EXPECT_TRUE(std::filesystem::is_directory(work.Path() + "dir.tmp"));
}

TEST(StoreCrash, AppendStoppedAtEveryStep) {
    StopAtEveryStep(Operation::kAppend);
}

TEST(StoreCrash, ReceiveBatchStoppedAtEveryStep) {
    StopAtEveryStep(Operation::kBatch);
}

// The originals reach the disk before the records that refer to them; a
// batch taken back leaves none behind.
TEST(StoreCrash, ReceiveBatchWithOriginalsStoppedAtEveryStep) {
    StopAtEveryStep(Operation::kBatchWithOriginals);
}

TEST(StoreCrash, MoveStoppedAtEveryStep) {
    StopAtEveryStep(Operation::kMove);
}

// The deleted record ("deleted 0") has an original: it goes with the record,
// never before it.
TEST(StoreCrash, DeleteForGoodStoppedAtEveryStep) {
    StopAtEveryStep(Operation::kDeleteForGood);
}

TEST(StoreCrash, RewriteStoppedAtEveryStep) {
    StopAtEveryStep(Operation::kRewrite);
}

TEST(StoreCrash, DeleteWaitingStoppedAtEveryStep) {
    StopAtEveryStep(Operation::kDeleteWaiting);
}

// Every message stays waiting or leaves as noted: none is lost, and none
// noted as sent is left to be sent again.
TEST(StoreCrash, RemovingSentMessagesStoppedAtEveryStep) {
    StopAtEveryStep(Operation::kRemoveSent, Operation::kRemoveFirstSent);
}

} // namespace
} // namespace tegalo
