#include "store/TegaloDoc.h"
#include "mime/AddressList.h"

#include "store/AddressBook.h"
#include "store/FolderEnds.h"
#include "store/Originals.h"
#include "store/TextLines.h"
#include "text/unicode.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <memory>
#include <utility>

namespace tegalo {

using namespace literals;

namespace {

constexpr int kMaxCommas = 100;

std::string_view RoutineName(int routine) {
    static constexpr std::string_view kNames[] = {"AddCount", "AddData", "DelData", "LoadList", "RegData",
                                                  "DelFileData"};
    return kNames[routine];
}

// The number that follows "ファイルが開けません" for each routine.
std::string_view RoutineNumber(int routine) {
    static constexpr std::string_view kNumbers[] = {"1", "2", "3", "4", "6", "11"};
    return kNumbers[routine];
}

std::string Trace(std::string_view what, std::string_view file, int error) {
    return std::string(what) + " " + std::string(file) + ", error = " + std::to_string(error) + "\n";
}

} // namespace

CTegaloDoc::CTegaloDoc(StoreUi& ui) : ui_(ui) {}

CTegaloDoc::~CTegaloDoc() {
    // The ends noted while the mailbox was open, written once: a hint for
    // the next run, not worth a write at every change.
    if (!baseDir.empty()) {
        WriteCheckedEnds(baseDir, notedEnds_);
    }
}

void CTegaloDoc::FileMessage(Routine routine, std::string_view fileName, int error) {
    const int r = static_cast<int>(routine);
    if (error == EACCES && routine != Routine::kLoadList) {
        ui_.Message("フォルダファイルが書き込み禁止になっています（"_sjis + std::string(fileName) +
                    "）：変更しませんでした"_sjis);
        ui_.Trace(Trace(std::string(RoutineName(r)) + ": write-protected", fileName, error));
        return;
    }
    ui_.Message("ファイルが開けません"_sjis + std::string(RoutineNumber(r)) + " " + std::string(RoutineName(r)));
    if (routine == Routine::kLoadList) {
        ui_.Trace("Can't open file " + std::string(fileName) + ", error = " + std::to_string(error) + "\n");
    } else {
        ui_.Trace(Trace(std::string(RoutineName(r)) + ": cannot write", fileName, error));
    }
}

StoreStatus CTegaloDoc::RecordRefused(RecordProblem problem, std::string_view routine) {
    switch (problem) {
    case RecordProblem::kNone:
        return StoreStatus::kOk;
    case RecordProblem::kTooLarge:
        ui_.Message("メッセージが大き過ぎて保存できません"_sjis);
        return StoreStatus::kLimitExceeded;
    case RecordProblem::kSizeMismatch:
        ui_.Message("レコードの長さが正しくありません "_sjis + std::string(routine));
        return StoreStatus::kBadRecord;
    }
    return StoreStatus::kBadRecord;
}

void CTegaloDoc::DamageMessage(const RecordList& list) {
    ui_.Message("フォルダファイルが壊れています（"_sjis + std::string(FolderName(list.Folder())) +
                "）：先頭から"_sjis + std::to_string(list.Count()) + "件だけ読み込みました"_sjis);
}

StoreStatus CTegaloDoc::Start(std::string_view workDir, bool showReceived) {
    if (Started()) {
        return StoreStatus::kInvalidArgument;
    }
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(std::string(workDir).c_str(), nullptr),
                                                            &std::free);
    std::string dir = real ? std::string(real.get()) : std::string(workDir);
    if (!dir.ends_with('/')) {
        dir += '/';
    }
    int error = real ? 0 : errno;
    if (error == 0) {
        UniqueFd recv = OpenFile(dir + std::string(FolderName(kReceived)), O_RDONLY, 0, error);
    }
    if (error != 0) {
        ui_.Message("ファイルが開けません0"_sjis);
        ui_.Trace(Trace("Can't open file", dir + std::string(FolderName(kReceived)), error));
        return StoreStatus::kCannotOpen;
    }
    if ((error = lock_.Acquire(dir)) != 0) {
        if (error == EWOULDBLOCK) {
            ui_.Message("このメールボックスは他のTegaloが使用中です"_sjis);
            return StoreStatus::kLocked;
        }
        ui_.Message("ロックファイルを作成できません"_sjis);
        ui_.Trace(Trace("Can't lock", dir + std::string(kLockFileName), error));
        return StoreStatus::kCannotOpen;
    }
    const Recovery recovery = RecoverInterruptedChange(dir, error);
    if (recovery == Recovery::kFailed) {
        ui_.Message("前回中断した操作を元に戻せません"_sjis);
        ui_.Trace(Trace("Can't recover", dir + std::string(kJournalFileName), error));
        lock_.Release();
        return StoreStatus::kUnfinishedChange;
    }
    if (recovery == Recovery::kSetAside) {
        ui_.Message("中断した操作の記録がフォルダと合わないため、フォルダはそのままにし、記録は tegalo.journal.aside として残しました"_sjis);
        ui_.Trace("A journal that did not match its folder was set aside\n");
    } else if (recovery == Recovery::kUndone) {
        ui_.Trace("An interrupted change was taken back\n");
    } else if (recovery == Recovery::kCompleted) {
        ui_.Trace("An interrupted change had been made in full\n");
    }
    if (!baseDir.empty()) {
        WriteCheckedEnds(baseDir, std::exchange(notedEnds_, {}));
    }
    baseDir = dir;
    originals_.Open(baseDir);
    // Sent messages that a crash left in the waiting folder leave it now,
    // before anything could send them again.
    StoreStatus status = RemoveNoted();
    if (status == StoreStatus::kOk && SweepMarked(baseDir)) {
        SweepOriginalsAtStart();
    }
    if (status == StoreStatus::kOk && showReceived) {
        status = LoadList(FolderName(kReceived)).status;
    } else if (status == StoreStatus::kOk) {
        RecordList end;
        status = ReadFolderForAppend(kReceived, end, Routine::kLoadList);
        RememberEnd(end);
    }
    if (!Loaded(status)) {
        baseDir.clear();
        lock_.Release();
    }
    return status;
}

