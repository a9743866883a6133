// Received messages as the server sent them, kept beside the folder files:
// the directory "originals" of the mailbox holds one file per received
// record, named by the record's key. The record itself stays as it always
// was; a mailbox without the directory, or a record without a file, simply
// has no original.
//
// The key of a record is the SHA-256 (lower-case hex) of the whole record
// with its read mark set, so that it survives a move to another folder and
// the message being opened. Identical records (the same message received
// twice) share a key; each has its own file: "<key>.eml", "<key>-2.eml",
// "<key>-3.eml", ... The files of a key are as many as the records with that
// key, numbered from 1 without gaps: a new record takes the first free
// number, a record deleted for good takes the highest number with it.
//
// A change that may leave an original without a record (a receive batch
// until its commit, a delete for good until its file is gone) first puts the
// marker file "originals/sweep" in place; a start that finds it counts the
// records of the four folders and removes the originals beyond those counts.
#pragma once

#include "store/FolderFile.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

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

// Writes `bytes` as a new original of `key` under the first free number,
// synced when `sync` (the directory is not: see SyncOriginalsDir). Returns 0
// and the path written in `path`, or errno; a failed write leaves no file.
[[nodiscard]] int WriteOriginal(const std::string& dir, std::string_view key, std::string_view bytes, bool sync,
                                std::string& path);

// Syncs the originals directory, so that the files written so far are found
// after a crash. Returns 0 or errno.
[[nodiscard]] int SyncOriginalsDir(const std::string& dir);
// Makes every original written unsynced so far durable, with their names:
// one sync of their file system, then of the directory. Returns 0 or errno.
[[nodiscard]] int SyncWrittenOriginals(const std::string& dir);

// The path of an original of `key`, nullopt when there is none.
std::optional<std::string> FindOriginal(const std::string& dir, std::string_view key);

// Removes the highest-numbered original of `key` and syncs the directory.
// Returns 0 (also when there was none) or errno.
[[nodiscard]] int RemoveOneOriginal(const std::string& dir, std::string_view key);

// Puts the sweep marker in place (durably) / removes it.
[[nodiscard]] int MarkSweep(const std::string& dir);
void ClearSweep(const std::string& dir);
bool SweepMarked(const std::string& dir);

// Removes the originals beyond `records` (how many records there are of
// each key, in all folders), the highest numbers first, and then the
// marker. Files that are not originals are left alone. Returns 0 or errno.
[[nodiscard]] int SweepOriginals(const std::string& dir, const std::map<std::string, int>& records);

} // namespace tegalo
