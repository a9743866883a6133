// The mail store: four folder files in the mailbox directory, one of them
// held in memory as the folder shown, and the address book file.
//
// The document keeps one rule: `recordList` always holds the folder whose
// code is in `currentFolder`, as its file holds it. An operation on another
// folder reads that folder aside and leaves the shown one in place, and every
// operation changes memory only after its file change succeeded. Failures
// are handed to the StoreUi as the messages the user sees, and returned.
//
// The document's routines keep their established names, short and partly
// cryptic: they are the documented names of the store's routines, and the
// messages the user sees name some of them ("ファイルが開けません5 CTempF").
//   LoadList     read a folder file and show it
//   AddCount     check that a folder can take more records (announces an append)
//   AddData      append a record announced by AddCount
//   RegData      replace a record of the folder shown (the read mark, say)
//   DelData      move a record to another folder, or delete it from "recycle"
//   DelFileData  remove a sent message from the waiting folder
//   RegAddress   add an entry to the address book
//   SetRecipients  split a recipient text into the envelope of a message
//   CSbodyMsgA   build one MIME part of an outgoing message
//   StoreComposedMessage  store a composed message in "reserv" or "sent"
//   PrepareSend  load a waiting message back for sending
//   GetAttachment / CTempF  read a stored attachment / write its decoded copy
//   PartSizes    the eleven entries of a record's size block
//   sendEnvelope, bodyParts  the envelope and the parts of an outgoing message
//                (values handed in and out, not state the document keeps)
// Folder codes (kReceived ... kDeleted) are in store/Record.h.
#pragma once

#include "store/AppendBuffer.h"
#include "store/FileIo.h"
#include "store/FolderEnds.h"
#include "store/FolderFile.h"
#include "store/Originals.h"
#include "mime/Outgoing.h"
#include "store/Record.h"
#include "store/StoreUi.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

// The outcome of reading a folder: the status and the number of records, or
// -1 when no folder was read.
struct [[nodiscard]] LoadResult {
    StoreStatus status;
    int count;
};

// The envelope SetRecipients makes of a recipient text: entry 0 the number
// of commas, 1 the subject, 2 the date, then one recipient each. Empty
// unless the status is kOk.
struct [[nodiscard]] Envelope {
    StoreStatus status;
    std::vector<std::string> sendEnvelope;
};

// A waiting message loaded back for sending by PrepareSend: its envelope
// (as SetRecipients makes it) and its parts (as CSbodyMsgA builds them).
// Empty unless the status is kOk.
struct [[nodiscard]] PreparedSend {
    StoreStatus status;
    std::vector<std::string> sendEnvelope;
    BodyParts bodyParts;
};

// A stored attachment: its content, still in its transfer encoding, and that
// encoding ("base64", "quoted-pr", ...).
struct StoredAttachment {
    std::string content;
    std::string encoding;
};

class CTegaloDoc {
public:
    explicit CTegaloDoc(StoreUi& ui);
    ~CTegaloDoc();
    CTegaloDoc(const CTegaloDoc&) = delete;
    CTegaloDoc& operator=(const CTegaloDoc&) = delete;

    // Opens the mailbox in `workDir` (the directory the program runs in
    // unless told otherwise) and shows the received folder. Needs "recv" in
    // it ("ファイルが開けません0" otherwise) and refuses a mailbox that
    // another Tegalo process holds. Finishes or takes back a change that a
    // crash interrupted before anything else.
    // `showReceived` false (a session without a window) shows no folder and
    // reads of "recv" only its count and that its end is sound.
    [[nodiscard]] StoreStatus Start(std::string_view workDir = ".", bool showReceived = true);

    // The code of the folder shown (1 to 4), 0 before Start.
    int CurrentFolder() const { return currentFolder; }
    // The mailbox directory, absolute, ending with "/".
    const std::string& BaseDir() const { return baseDir; }
    // The folder shown: its count field, then its records, oldest first.
    const RecordList& GetRecordList() const { return recordList; }