StoreStatus CTegaloDoc::ReadFolder(int folder, RecordList& list, Routine routine) {
    const std::string_view name = FolderName(folder);
    // The file of an open batch gets what the batch holds first, so that
    // it reads as the batch made it.
    if (folder == batchFolder_ && batchFd_.Valid()) {
        if (const int error = WriteBatchHeld(); error == ESTALE) {
            ChangedOnDisk(name);
            return StoreStatus::kChangedOnDisk;
        } else if (error != 0) {
            FileMessage(routine, name, error);
            return StoreStatus::kCannotOpen;
        }
    }
    if (const int error = ReadFolderFile(baseDir + std::string(name), folder, list); error != 0) {
        FileMessage(routine, name, error);
        return StoreStatus::kCannotOpen;
    }
    if (list.Damaged()) {
        DamageMessage(list);
        return StoreStatus::kDamaged;
    }
    return StoreStatus::kOk;
}

void CTegaloDoc::SweepOriginalsAtStart() {
    std::map<std::string, int> records;
    for (int folder = kReceived; folder <= kDeleted; ++folder) {
        RecordList list;
        if (ReadFolderFile(baseDir + std::string(FolderName(folder)), folder, list) != 0 || list.Damaged()) {
            ui_.Trace("Originals not swept: " + std::string(FolderName(folder)) + " cannot be read whole\n");
            return;
        }
        for (const std::string_view record : list) {
            ++records[OriginalKey(record)];
        }
    }
    if (const int error = originals_.Sweep(records); error != 0) {
        ui_.Trace(Trace("Originals not swept", OriginalsDir(baseDir), error));
    }
}

void CTegaloDoc::MarkSweepOnce() {
    if (!sweepMarked_) {
        // Without the marker an interrupted change may leave an original
        // nobody refers to; that costs room, never a message.
        sweepMarked_ = MarkSweep(baseDir) == 0;
    }
}

void CTegaloDoc::ClearSweepWhenDone() {
    if (sweepMarked_ && batchFolder_ == kNoFolder) {
        ClearSweep(baseDir);
        sweepMarked_ = false;
    }
}

void CTegaloDoc::RememberEnd(const RecordList& list) {
    if (!list.Whole() && list.Folder() > kNoFolder && list.Folder() <= kDeleted) {
        knownEnds_[static_cast<std::size_t>(list.Folder())] = list;
    }
}

StoreStatus CTegaloDoc::ReadFolderForAppend(int folder, RecordList& list, Routine routine) {
    const std::string_view name = FolderName(folder);
    if (folder > kNoFolder && folder <= kDeleted) {
        const RecordList& known = knownEnds_[static_cast<std::size_t>(folder)];
        // Within a batch the held file is checked at each append instead.
        const bool held = batchFd_.Valid() && folder == batchFolder_;
        if (known.Folder() == folder && (held || UnchangedOnDisk(baseDir + std::string(name), known))) {
            list = known;
            return StoreStatus::kOk;
        }
    }
    // The end noted by the last run that changed the folder, while the
    // file is still exactly as it left it.
    const std::optional<CheckedEnd> noted = RecallCheckedEnd(baseDir, name);
    if (const int error = ReadFolderEnd(baseDir + std::string(name), folder, list, noted ? &*noted : nullptr);
        error != 0) {
        FileMessage(routine, name, error);
        return StoreStatus::kCannotOpen;
    }
    if (list.Damaged()) {
        // The full reading rules decide what a damaged file holds.
        return ReadFolder(folder, list, routine);
    }
    return StoreStatus::kOk;
}

