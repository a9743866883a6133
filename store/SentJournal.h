// The send journal: while a send session runs, each waiting message that
// the server accepted is noted here, durably, before the session takes all
// of them out of the waiting folder in one rewrite at its end. A start that
// finds the journal finishes that removal, so that a message that went out
// is never sent again and one that didn't is never lost.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

inline constexpr std::string_view kSentJournalFileName = "tegalo.sent";

// What identifies a waiting record in the journal: its length and a hash of
// its bytes, its read mark aside.
std::string SentKey(std::string_view record);

// Adds the key of `record` to the journal in `dir` and syncs it (and the
// directory when the journal is new). Returns 0 or errno.
[[nodiscard]] int NoteSentRecord(const std::string& dir, std::string_view record);

// The keys in the journal, oldest first; a line that a crash cut short is
// not one. No journal is no keys. Returns 0 or errno.
[[nodiscard]] int ReadSentJournal(const std::string& dir, std::vector<std::string>& keys);

// Removes the journal and syncs the directory. Returns 0 or errno.
[[nodiscard]] int RemoveSentJournal(const std::string& dir);

} // namespace tegalo