    // Reads a folder ("recv", ".\recv", "./recv", ...) and shows it: on
    // success `recordList` holds it and `currentFolder` is its code. A
    // damaged file loads the records before the damage (kDamaged, with a
    // message). On failure nothing changes and the count is -1.
    LoadResult LoadList(std::string_view name);

    // Appending a record is AddCount(name, 1) followed by AddData. The count
    // in the file changes only together with its record, in AddData; AddCount
    // checks that the folder can take one more record.
    [[nodiscard]] StoreStatus AddCount(std::string_view name, int n);
    [[nodiscard]] StoreStatus AddData(const PartSizes& sizes, std::string_view text, std::string_view name);

    // Appends to folder `name` made from now on form one batch: each is
    // written at once, but they reach the disk together in CommitBatch, with
    // two syncs instead of several per record. A batch that a crash
    // interrupts, or that is still open when the document goes, is taken
    // back whole at the next start (its messages were not deleted from the
    // server, and are fetched again). Any other change to the store commits
    // the batch first. The receive session batches the
    // messages of a session and commits before it deletes any of them from
    // the server.
    void BeginBatch(std::string_view name);
    // Makes the batch's appends durable and ends the batch. On failure the
    // batch stays open (and would be taken back after a crash).
    // `companion`, when not empty, names a file of the mailbox whose new
    // content the caller has written, synced, as companion + ".pending": it
    // is put in place at the moment the batch becomes durable, so that a
    // crash leaves both old or both new (the received ids of the batch).
    [[nodiscard]] StoreStatus CommitBatch(std::string_view companion = {});
    // The same with several companions, put in place in this order.
    [[nodiscard]] StoreStatus CommitBatch(const std::vector<std::string>& companions);

    // Replaces record `index` (from 0) of the folder shown with a whole
    // record (size block and text) and writes the folder anew. `name` must
    // be the folder shown.
    [[nodiscard]] StoreStatus RegData(int index, std::string_view record, std::string_view name);

    // A copy of record `index` of the folder shown; nullopt when there is none.
    std::optional<std::string> GetRecord(int index) const;

    // Appends a received message to the named folder (the receive session
    // passes "recv"), whichever folder is shown.
    [[nodiscard]] StoreStatus AddReceived(const PartSizes& sizes, std::string_view text, std::string_view name);
    // The same, keeping `original` followed by `originalTail` (the message
    // as the server sent it) in the originals directory (store/Originals.h)
    // first: synced before the record is; within a batch written (or held)
    // at once and synced, all together, before CommitBatch makes the batch
    // durable. A record that is not stored leaves no original behind.
    [[nodiscard]] StoreStatus AddReceived(const PartSizes& sizes, std::string_view text, std::string_view name,
                                          std::string_view original, std::string_view originalTail = {});

    // The original of record `index` of the folder shown, as the server sent
    // it; nullopt when the store keeps none for it (older records, composed
    // messages) or it cannot be read.
    std::optional<std::string> OriginalOf(int index) const;
    // Writes the original of record `index` to the file `path` (replacing
    // one that is there). False after the message.
    bool SaveOriginal(int index, const std::string& path);

    // The number of records in the waiting folder. Any name but "reserv"
    // gives kInvalidArgument and -1 without touching anything.
    LoadResult CountWaiting(std::string_view name);

    // Moves record `index` of the folder shown (`source`) to the end of
    // `target`. When the deleted folder is shown and both are "recycle", the
    // record is deleted for good. The record reaches the target before it
    // leaves the source; a failed move leaves it where it was.
    [[nodiscard]] StoreStatus DelData(int index, std::string_view source, std::string_view target);

    // Removes record `index` from the waiting folder after it was sent. Any
    // folder name but "reserv" changes nothing (kInvalidArgument).
    [[nodiscard]] StoreStatus DelFileData(int index, std::string_view folder);

    // Reads a recipient text (the To list, and a Cc line) as RFC 5322
    // address lists into the envelope of the message to send (see
    // Envelope): one address per recipient, group members included. Refuses
    // an address it cannot read, naming it, and 101 or more recipients
    // ("宛先が多過ぎます").
    Envelope SetRecipients(std::string_view subject, std::string_view date, std::string_view recipients);

