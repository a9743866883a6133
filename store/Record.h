// The byte layout of Tegalo's folder files and message records, as pure
// functions over bytes. Nothing here touches a file.
//
// A folder file is a six-character count followed by its records, with
// nothing between them and nothing after the last one. A record is a size
// block of eleven six-character fields ("%6d") followed by its pieces:
// subject, sender, date, header block, body and up to three attachments.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tegalo {

// Every line end Tegalo writes into a record, a message or a text file.
inline constexpr std::string_view kCrLf = "\r\n";

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

inline constexpr std::size_t kFieldWidth = 6;
inline constexpr std::size_t kSizeBlockLength = 66;
inline constexpr int kFieldMax = 999'999; // the largest value six characters hold

// The eleven entries of a record's size block, by index.
enum PartIndex : std::size_t {
    kRecordLength = 0,  // characters after entry 0: 60 + the piece lengths
    kSubjectLength = 1,
    kSenderLength = 2,
    kDateLength = 3,
    kPartCount = 4,     // 0 for a single-part message, else the number of part records
    kReadMark = 5,      // 0 until the message was opened in the viewer, then 1
    kHeaderLength = 6,
    kBodyLength = 7,
    kAttachment1Length = 8,
    kAttachment2Length = 9,
    kAttachment3Length = 10,
};

using PartSizes = std::array<int, 11>;

// The read mark is the last character of entry 5.
inline constexpr std::size_t kReadMarkOffset = 6 * kReadMark + 5;

// "%6d" of a value from 0 to 999 999. Values outside that range have no
// six-character form; callers check with FitsField first.
std::string FormatField(int value);
constexpr bool FitsField(long long value) { return value >= 0 && value <= kFieldMax; }

// The value of a six-character field as Tegalo writes it: optional leading
// blanks, then decimal digits up to the end. Anything else (a sign, a
// trailing blank, an empty field, a wrong width) gives nullopt.
std::optional<int> ParseField(std::string_view field);

// Entry 0 that the other entries call for: 60 + entries 1, 2, 3, 6 to 10.
long long RecordLengthFor(const PartSizes& sizes);

// True when every entry fits its field and entry 0 agrees with the piece
// lengths. A record whose size block passes this can be cut into its pieces.
bool SizesConsistent(const PartSizes& sizes);

// The size block at the start of `record` (at least 66 characters), or
// nullopt when a field is unreadable. Does not check consistency.
std::optional<PartSizes> ParseSizeBlock(std::string_view record);

// The 66 characters of a size block. Every entry must fit its field.
std::string FormatSizeBlock(const PartSizes& sizes);

// The pieces of a record, as views into it.
struct RecordPieces {
    std::string_view subject;
    std::string_view sender;
    std::string_view date;
    std::string_view header;
    std::string_view body;
    std::array<std::string_view, 3> attachments;
};

// Cuts a whole record (size block and text) into its pieces. Returns nullopt
// unless the size block is readable, consistent and its entry 0 matches the
// record's length exactly.
std::optional<RecordPieces> SplitRecord(std::string_view record);

// The size block for a record of these pieces, with the given part count and
// read mark. The caller checks the result with SizesConsistent: a piece too
// long for its field gives an entry above 999 999.
PartSizes SizesFor(const RecordPieces& pieces, int partCount, int readMark);

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
