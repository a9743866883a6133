// The ends of the folder files as the store last found them sound, kept
// between runs in the mailbox file "tegalo.ends", so that appending to a
// large folder the next time need not step through all its records again.
// The file is only a hint: an end is used only while the folder file is
// still exactly as noted (see CheckedEnd); a missing, unreadable or damaged
// file, or a line that no longer fits, just means the records are read.
//
// One line per folder: its name, then the file's device, inode, size,
// modification and change times (seconds and nanoseconds each) and count,
// in decimal, separated by single spaces.
#pragma once

#include "store/FolderFile.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tegalo {

inline constexpr std::string_view kFolderEndsFileName = "tegalo.ends";

// The noted end of folder `name` of mailbox `dir` (which ends with "/").
std::optional<CheckedEnd> RecallCheckedEnd(const std::string& dir, std::string_view name);

// The ends found sound since the notes were last written, by folder name;
// nullopt for a folder whose note no longer holds.
using CheckedEnds = std::map<std::string, std::optional<CheckedEnd>, std::less<>>;

// Records in `ends` the end of `list`, a folder of mailbox `dir` (which ends
// with "/"), as it holds it; call only once its file is synced (only a stat,
// no writing).
void NoteCheckedEnd(const std::string& dir, const RecordList& list, CheckedEnds& ends);

// Writes `ends` into the notes file of `dir`, over the notes of the same
// folders. The file is replaced by a rename, not synced: a crash leaves the
// old notes, the new ones or none, and each is safe.
void WriteCheckedEnds(const std::string& dir, const CheckedEnds& ends);

// Parses and formats one line of the file (without its line end).
std::optional<std::pair<std::string, CheckedEnd>> ParseCheckedEndLine(std::string_view line);
std::string FormatCheckedEndLine(std::string_view name, const CheckedEnd& end);

} // namespace tegalo
