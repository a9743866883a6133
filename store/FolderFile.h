// Folder files on disk: reading one into memory, rewriting it as a whole,
// appending a record to it, and the journal that lets an interrupted append
// or move be undone or completed at the next start.
#pragma once

#include "store/FileIo.h"

#include <cstddef>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

// One folder in memory, record for record as in its file. The count field
// comes first (entry 0), then records 0 to n - 1 in file order, each as its
// size block followed by its text.
//
// The file's bytes are held in one block as read, and the records are views
// into it, so that reading a folder of any size costs one allocation beyond
// the file's own bytes. A record replaced or appended later is held on its
// own. Copies of a list share what they hold: nothing held is ever changed.
//
// A file that could not be read to its end is marked damaged: the list holds
// the records before the damage, its count field counts those records, and
// the bytes from the damage to the end of the file are kept as the unread
// tail, which every rewrite writes back after the records.
class RecordList {
public:
    using const_iterator = std::vector<std::string_view>::const_iterator;

    std::string_view CountField() const { return countField_; }
    // The records in the file, held or not (see Whole).
    int Count() const { return static_cast<int>(records_.size() + notHeld_); }
    std::size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }
    std::string_view operator[](std::size_t index) const { return records_[index]; }
    const_iterator begin() const { return records_.begin(); }
    const_iterator end() const { return records_.end(); }

    int Folder() const { return folder_; }
    // False for a list read by ReadFolderEnd: it knows the file's count and
    // end but holds none of its records. Such a list can take appends (which
    // it counts but doesn't keep); it can't be rewritten.
    bool Whole() const { return notHeld_ == 0; }
    bool Damaged() const { return damaged_; }
    std::string_view UnreadTail() const { return unreadTail_; }
    // The file as it was read or last written by the store.
    const FileStamp& Stamp() const { return stamp_; }

    // Bytes of memory the list holds (the file's block, the records held on
    // their own, the views).
    std::size_t MemoryBytes() const;

private:
    friend class FolderFileAccess;

    // True when `record` lies in the block read from the file.
    bool InBlock(std::string_view record) const {
        return blockSize_ != 0 && record.data() >= block_.get() && record.data() < block_.get() + blockSize_;
    }
    // Holds `record` on its own and returns the view of the copy.
    std::string_view Own(std::string_view record);
    // Lets go of the records held on their own that no view shows any more,
    // once they are more than the ones still shown.
    void DropUnshown();

    int folder_ = 0;
    std::string countField_;
    std::shared_ptr<const char[]> block_; // the file's bytes as read
    std::size_t blockSize_ = 0;
    std::vector<std::string_view> records_;
    std::vector<std::shared_ptr<const std::string>> owned_; // records put in since
    std::size_t shownOwned_ = 0; // views into owned_
    std::size_t notHeld_ = 0; // records in the file before records_, not read
    std::string_view unreadTail_;
    bool damaged_ = false;
    FileStamp stamp_;
};

// Reads the folder file at `path`. Returns 0 and fills `list`, or the errno of
// opening or reading it and leaves `list` alone. A damaged file is not an
// error: see RecordList.
[[nodiscard]] int ReadFolderFile(const std::string& path, int folder, RecordList& list);

// Reads only what an append needs of the folder file at `path`: its count,
// and that the file ends with the last record whole, found by stepping from
// size block to size block without reading the texts. Returns 0 and fills
// `list` (not Whole) when the file is sound; a file it can't vouch for
// (damaged, or a count the records don't meet) gives 0 and a list marked
// Damaged, for the caller to read in full. Otherwise the errno, and `list`
// is left alone.
[[nodiscard]] int ReadFolderEnd(const std::string& path, int folder, RecordList& list);

// A folder file as it was when its end was last found sound: its stamp,
// its times to the nanosecond and its count. Any write to the file, by
// Tegalo or any other program, changes its change time.
struct CheckedEnd {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    timespec changed{};
    int count = -1;
    bool operator==(const CheckedEnd& other) const;
};