void CTegaloDoc::BeginBatch(std::string_view name) {
    if (batchFolder_ != kNoFolder) {
        static_cast<void>(CommitBatch());
    }
    batchFolder_ = FolderFromName(name);
}

StoreStatus CTegaloDoc::CommitBatch(std::string_view companion) {
    std::vector<std::string> companions;
    if (!companion.empty()) {
        companions.emplace_back(companion);
    }
    return CommitBatch(companions);
}

StoreStatus CTegaloDoc::ChangedOnDisk(std::string_view fileName) {
    ui_.Message("フォルダファイルが読み込んだ後で変更されています（"_sjis + std::string(fileName) + "）"_sjis);
    return StoreStatus::kChangedOnDisk;
}

int CTegaloDoc::WriteBatchHeld() {
    if (!batchHeld_.Active() || batchHeldCount_ < 0) {
        return batchBroken_ ? EIO : 0;
    }
    int error = batchBroken_ ? EIO : batchHeld_.Flush();
    if (error == 0) {
        const std::string count = FormatField(batchHeldCount_);
        error = WriteFull(batchFd_.Get(), count.data(), count.size(), 0);
    }
    batchHeldCount_ = -1;
    batchBroken_ = error != 0;
    return error;
}

void CTegaloDoc::TakeBatchBack() {
    const int folder = batchFolder_;
    if (batchJournal_) {
        // Should this fail, the journal stays and the next start takes the
        // batch back.
        unfinished_ = UndoAppend(baseDir, batchChange_) != 0 || RemoveJournal(baseDir) != 0;
    }
    originals_.DropBatch();
    originalsUnsynced_ = false;
    batchHeld_ = AppendBuffer();
    batchHeldCount_ = -1;
    batchFd_ = UniqueFd();
    batchFolder_ = kNoFolder;
    batchJournal_ = false;
    batchBroken_ = false;
    if (folder > kNoFolder && folder <= kDeleted) {
        knownEnds_[static_cast<std::size_t>(folder)] = RecordList();
        if (currentFolder == folder) {
            RecordList list;
            if (Loaded(ReadFolder(folder, list, Routine::kLoadList))) {
                recordList = std::move(list);
            }
        }
    }
}

StoreStatus CTegaloDoc::CommitBatch(const std::vector<std::string>& companions) {
    if (batchBroken_ || originals_.BatchLost()) {
        // Records or originals of the batch never reached their files:
        // nothing of it may become durable, and nothing be deleted from
        // the server.
        TakeBatchBack();
        return StoreStatus::kCannotWrite;
    }
    // What the batch holds goes out first, then its count.
    if (const int error = WriteBatchHeld(); error != 0) {
        const std::string name(FolderName(batchFolder_));
        TakeBatchBack();
        if (error == ESTALE) {
            return ChangedOnDisk(name);
        }
        FileMessage(Routine::kAddData, name, error);
        return StoreStatus::kCannotWrite;
    }
    batchHeld_.Release();
    batchHeld_ = AppendBuffer();
    const UniqueFd held = std::move(batchFd_); // closed however the commit ends
    auto putInPlace = [this, &companions] {
        for (const std::string& companion : companions) {
            if (const int error = PutCompanionInPlace(baseDir, companion); error != 0) {
                FileMessage(Routine::kAddData, companion, error);
                return false;
            }
        }
        return true;
    };
    if (batchFolder_ == kNoFolder || !batchJournal_) {
        // Nothing appended: the companions have nothing to wait for, and an
        // original written for a record that was refused is gone again.
        batchFolder_ = kNoFolder;
        ClearSweepWhenDone();
        return putInPlace() ? StoreStatus::kOk : StoreStatus::kCannotWrite;
    }
    const std::string name(FolderName(batchFolder_));
    RecordList aside;
    const RecordList* list = &recordList;
    const RecordList& known = knownEnds_[static_cast<std::size_t>(batchFolder_)];
    if (currentFolder != batchFolder_ && held.Valid() && known.Folder() == batchFolder_) {
        list = &known; // what the appends made of the held file, checked against the name below
    } else if (currentFolder != batchFolder_) {
        if (const StoreStatus status = ReadFolderForAppend(batchFolder_, aside, Routine::kAddData); !Loaded(status)) {
            return status;
        }
        list = &aside;
    }
    // The file first, then a journal that says the whole batch was made:
    // from then on a crash keeps the batch rather than taking it back.
    ChangeJournal done = batchChange_;
    done.newSize = list->Stamp().size;
    done.newHead = std::string(list->CountField());
    done.companions = companions;
    // The originals' names reach the disk before the records that refer
    // to them.
    int error = originalsUnsynced_ ? originals_.SyncBatch() : 0;
    if (error != 0 && originals_.BatchLost()) {
        FileMessage(Routine::kAddData, kOriginalsDirName, error);
        TakeBatchBack();
        return StoreStatus::kCannotWrite;
    }
    if (error == 0) {
        originalsUnsynced_ = false;
        // Synced through the file the appends went to, while the folder's
        // name still leads to it.
        error = !held.Valid()                               ? SyncFolderFile(baseDir, *list)
                : UnchangedOnDisk(baseDir + name, *list) ? SyncFile(held.Get())
                                                           : ESTALE;
    }
    if (error == 0) {
        error = WriteJournal(baseDir, done);
    }
    if (error != 0) {
        FileMessage(Routine::kAddData, name, error);
        return StoreStatus::kCannotWrite;
    }
    // The batch stands from the journal on; should a companion fail, the
    // journal stays and the next start puts the companions in place.
    if (!putInPlace()) {
        unfinished_ = true;
        batchFolder_ = kNoFolder;
        batchJournal_ = false;
        return StoreStatus::kCannotWrite;
    }
    unfinished_ = RemoveJournal(baseDir) != 0;
    batchFolder_ = kNoFolder;
    batchJournal_ = false;
    ClearSweepWhenDone();
    NoteCheckedEnd(baseDir, *list, notedEnds_);
    return StoreStatus::kOk;
}

