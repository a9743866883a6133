// Received messages as the server sent them, kept beside the folder files in
// the directory "originals" of the mailbox. The record itself stays as it
// always was; a mailbox without the directory, or a record without an
// original, simply has no original.
//
// The key of a record is the SHA-256 (lower-case hex) of the whole record
// with its read mark set, so that it survives a move to another folder and
// the message being opened. Identical records (the same message received
// twice) share a key and each has its own original: there are as many
// originals of a key as records with it.
//
// Originals are written into packs, "<name>.pack": the originals of one
// receive batch go into one pack, appended one after another and synced
// once at the batch's commit, so that a receive creates one file, not one
// per message. Each original in a pack is a header line
// "ORIGINAL <key> <length>\n" followed by the message's bytes. An original
// deleted for good has its header's first word overwritten with "REMOVED "
// (and its bytes given back to the file system where it can); a pack whose
// originals are all removed is deleted, unless it holds bytes no header
// accounts for (damage, or a write a crash cut short), which stay. Originals kept one per file,
// "<key>.eml", "<key>-2.eml", ... (numbered from 1 without gaps), are read,
// counted and removed as well.
//
// A change that may leave an original without a record (a receive batch
// until its commit, a delete for good until its original is gone) first puts
// the marker file "originals/sweep" in place; a start that finds it counts
// the records of the four folders and removes the originals beyond those
// counts.
#pragma once

#include "store/AppendBuffer.h"
#include "store/FileIo.h"
#include "store/FolderFile.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

inline constexpr std::string_view kOriginalsDirName = "originals";
inline constexpr std::string_view kSweepMarkerName = "sweep";
inline constexpr std::string_view kOriginalExtension = ".eml";

// The key of a whole record (size block and text), read mark aside.
std::string OriginalKey(std::string_view record);
// The same for a record given as its size block and its text.
std::string OriginalKey(std::string_view sizeBlock, std::string_view text);

// "<key>.eml" for n = 1, "<key>-<n>.eml" above.
std::string OriginalFileName(std::string_view key, int n);

struct OriginalName {
    std::string key;
    int n = 0;
};
// The key and number of an original's file name; nullopt for any other name.
std::optional<OriginalName> ParseOriginalFileName(std::string_view name);

// The directory of the originals of mailbox `dir` (which ends with "/"),
// ending with "/".
std::string OriginalsDir(const std::string& dir);

// Creates the directory when it is missing (mode 0700) and makes its entry
// durable. Returns 0 or errno.
[[nodiscard]] int EnsureOriginalsDir(const std::string& dir);

inline constexpr std::string_view kPackExtension = ".pack";
inline constexpr std::string_view kPackLiveWord = "ORIGINAL";
inline constexpr std::string_view kPackRemovedWord = "REMOVED ";

// The originals of one mailbox: what the packs and the single files hold,
// learnt once (a scan of the packs' headers) and kept up to date by the
// changes made through this object. The mailbox lock keeps other writers
// out.
class OriginalStore {
public:
    // Where an original just written lies, to take it back.
    struct Written {
        std::string key;
        std::string pack;
        off_t header = -1;
        bool ownPack = false; // the pack was made for this original alone
    };

    // The mailbox `dir` (ending with "/"); forgets what it knew.
    void Open(const std::string& dir);

    // Writes `bytes` followed by `tail` as an original of `key`. With
    // `batched` it goes into the batch's pack, held in memory or written
    // unsynced (see SyncBatch); otherwise into a pack of its own, synced
    // with its directory entry. Returns 0 or errno; a failed write leaves
    // nothing behind. Within a batch a failure may also have lost the
    // originals held before it (see AppendBuffer): the batch is then taken
    // back with DropBatch.
    [[nodiscard]] int Add(std::string_view key, std::string_view bytes, std::string_view tail, bool batched,
                          Written& written);
    [[nodiscard]] int Add(std::string_view key, std::string_view bytes, bool batched, Written& written) {
        return Add(key, bytes, {}, batched, written);
    }
    // Takes back the original just written (its record was refused).
    void TakeBack(const Written& written);
    // Makes the batch's originals durable: its pack, then the directory
    // entry of a new pack. The next batch starts a new pack. Returns 0 or
    // errno.
    [[nodiscard]] int SyncBatch();
    // Takes back every original of the open batch (whose records are taken
    // back): its pack goes. The next batch starts a new pack.
    void DropBatch();
    // True when originals of the open batch were lost to a failed write:
    // the batch must be taken back, not committed.
    bool BatchLost() const { return batchLost_; }

    // The bytes of an original of `key`; nullopt when there is none or it
    // can't be read.
    std::optional<std::string> Read(std::string_view key);
    bool Has(std::string_view key);
    // How many originals of `key` there are.
    int Count(std::string_view key);

    // Removes one original of `key`, durably. Returns 0 (also when there was
    // none) or errno.
    [[nodiscard]] int RemoveOne(std::string_view key);

    // Removes the originals beyond `records` (how many records there are of
    // each key, in all folders), and then the marker. Files that are not
    // originals are left alone. Returns 0 or errno.
    [[nodiscard]] int Sweep(const std::map<std::string, int>& records);

private:
    struct Entry {
        std::size_t pack = 0; // index into packs_
        off_t header = 0;
        off_t offset = 0;
        std::size_t length = 0;
    };
    struct Pack {
        std::string name;
        int live = 0;
        bool gone = false;
        // Read to its end: a pack with bytes no header accounts for (damage,
        // or a crash in the middle of a write) is never deleted, only marked.
        bool whole = true;
    };

    // Scans the packs once. Returns 0 or errno.
    int Index();
    // Marks `entry` removed in its pack (synced) and deletes a pack left
    // without originals.
    int Remove(const Entry& entry);
    std::string PackPath(std::size_t pack) const;

    std::string dir_;
    bool indexed_ = false;
    std::vector<Pack> packs_;
    std::map<std::string, std::vector<Entry>, std::less<>> entries_;
    UniqueFd batchFd_;
    std::size_t batchPack_ = 0;
    AppendBuffer batchHeld_; // the batch pack's originals not written out yet, and its end
    bool batchPackNew_ = false;
    bool batchLost_ = false; // see BatchLost
};

// Puts the sweep marker in place (durably) / removes it.
[[nodiscard]] int MarkSweep(const std::string& dir);
void ClearSweep(const std::string& dir);
bool SweepMarked(const std::string& dir);

} // namespace tegalo