    // The one mode of RegAddress: add an entry.
    static constexpr int kAddAddress = 1;

    // Adds "name,address" to the address book file `file` (the program
    // passes "addr"; kAddAddress is the only mode) in name order. Refuses a
    // name that is already there ("既に同名の登録があります").
    [[nodiscard]] StoreStatus RegAddress(std::string_view entry, std::string_view file, int mode);

    // --- Attachments of stored messages and outgoing messages ---

    // Attachment `j` (1 to 3) of record `index` of the folder shown, still
    // encoded, with its transfer encoding. nullopt when there is no such
    // record or attachment.
    std::optional<StoredAttachment> GetAttachment(int index, int j) const;

    // Writes attachment `j` of record `index`, decoded, as the file `name`
    // (made safe for the file system) in the attachment directory. Returns
    // the path written, or nullopt after the message: then nothing may be
    // opened.
    std::optional<std::string> SaveAttachment(int index, int j, std::string_view name);

    // Writes `content` decoded by `encoding` as the file `name` in the
    // attachment directory ("ファイルが開けません5 CTempF" when that fails).
    std::optional<std::string> CTempF(std::string_view content, std::string_view name, std::string_view encoding);

    // Writes `bytes` (already decoded) as the file `name` (Shift_JIS, made
    // safe for the file system) in the attachment directory, as CTempF does.
    std::optional<std::string> SaveDecodedCopy(std::string_view bytes, std::string_view name);

    // Builds part `index` of a message into `bodyParts`, which the caller
    // owns (start from NewBodyParts; see BuildBodyPart). On failure the part
    // stays empty and the user was told why; the caller decides whether the
    // message may go on.
    [[nodiscard]] PartError CSbodyMsgA(BodyParts& bodyParts, std::string_view text, std::string_view path,
                                       int index, BodyPartMode mode, std::string_view encoding = {});

    // Stores the message of `bodyParts` in `folderFile` ("reserv" or "sent"):
    // `sizes` carries fields 1, 2, 3 and 6, `header` the record text up to
    // and including the header block.
    [[nodiscard]] StoreStatus StoreComposedMessage(const BodyParts& bodyParts, PartSizes sizes,
                                                   std::string_view header, std::string_view folderFile);

    // Loads waiting message `index` back for sending: its envelope through
    // SetRecipients, its parts with its text and attachments. Any folder but
    // "reserv" is refused ("ファイル名の指定が違います").
    PreparedSend PrepareSend(int index, std::string_view folder);
    // The same for a waiting record already read (a whole record).
    PreparedSend PrepareWaitingRecord(std::string_view record);

    // Taking sent messages out of the waiting folder as one change: NoteSent
    // notes durably that waiting record `record` went out; RemoveNoted takes
    // every noted record (found by its bytes, the read mark aside, wherever
    // it stands now) out of "reserv" in one rewrite and forgets the notes;
    // a noted record whose copy was never filed goes into "sent" as it is,
    // first. A start finishes a removal that a crash or a failure left.
    [[nodiscard]] StoreStatus NoteSent(std::string_view record);
    [[nodiscard]] StoreStatus RemoveNoted();
    // Files the copy of a sent message in "sent" as StoreComposedMessage
    // does. For a waiting message (`waitingRecord` not empty, noted with
    // NoteSent) the journal's "filed" line goes in place with the copy, so
    // that RemoveNoted files its waiting record in its stead only when the
    // copy never reached the disk.
    [[nodiscard]] StoreStatus FileSentCopy(const BodyParts& bodyParts, PartSizes sizes, std::string_view header,
                                           std::string_view waitingRecord);

private:
    // Appends a sent copy (`sizes` and `text` as AddData takes them) to
    // "sent" together with the journal's "filed" line for `waitingRecord`.
    StoreStatus FileNotedCopy(const PartSizes& sizes, std::string_view text, std::string_view waitingRecord);
    // How an operation reports a failure to open or write a file.
    enum class Routine { kAddCount, kAddData, kDelData, kLoadList, kRegData, kDelFileData };