StoreStatus CTegaloDoc::FinishUnfinished(int batchAppendFolder) {
    if (batchFolder_ != kNoFolder && batchAppendFolder != batchFolder_) {
        if (const StoreStatus status = CommitBatch(); status != StoreStatus::kOk) {
            return status;
        }
    }
    if (!unfinished_) {
        return StoreStatus::kOk;
    }
    int error = 0;
    if (RecoverInterruptedChange(baseDir, error) == Recovery::kFailed) {
        ui_.Message("前回中断した操作を元に戻せません"_sjis);
        ui_.Trace(Trace("Can't recover", baseDir + std::string(kJournalFileName), error));
        return StoreStatus::kUnfinishedChange;
    }
    unfinished_ = false;
    return StoreStatus::kOk;
}

LoadResult CTegaloDoc::LoadList(std::string_view name) {
    if (!Started()) {
        return {StoreStatus::kNotStarted, -1};
    }
    const int folder = FolderFromName(name);
    if (folder == kNoFolder) {
        FileMessage(Routine::kLoadList, name, ENOENT);
        return {StoreStatus::kInvalidArgument, -1};
    }
    RecordList list;
    const StoreStatus status = ReadFolder(folder, list, Routine::kLoadList);
    if (!Loaded(status)) {
        return {status, -1};
    }
    // The folder shown until now stays known by its end: a receive into it
    // while another is shown need not read it again.
    if (currentFolder != folder) {
        RememberEnd(EndOf(recordList));
    }
    recordList = std::move(list);
    currentFolder = folder;
    return {status, recordList.Count()};
}

StoreStatus CTegaloDoc::AddCount(std::string_view name, int n) {
    if (!Started()) {
        return StoreStatus::kNotStarted;
    }
    const int folder = FolderFromName(name);
    if (folder == kNoFolder || n != 1) {
        return StoreStatus::kInvalidArgument;
    }
    int error = 0;
    if (batchFd_.Valid() && folder == batchFolder_) {
        // The batch holds the file open for writing.
    } else if (UniqueFd fd = OpenFile(baseDir + std::string(FolderName(folder)), O_RDWR, 0, error); !fd.Valid()) {
        FileMessage(Routine::kAddCount, FolderName(folder), error);
        return StoreStatus::kCannotOpen;
    }
    if (folder == currentFolder && recordList.Count() >= kFieldMax) {
        ui_.Message("フォルダの件数が上限の999999件に達しています（"_sjis + std::string(FolderName(folder)) + "）"_sjis);
        return StoreStatus::kLimitExceeded;
    }
    pendingCount_ = pendingFolder_ == folder ? pendingCount_ + n : n;
    pendingFolder_ = folder;
    return StoreStatus::kOk;
}

StoreStatus CTegaloDoc::AddData(const PartSizes& sizes, std::string_view text, std::string_view name) {
    if (!Started()) {
        return StoreStatus::kNotStarted;
    }
    const int folder = FolderFromName(name);
    const bool announced = folder != kNoFolder && pendingFolder_ == folder && pendingCount_ == 1;
    pendingFolder_ = kNoFolder;
    pendingCount_ = 0;
    if (!announced) {
        return StoreStatus::kInvalidArgument;
    }
    if (const StoreStatus status = RecordRefused(CheckRecord(sizes, text), "AddData"); status != StoreStatus::kOk) {
        return status;
    }
    if (const StoreStatus status = FinishUnfinished(folder); status != StoreStatus::kOk) {
        return status;
    }
    const std::string record = BuildRecord(sizes, text);
    if (folder == currentFolder) {
        return Append(recordList, record, nullptr, 0);
    }
    RecordList target;
    if (const StoreStatus status = ReadFolderForAppend(folder, target, Routine::kAddData); !Loaded(status)) {
        return status;
    }
    const StoreStatus appended = Append(target, record, nullptr, 0);
    if (appended == StoreStatus::kOk) {
        RememberEnd(target);
    }
    return appended;
}

