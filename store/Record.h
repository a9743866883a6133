// The byte layout of Tegalo's folder files and message records, as pure
// functions over bytes. Nothing here touches a file.
//
// A folder file is a six-character count followed by its records, with
// nothing between them and nothing after the last one. A record is a size
// block of eleven six-character fields ("%6d") followed by its pieces:
// subject, sender, date, header block, body and up to three attachments.
// The size block and the part headers are laid out in mime/RecordLayout.h.
#pragma once

#include "mime/RecordLayout.h"

#include <optional>
#include <string>
#include <string_view>

namespace tegalo {

// Folder codes as `currentFolder` holds them. The file of each folder is
// named by its folder name alone.
enum Folder : int {
    kNoFolder = 0,
    kReceived = 1, // "recv"
    kWaiting = 2,  // "reserv", composed messages waiting to be sent
    kSent = 3,     // "sent"
    kDeleted = 4,  // "recycle"
};

// "recv", "reserv", "sent" or "recycle" for the codes 1 to 4; empty otherwise.
std::string_view FolderName(int folder);

// The code of a folder name: one of the four file names, exactly and
// case-sensitively, optionally preceded by ".\" or "./". kNoFolder otherwise.
int FolderFromName(std::string_view name);

// Cuts a whole record (size block and text) into its pieces. Returns nullopt
// unless the size block is readable, consistent and its entry 0 matches the
// record's length exactly.
std::optional<RecordPieces> SplitRecord(std::string_view record);

// The record text of these pieces: the pieces one after the other.
std::string JoinPieces(const RecordPieces& pieces);

// The whole record: the size block followed by the text. The caller has
// checked that the sizes are consistent and describe `text`.
std::string BuildRecord(const PartSizes& sizes, std::string_view text);

// What is wrong with a record about to be stored, if anything.
enum class RecordProblem {
    kNone,
    kTooLarge,       // an entry (or the record length) does not fit six characters
    kSizeMismatch,   // entry 0 disagrees with the pieces or with the text's length
};
RecordProblem CheckRecord(const PartSizes& sizes, std::string_view text);

// The same check for a whole record (size block and text).
RecordProblem CheckWholeRecord(std::string_view record);

// A copy of a whole record with its read mark set to 1. Records shorter
// than a size block come back unchanged.
std::string WithReadMark(std::string_view record);

} // namespace tegalo