// ReadFolderEnd trusting `known` (when given) instead of stepping through
// the records again, provided the file is still exactly as `known` says and
// its count field still reads `known.count`.
[[nodiscard]] int ReadFolderEnd(const std::string& path, int folder, RecordList& list, const CheckedEnd* known);

// The checked end of the folder file at `path` as `list` (sound, just
// synced by the store) holds it; nullopt when the file is no longer the one
// the list describes, or the list is damaged.
std::optional<CheckedEnd> CheckedEndOf(const std::string& path, const RecordList& list);

// What ReadFolderEnd would give for the file `list` (read whole) holds: its
// count and stamp without its records. An empty list for a damaged one.
RecordList EndOf(const RecordList& list);

// The same reading rules over bytes in memory.
RecordList ParseFolderBytes(std::string_view bytes, int folder);

// One change to a folder: replace record `index`, remove it, append a
// record at the end, or remove the records at `indices` (ascending).
struct FolderEdit {
    enum class Kind { kReplace, kRemove, kAppend, kRemoveSome };
    Kind kind;
    std::size_t index = 0;
    std::string_view record;
    // False to leave the unread tail of a damaged file out (a repair, which
    // keeps it elsewhere first).
    bool keepTail = true;
    std::span<const std::size_t> indices{};
};

// True when the file at `path` is still the one `list` was read from (same
// file, same length).
bool UnchangedOnDisk(const std::string& path, const RecordList& list);

// EACCES when the file at `path` (followed when a link) exists and its
// owner may not write it: the user protected it, and it is left as it is.
// 0 when it may be written or is not there; another errno when it cannot be
// examined.
[[nodiscard]] int WriteProtected(const std::string& path);

// Writes the file of `list`'s folder in `dir` anew with `edit` applied: the
// count, the records, the unread tail. The old file stays untouched unless
// the whole new file reached the disk. Returns 0 or errno (EINVAL for a list
// that is not Whole); on success `stamp` describes the new file. `list`
// itself is not changed. A folder file that is a symbolic link stays one:
// its target is rewritten. A write-protected file is left alone (EACCES).
[[nodiscard]] int RewriteFolderFile(const std::string& dir, const RecordList& list, const FolderEdit& edit,
                                    FileStamp& stamp);

// Appends `record` to the file of `list`'s folder in `dir` in place, without
// syncing: the record at the end, then the new count. Used for the appends
// of a batch after its first, while the batch's journal is on disk and can
// take them back. On failure the file is cut back to its old length. Returns
// 0, ESTALE for a file changed since `list` was read, or errno; on success
// `stamp` describes the file now.
[[nodiscard]] int AppendUnsynced(const std::string& dir, const RecordList& list, std::string_view record,
                                 FileStamp& stamp);

// Opens the file of `list`'s folder in `dir` for the later appends of a
// batch, provided it is still the file `list` describes; else an invalid fd
// and ESTALE or errno in `error`.
UniqueFd OpenForAppends(const std::string& dir, const RecordList& list, int& error);

// AppendUnsynced through `fd` from OpenForAppends: the file behind it must
// still be as `list` says (ESTALE otherwise).
[[nodiscard]] int AppendUnsynced(int fd, const RecordList& list, std::string_view record, FileStamp& stamp);

// Syncs the file of `list`'s folder in `dir` to the disk. Returns 0 or errno.
[[nodiscard]] int SyncFolderFile(const std::string& dir, const RecordList& list);

// Sets the read mark of record `index` of `list` in its file in `dir` in
// place: one byte, written and synced, so the file is at any moment either
// the old one or the new one. The file must still be the one `list` was
// read from. Returns 0, ESTALE for a file changed since, or errno.
[[nodiscard]] int MarkReadInPlace(const std::string& dir, const RecordList& list, std::size_t index);

struct ChangeJournal;

// Fills `journal` for appending a record of `recordLength` bytes to the file
// of `list`'s folder in `dir`: the target's name, its length and first six
// bytes now and after the append. Returns 0, ESTALE when the file is no
// longer the one `list` was read from, or errno.
[[nodiscard]] int StartAppendJournal(const std::string& dir, const RecordList& list, std::size_t recordLength,
                                     ChangeJournal& journal);