StoreStatus CTegaloDoc::Append(RecordList& list, std::string_view record, RecordList* source, int sourceIndex) {
    const std::string name(FolderName(list.Folder()));
    if (!list.UnreadTail().empty()) {
        ui_.Message("フォルダファイルが壊れているため追加できません（"_sjis + name + "）"_sjis);
        return StoreStatus::kDamaged;
    }
    if (list.Count() >= kFieldMax) {
        ui_.Message("フォルダの件数が上限の999999件に達しています（"_sjis + name + "）"_sjis);
        return StoreStatus::kLimitExceeded;
    }
    const Routine routine = source != nullptr ? Routine::kDelData : Routine::kAddData;
    const bool batched = source == nullptr && list.Folder() == batchFolder_;
    const bool held = batched && batchJournal_ && batchFd_.Valid();
    if (const int error = held ? 0 : WriteProtected(baseDir + name); error != 0) {
        FileMessage(routine, name, error); // the user protected it: nothing is written
        return StoreStatus::kCannotWrite;
    }

    if (batched && batchJournal_) {
        // A later append of a batch: the batch's journal can take it back.
        // It is held with the batch's others and written out with them, with
        // room reserved for it; a record for which no room can be reserved
        // is written at once, and fails at once when it does not fit.
        int error = batchBroken_ ? EIO : 0;
        const bool holding = held && batchHeld_.Active() && error == 0;
        const AppendBuffer::Taken taken =
            holding ? batchHeld_.Take({record}, error) : AppendBuffer::Taken::kNoRoom;
        if (taken == AppendBuffer::Taken::kYes) {
            FileStamp stamp = list.Stamp();
            stamp.size += static_cast<off_t>(record.size());
            ApplyEdit(list, FolderEdit{FolderEdit::Kind::kAppend, 0, record}, stamp);
            batchHeldCount_ = list.Count(); // written out with the records
            return StoreStatus::kOk;
        }
        if (taken == AppendBuffer::Taken::kLost || (holding && (error = WriteBatchHeld()) != 0)) {
            batchBroken_ = true;
        }
        FileStamp stamp;
        if (!batchBroken_) {
            error = held ? AppendUnsynced(batchFd_.Get(), list, record, stamp)
                         : AppendUnsynced(baseDir, list, record, stamp);
        }
        if (error != 0) {
            if (error == ESTALE) {
                return ChangedOnDisk(name);
            }
            FileMessage(Routine::kAddData, name, error);
            return StoreStatus::kCannotWrite;
        }
        ApplyEdit(list, FolderEdit{FolderEdit::Kind::kAppend, 0, record}, stamp);
        if (holding) {
            batchHeld_.Reset(batchFd_.Get(), stamp.size);
        }
        return StoreStatus::kOk;
    }

    ChangeJournal journal;
    int error = StartAppendJournal(baseDir, list, record.size(), journal);
    if (error == ESTALE) {
        return ChangedOnDisk(name);
    }
    if (error != 0) {
        FileMessage(Routine::kAddData, name, error);
        return StoreStatus::kCannotOpen;
    }
    std::string sourceName;
    if (source != nullptr) {
        sourceName = std::string(FolderName(source->Folder()));
        if (!UnchangedOnDisk(baseDir + sourceName, *source)) {
            return ChangedOnDisk(sourceName);
        }
        journal.source = sourceName;
        journal.sourceStamp = source->Stamp();
    }
    // The journal of a batch's first append names no size the target can
    // reach: until CommitBatch the next start takes the whole batch back,
    // even a first record whose count is already written, since none of the
    // batch's messages was deleted from the server and all are fetched again.
    ChangeJournal written = journal;
    if (batched) {
        written.newSize = -1;
    }
    if ((error = WriteJournal(baseDir, written)) != 0) {
        FileMessage(routine, name, error);
        return StoreStatus::kCannotWrite;
    }

    FileStamp targetStamp;
    bool undoFailed = false;
    error = AppendToFolderFile(baseDir, list, record, journal, targetStamp, undoFailed);
    if (error != 0) {
        unfinished_ = undoFailed || RemoveJournal(baseDir) != 0;
        if (error == ESTALE) {
            return ChangedOnDisk(name);
        }
        FileMessage(Routine::kAddData, name, error);
        return StoreStatus::kCannotWrite;
    }
    if (batched) {
        // The first append of a batch keeps its journal until the commit.
        batchJournal_ = true;
        batchChange_ = journal;
        ApplyEdit(list, FolderEdit{FolderEdit::Kind::kAppend, 0, record}, targetStamp);
        // The later appends go through one open file; without it, each
        // opens the file again.
        int ignored = 0;
        batchFd_ = OpenForAppends(baseDir, list, ignored);
        batchHeld_ = AppendBuffer();
        batchHeldCount_ = -1;
        batchBroken_ = false;
        if (batchFd_.Valid()) {
            batchHeld_.Reset(batchFd_.Get(), list.Stamp().size);
        }
        return StoreStatus::kOk;
    }
    if (source == nullptr) {
        // Once the count is written the append stands even if the journal
        // cannot go: recovery sees the new count and keeps the record.
        unfinished_ = RemoveJournal(baseDir) != 0;
        ApplyEdit(list, FolderEdit{FolderEdit::Kind::kAppend, 0, record}, targetStamp);
        NoteCheckedEnd(baseDir, list, notedEnds_);
        return StoreStatus::kOk;
    }
    const FolderEdit remove{FolderEdit::Kind::kRemove, static_cast<std::size_t>(sourceIndex), {}};
    FileStamp sourceStamp;
    if ((error = RewriteFolderFile(baseDir, *source, remove, sourceStamp)) != 0) {
        unfinished_ = UndoAppend(baseDir, journal) != 0 || RemoveJournal(baseDir) != 0;
        FileMessage(Routine::kDelData, sourceName, error);
        return StoreStatus::kCannotWrite;
    }
    // With the source replaced the move stands, journal or not. `record`
    // may live in the source list, so the target takes its copy first.
    unfinished_ = RemoveJournal(baseDir) != 0;
    ApplyEdit(list, FolderEdit{FolderEdit::Kind::kAppend, 0, record}, targetStamp);
    ApplyEdit(*source, remove, sourceStamp);
    NoteCheckedEnd(baseDir, list, notedEnds_);
    NoteCheckedEnd(baseDir, *source, notedEnds_);
    return StoreStatus::kOk;
}

