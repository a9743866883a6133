// The send journal: while a send session runs, each waiting message that
// the server accepted is noted here, durably, right after the server's
// answer and before anything else is written. Its copy then goes into the
// sent folder together with a "filed" line (the journal is the companion
// of that append: both reach the disk or neither does), and the session
// takes all of them out of the waiting folder in one rewrite at its end. A
// start that finds the journal finishes the bookkeeping: a noted message
// whose copy was not filed is filed as it waited, and every noted message
// leaves the waiting folder. So a message that went out is never sent
// again, and one that didn't is never lost.
//
// The file: one line per noted message, its key; one line "filed <key>"
// per copy filed. Each line ends in LF.
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

struct SentJournal {
    std::vector<std::string> sent;  // keys of the messages noted as sent, oldest first
    std::vector<std::string> filed; // keys of those whose sent copy was filed
};

// What the journal holds; a line that a crash cut short is not read. No
// journal is an empty one. Returns 0 or errno.
[[nodiscard]] int ReadSentJournal(const std::string& dir, SentJournal& journal);

// Writes, synced, the journal with "filed <key of record>" added, as the
// file kSentJournalFileName + ".pending", for an append to the sent folder
// to put in place when it commits (CTegaloDoc::CommitBatch). Returns 0 or
// errno.
[[nodiscard]] int StageSentFiled(const std::string& dir, std::string_view record);

// Removes the journal and syncs the directory. Returns 0 or errno.
[[nodiscard]] int RemoveSentJournal(const std::string& dir);

} // namespace tegalo