    void FileMessage(Routine routine, std::string_view fileName, int error);
    void DamageMessage(const RecordList& list);
    // kOk for a record that may be stored; otherwise the message for the
    // user (naming `routine` for a size block that does not fit the text).
    StoreStatus RecordRefused(RecordProblem problem, std::string_view routine);
    bool Started() const { return !baseDir.empty(); }
    // Reads a folder without showing it. A file that cannot be read gives
    // `routine`'s message, a damaged one the damage message.
    StoreStatus ReadFolder(int folder, RecordList& list, Routine routine);
    // Reads of a folder not shown only what an append to it needs (its count
    // and a sound end); a file that isn't plainly sound is read in full.
    StoreStatus ReadFolderForAppend(int folder, RecordList& list, Routine routine);
    // Keeps a list read by ReadFolderForAppend after an append, so that the
    // next append to that folder needs no reading while the file is as the
    // store left it.
    void RememberEnd(const RecordList& list);
    // Removes the originals that no record refers to, after a change that
    // put the sweep marker in place was interrupted (store/Originals.h).
    // Leaves them (and the marker) when a folder can't be read whole.
    void SweepOriginalsAtStart();
    // Puts the sweep marker in place unless it is there already.
    void MarkSweepOnce();
    // Removes the marker when no open change still needs it.
    void ClearSweepWhenDone();
    // Finishes a change whose journal a failed undo left behind.
    // Commits an open batch unless this is an append to the batch's folder
    // (`batchAppendFolder`), then finishes a change left by a failed undo.
    StoreStatus FinishUnfinished(int batchAppendFolder = kNoFolder);
    // Writes the folder of `list` anew with `edit` and, after success,
    // applies the edit to `list`.
    StoreStatus Rewrite(RecordList& list, const FolderEdit& edit, Routine routine);
    // Appends a whole record to the folder of `list` (the shown list or one
    // read aside), journalled; `source` is the list the record leaves, for a
    // move, or nullptr.
    StoreStatus Append(RecordList& list, std::string_view record, RecordList* source, int sourceIndex);
    // Tells that the file `fileName` was changed by another program.
    StoreStatus ChangedOnDisk(std::string_view fileName);
    // Writes out the records the batch holds and then their count. Returns
    // 0 or errno; a failure breaks the batch.
    int WriteBatchHeld();
    // Takes the open batch back at once, when some of it never reached the
    // file: the folder file as before the batch, the batch's originals
    // gone, the lists without its records.
    void TakeBatchBack();

    StoreUi& ui_;
    MailboxLock lock_;
    int currentFolder = kNoFolder;
    RecordList recordList;
    std::string baseDir;
    int pendingCount_ = 0;          // announced by AddCount for pendingFolder_
    int pendingFolder_ = kNoFolder;
    bool unfinished_ = false;       // a journal is still on disk
    int batchFolder_ = kNoFolder;   // the folder of the open batch
    bool batchJournal_ = false;     // the batch's first append left its journal on disk
    UniqueFd batchFd_;              // the batch folder's file, open for the batch's later appends
    ChangeJournal batchChange_;     // that journal
    AppendBuffer batchHeld_;        // the later appends, held and written out in large pieces
    int batchHeldCount_ = -1;       // the folder's count once the held records are written; -1: none held
    bool batchBroken_ = false;      // held records could not be written: the batch can only be taken back
    bool sweepMarked_ = false;      // this document put the sweep marker in place
    bool originalsUnsynced_ = false; // originals written in the batch, not yet synced
    bool originalsDirReady_ = false; // the originals directory was there (or made) at the last write
    mutable OriginalStore originals_; // read lazily, also by the const OriginalOf
    CheckedEnds notedEnds_; // folder ends found sound since the start, written at the end
    std::array<RecordList, kDeleted + 1> knownEnds_; // by folder code: see RememberEnd
};

} // namespace tegalo