StoreStatus CTegaloDoc::Rewrite(RecordList& list, const FolderEdit& edit, Routine routine) {
    const std::string name(FolderName(list.Folder()));
    const std::string path = baseDir + name;
    FileStamp now;
    if (const int error = StampOfPath(path, now); error != 0) {
        FileMessage(routine, name, error);
        return StoreStatus::kCannotOpen;
    }
    if (!UnchangedOnDisk(path, list)) {
        ui_.Message("フォルダファイルが読み込んだ後で変更されています（"_sjis + name + "）"_sjis);
        return StoreStatus::kChangedOnDisk;
    }
    FileStamp stamp;
    if (const int error = RewriteFolderFile(baseDir, list, edit, stamp); error != 0) {
        FileMessage(routine, name, error);
        return StoreStatus::kCannotWrite;
    }
    ApplyEdit(list, edit, stamp);
    NoteCheckedEnd(baseDir, list, notedEnds_);
    return StoreStatus::kOk;
}

StoreStatus CTegaloDoc::RegData(int index, std::string_view record, std::string_view name) {
    if (!Started()) {
        return StoreStatus::kNotStarted;
    }
    if (FolderFromName(name) != currentFolder) {
        return StoreStatus::kInvalidArgument;
    }
    if (index < 0 || index >= recordList.Count()) {
        return StoreStatus::kBadIndex;
    }
    if (const StoreStatus status = RecordRefused(CheckWholeRecord(record), "RegData"); status != StoreStatus::kOk) {
        return status;
    }
    if (const StoreStatus status = FinishUnfinished(); status != StoreStatus::kOk) {
        return status;
    }
    const FolderEdit edit{FolderEdit::Kind::kReplace, static_cast<std::size_t>(index), record};
    // Opening a message only sets its read mark: that one byte is written in
    // place, so that opening a message in a large folder stays quick.
    const std::string_view old = recordList[static_cast<std::size_t>(index)];
    if (!recordList.Damaged() && record.size() == old.size() && old[kReadMarkOffset] == '0' &&
        record[kReadMarkOffset] == '1' &&
        record.substr(0, kReadMarkOffset) == std::string_view(old).substr(0, kReadMarkOffset) &&
        record.substr(kReadMarkOffset + 1) == std::string_view(old).substr(kReadMarkOffset + 1)) {
        const std::string fileName(FolderName(recordList.Folder()));
        const int error = MarkReadInPlace(baseDir, recordList, edit.index);
        if (error == ESTALE) {
            ui_.Message("フォルダファイルが読み込んだ後で変更されています（"_sjis + fileName + "）"_sjis);
            return StoreStatus::kChangedOnDisk;
        }
        if (error != 0) {
            FileMessage(Routine::kRegData, fileName, error);
            return StoreStatus::kCannotWrite;
        }
        const FileStamp stamp = recordList.Stamp();
        ApplyEdit(recordList, edit, stamp);
        NoteCheckedEnd(baseDir, recordList, notedEnds_);
        return StoreStatus::kOk;
    }
    return Rewrite(recordList, edit, Routine::kRegData);
}

std::optional<std::string> CTegaloDoc::GetRecord(int index) const {
    if (index < 0 || index >= recordList.Count()) {
        return std::nullopt;
    }
    return std::string(recordList[static_cast<std::size_t>(index)]);
}