// Appends `record` to the file of `list`'s folder in place: the record at the
// end of the file, synced, then the new count in the first six bytes, synced.
// The caller has written `journal` (from StartAppendJournal) to disk and
// checked that the list has no unread tail. On failure the file is put back
// as it was; if that fails too, `undoFailed` is set and the journal must
// stay. Returns 0, ESTALE for a file changed since, or errno.
[[nodiscard]] int AppendToFolderFile(const std::string& dir, const RecordList& list, std::string_view record,
                                     const ChangeJournal& journal, FileStamp& stamp, bool& undoFailed);

// Makes `list` what the file became after a successful rewrite or append.
void ApplyEdit(RecordList& list, const FolderEdit& edit, const FileStamp& stamp);

// The journal of an append, or of a move (an append to the target followed
// by a rewrite of the source), kept in the mailbox while the change runs.
struct ChangeJournal {
    std::string target;        // folder name the record is appended to
    off_t targetSize = 0;      // its length before the append
    std::string targetHead;    // its first six bytes (fewer for a shorter file)
    off_t newSize = 0;         // its length after the append
    std::string newHead;       // its count after the append
    std::string source;        // for a move, the folder the record leaves
    FileStamp sourceStamp;     // for a move, the source file before its rewrite
    bool hasIdentity = false;  // targetDevice and targetInode were recorded
    dev_t targetDevice = 0;    // which file the target was: an undo touches
    ino_t targetInode = 0;     // only that file, never one put in its place
    // For a committed batch: files of the mailbox whose new content waits as
    // companion + kPendingSuffix and is put in place with the batch.
    std::vector<std::string> companions;
};

inline constexpr std::string_view kJournalFileName = "tegalo.journal";
inline constexpr std::string_view kAsideJournalPrefix = "tegalo.journal.aside.";
inline constexpr std::string_view kPendingSuffix = ".pending";

// Puts `dir` + companion + kPendingSuffix in place of `dir` + companion and
// syncs the directory. A pending file that is not there is no error.
[[nodiscard]] int PutCompanionInPlace(const std::string& dir, std::string_view companion);

// Removes what interrupted writes left in the mailbox `dir`: "<name>.tmp"
// files, received-id lists in the making ("recv.uidl.XXXXXX", and a pending
// "recv.uidl.pending" no journal confirms) and unique
// temporary files (".tegalo-XXXXXX"). Only plain files directly in `dir`.
// The caller holds the mailbox lock, so no other writer is at work.
void RemoveOrphanedTemporaries(const std::string& dir);

std::string FormatJournal(const ChangeJournal& journal);
// nullopt for a journal that was not written to its end.
std::optional<ChangeJournal> ParseJournal(std::string_view bytes);

// Writes the journal and syncs it and the directory. Returns 0 or errno.
[[nodiscard]] int WriteJournal(const std::string& dir, const ChangeJournal& journal);
// Removes the journal and syncs the directory. Returns 0 or errno.
[[nodiscard]] int RemoveJournal(const std::string& dir);

// Puts the target of a journal back as it was before the append.
[[nodiscard]] int UndoAppend(const std::string& dir, const ChangeJournal& journal);

enum class Recovery {
    kNothing,   // no journal, or one cut short before anything was changed
    kUndone,    // an interrupted append or move was taken back
    kCompleted, // the change had been made in full: it stands
    kSetAside,  // the journal named another file than the one there now (a
                // mailbox restored from a backup): the folder was left as it
                // is, the journal renamed to kAsideJournalPrefix + a number
    kFailed,    // the journal stays; `error` says why
};

// Finishes whatever a journal in `dir` describes and removes the journal.
// Also removes the temporary files that an interrupted rewrite of a folder,
// the address book or the settings file left behind. The caller holds the
// mailbox lock.
Recovery RecoverInterruptedChange(const std::string& dir, int& error);

} // namespace tegalo
