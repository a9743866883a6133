// The byte layout of a message record that received-message parsing,
// outgoing building and the store share: the size block of eleven
// six-character fields and the 109-byte header in front of each part of a
// multipart record. Pure functions over bytes.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tegalo {

// Every line end Tegalo writes into a record, a message or a text file.
inline constexpr std::string_view kCrLf = "\r\n";

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

// The piece lengths in the order the pieces stand in the record text.
inline constexpr std::array<std::size_t, 8> kPieceOrder = {
    kSubjectLength, kSenderLength, kDateLength, kHeaderLength,
    kBodyLength, kAttachment1Length, kAttachment2Length, kAttachment3Length};

// The characters entry 0 counts besides the pieces: entries 1 to 10.
inline constexpr int kSizeEntriesLength = static_cast<int>(kSizeBlockLength - kFieldWidth);

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

// The size block for a record of these pieces, with the given part count and
// read mark. The caller checks the result with SizesConsistent: a piece too
// long for its field gives an entry above 999 999.
PartSizes SizesFor(const RecordPieces& pieces, int partCount, int readMark);

// Entry 0 for sizes whose other entries are filled: RecordLengthFor, or
// 1 000 000 when that does not fit, so that the store refuses the record.
int RecordLengthEntry(const PartSizes& sizes);

// Attachment slots of a record.
inline constexpr std::size_t kAttachmentSlots = 3;
inline constexpr int kMaxAttachments = static_cast<int>(kAttachmentSlots);

// Each part of a multipart record (the text part and every attachment)
// starts with a 109-byte part header: the name cut or filled with blanks to
// 98 bytes, CR LF, and the transfer encoding (with the line end it may
// carry) cut or filled with blanks to 9 bytes.
inline constexpr std::size_t kPartNameSize = 98;
inline constexpr std::size_t kPartEncodingStart = kPartNameSize + 2;
inline constexpr std::size_t kPartEncodingSize = 9;
inline constexpr std::size_t kPartHeaderSize = kPartEncodingStart + kPartEncodingSize;

// Builds a part header. A name longer than 98 bytes loses its middle: its
// extension (up to 16 ASCII bytes after the last ".") stays at the end, and
// what stands before it is cut at a character boundary: never inside a
// Shift_JIS double-byte character, and in an ISO-2022-JP name never inside
// an escape sequence or a two-byte character, a cut double-byte run being
// closed with ESC ( B within the 98 bytes.
std::string PartHeader(std::string_view name, std::string_view encoding);

// The name of a part record: its first 98 characters without trailing
// blanks. Empty for a record shorter than that.
std::string_view PartRecordName(std::string_view partRecord);

// The transfer encoding of a part record: characters 100 to 108 without
// trailing blanks, CR and LF ("base64", "quoted-pr", "7bit", ...).
std::string_view PartRecordEncoding(std::string_view partRecord);

// The content of a part record: everything after its 109-character header.
std::string_view PartRecordContent(std::string_view partRecord);

} // namespace tegalo