StoreStatus CTegaloDoc::AddReceived(const PartSizes& sizes, std::string_view text, std::string_view name) {
    if (const StoreStatus status = AddCount(name, 1); status != StoreStatus::kOk) {
        return status;
    }
    return AddData(sizes, text, name);
}

StoreStatus CTegaloDoc::AddReceived(const PartSizes& sizes, std::string_view text, std::string_view name,
                                    std::string_view original, std::string_view originalTail) {
    if (!Started()) {
        return StoreStatus::kNotStarted;
    }
    const int folder = FolderFromName(name);
    if (folder == kNoFolder) {
        return StoreStatus::kInvalidArgument;
    }
    if (const StoreStatus status = RecordRefused(CheckRecord(sizes, text), "AddData"); status != StoreStatus::kOk) {
        return status;
    }
    const bool batched = batchFolder_ == folder;
    OriginalStore::Written written;
    int error = originalsDirReady_ ? 0 : EnsureOriginalsDir(baseDir);
    originalsDirReady_ = error == 0;
    if (error == 0) {
        MarkSweepOnce();
        // Within a batch the commit syncs all its originals at once: one
        // sync per message would cost a receive more than the rest of it.
        error = originals_.Add(OriginalKey(BuildRecord(sizes, {}), text), original, originalTail, batched, written);
    }
    if (error != 0) {
        // Originals of the batch held before this one may be lost with it:
        // then the whole batch is taken back at its commit.
        batchBroken_ = batchBroken_ || (batched && originals_.BatchLost());
        originalsDirReady_ = false; // looked at again next time
        FileMessage(Routine::kAddData, kOriginalsDirName, error);
        return StoreStatus::kCannotWrite;
    }
    originalsUnsynced_ = originalsUnsynced_ || batched;
    const StoreStatus status = AddReceived(sizes, text, name);
    if (status != StoreStatus::kOk) {
        originals_.TakeBack(written); // the folder is as before: the original has no record
    } else if (!batched) {
        ClearSweepWhenDone();
    }
    return status;
}

std::optional<std::string> CTegaloDoc::OriginalOf(int index) const {
    if (!Started() || index < 0 || index >= recordList.Count() || static_cast<std::size_t>(index) >= recordList.size()) {
        return std::nullopt;
    }
    return originals_.Read(OriginalKey(recordList[static_cast<std::size_t>(index)]));
}

bool CTegaloDoc::SaveOriginal(int index, const std::string& path) {
    const std::optional<std::string> original = OriginalOf(index);
    if (!original) {
        ui_.Message("元のメッセージが保存されていません"_sjis);
        return false;
    }
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    AtomicFile out;
    int error = name.empty() ? EISDIR : out.Open(dir, name, 0600, TempName::kUnique);
    if (error == 0) {
        error = out.Write(*original);
    }
    if (error == 0) {
        error = out.Commit();
    }
    if (error != 0) {
        ui_.Message("ファイルに書き込めません"_sjis);
        ui_.Trace(Trace("Can't write file", path, error));
        return false;
    }
    return true;
}

LoadResult CTegaloDoc::CountWaiting(std::string_view name) {
    if (!Started()) {
        return {StoreStatus::kNotStarted, -1};
    }
    if (FolderFromName(name) != kWaiting) {
        return {StoreStatus::kInvalidArgument, -1};
    }
    if (currentFolder == kWaiting) {
        return {recordList.Damaged() ? StoreStatus::kDamaged : StoreStatus::kOk, recordList.Count()};
    }
    RecordList waiting;
    const StoreStatus status = ReadFolder(kWaiting, waiting, Routine::kLoadList);
    return {status, Loaded(status) ? waiting.Count() : -1};
}

StoreStatus CTegaloDoc::DelData(int index, std::string_view source, std::string_view target) {
    if (!Started()) {
        return StoreStatus::kNotStarted;
    }
    const int from = FolderFromName(source);
    const int to = FolderFromName(target);
    // The record is taken from the list shown; any other source would mean
    // writing one folder's list into another folder's file.
    if (from != currentFolder || to == kNoFolder || (from == to && from != kDeleted)) {
        return StoreStatus::kInvalidArgument;
    }
    if (index < 0 || index >= recordList.Count()) {
        return StoreStatus::kBadIndex;
    }
    if (const StoreStatus status = FinishUnfinished(); status != StoreStatus::kOk) {
        return status;
    }
    const auto at = static_cast<std::size_t>(index);
    if (from == to) {
        // The record leaves for good, and then one original of its key: the
        // sweep marker covers the moment between the two.
        const std::string key = OriginalKey(recordList[at]);
        const bool hasOriginal = originals_.Has(key);
        if (hasOriginal) {
            MarkSweepOnce();
        }
        const StoreStatus removed =
            Rewrite(recordList, FolderEdit{FolderEdit::Kind::kRemove, at, {}}, Routine::kDelData);
        if (removed == StoreStatus::kOk && hasOriginal) {
            if (const int error = originals_.RemoveOne(key); error != 0) {
                ui_.Trace(Trace("Original left behind", OriginalsDir(baseDir) + key, error));
                return removed; // the marker stays: the next start removes it
            }
        }
        if (hasOriginal) {
            ClearSweepWhenDone();
        }
        return removed;
    }
    RecordList targetList;
    if (const StoreStatus status = ReadFolderForAppend(to, targetList, Routine::kLoadList); !Loaded(status)) {
        return status;
    }
    const StoreStatus moved = Append(targetList, recordList[at], &recordList, index);
    if (moved == StoreStatus::kOk) {
        RememberEnd(targetList);
    }
    return moved;
}

StoreStatus CTegaloDoc::DelFileData(int index, std::string_view folder) {
    if (!Started()) {
        return StoreStatus::kNotStarted;
    }
    if (FolderFromName(folder) != kWaiting) {
        return StoreStatus::kInvalidArgument;
    }
    if (const StoreStatus status = FinishUnfinished(); status != StoreStatus::kOk) {
        return status;
    }
    RecordList aside;
    RecordList* waiting = &recordList;
    if (currentFolder != kWaiting) {
        if (const StoreStatus status = ReadFolder(kWaiting, aside, Routine::kLoadList); !Loaded(status)) {
            return status;
        }
        waiting = &aside;
    }
    if (index < 0 || index >= waiting->Count()) {
        return StoreStatus::kBadIndex;
    }
    return Rewrite(*waiting, FolderEdit{FolderEdit::Kind::kRemove, static_cast<std::size_t>(index), {}},
                   Routine::kDelFileData);
}

Envelope CTegaloDoc::SetRecipients(std::string_view subject, std::string_view date, std::string_view recipients) {
    // The recipients are address lists (RFC 5322): a quoted name may hold
    // a comma, a group holds several addresses.
    const RecipientTexts texts = SplitRecipientText(recipients);
    std::vector<std::string> addresses;
    for (const std::string& list : {texts.to, texts.cc}) {
        const AddressListParse parsed = ParseAddressList(list);
        if (!parsed.Ok()) {
            ui_.Message("宛先のアドレスを読み取れません: "_sjis + parsed.badText);
            return Envelope{StoreStatus::kInvalidArgument, {}};
        }
        for (std::string& address : ListAddresses(parsed)) {
            addresses.push_back(std::move(address));
        }
    }
    if (addresses.empty()) {
        addresses.emplace_back(); // the send session refuses a message without a recipient
    }
    const int commas = static_cast<int>(addresses.size()) - 1;
    if (commas >= kMaxCommas) {
        ui_.Message("宛先が多過ぎます"_sjis);
        return Envelope{StoreStatus::kTooManyRecipients, {}};
    }
    std::vector<std::string> envelope{std::to_string(commas), std::string(subject), std::string(date)};
    for (std::string& address : addresses) {
        envelope.push_back(std::move(address));
    }
    return Envelope{StoreStatus::kOk, std::move(envelope)};
}

StoreStatus CTegaloDoc::RegAddress(std::string_view entry, std::string_view file, int mode) {
    if (!Started()) {
        return StoreStatus::kNotStarted;
    }
    if (mode != kAddAddress || file.empty() || file.find('/') != std::string_view::npos) {
        return StoreStatus::kInvalidArgument;
    }
    if (entry.find_first_of("\r\n") != std::string_view::npos) {
        ui_.Message("改行を含む宛先は登録できません"_sjis);
        return StoreStatus::kInvalidArgument;
    }
    const std::string path = baseDir + std::string(file);
    std::string content;
    FileStamp old;
    int error = ReadWholeFile(path, content);
    if (error == 0) {
        error = StampOfPath(path, old);
    }
    if (error != 0) {
        ui_.Message("アドレスファイルが開けません"_sjis);
        ui_.Trace(Trace("Can't open file", path, error));
        return StoreStatus::kCannotOpen;
    }
    std::vector<std::string> lines = SplitTextLines(content);
    if (FindSameName(lines, entry) != lines.size()) {
        ui_.Message("既に同名の登録があります"_sjis);
        return StoreStatus::kDuplicateName;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(AddressInsertPosition(lines, entry)),
                 std::string(entry));

    AtomicFile out;
    error = out.Open(baseDir, file, old.mode != 0 ? old.mode : 0600);
    if (error == 0) {
        error = out.Write(JoinTextLines(lines));
    }
    if (error == 0) {
        error = out.Commit();
    }
    if (error != 0) {
        ui_.Message("アドレスファイルが開けません"_sjis);
        ui_.Trace(Trace("Can't write file", path, error));
        return StoreStatus::kCannotWrite;
    }
    return StoreStatus::kOk;
}

} // namespace tegalo
