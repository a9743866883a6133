// The address book ".\addr": one "name,address" entry per line, kept in name
// order by RegAddress. Pure helpers for the document's RegAddress, and the
// whole-file read and save of the address book dialog.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

// Orders two names byte by byte, bytes taken as signed 8-bit values, so that
// names starting with a Shift_JIS character (lead bytes from 0x80) come
// before names starting with an ASCII letter. Returns 1 when x sorts before
// y, -1 when x sorts after y, and 0 for the same name (equal bytes, equal
// length). A name that is a prefix of the other sorts first. Names of any
// length are compared whole.
int CompareNames(std::string_view x, std::string_view y);

// The name of an entry: its text before the first comma, without leading
// blanks and tabs. An entry without a comma has an empty name.
std::string_view AddressName(std::string_view entry);

// Where RegAddress puts a new entry: before the first entry whose name sorts
// after its name, or at the end.
std::size_t AddressInsertPosition(const std::vector<std::string>& entries, std::string_view entry);

// The index of an entry with the same name as `entry`, or entries.size().
std::size_t FindSameName(const std::vector<std::string>& entries, std::string_view entry);

// The entry "name,address" that registers a message's sender. A "<" at
// position 1 or later splits the sender: the name is the text before it,
// blanks included, the address the text after it up to the next ">" (or to
// the end). A sender without such a "<" is both name and address. Commas in
// the name become full-width commas, since the first comma of a line ends
// the name.
std::string SenderAddressEntry(std::string_view sender);

// One line of the address book as the dialog shows it: the text before the
// first comma and everything after it, both as stored (blanks included).
struct AddressEntry {
    std::string name;
    std::string address;
    // False for a line without a comma: its whole text is the name, and it
    // is written back without a comma as long as the address stays empty.
    bool comma = true;
    bool operator==(const AddressEntry&) const = default;
};

// The entries of an address book's bytes, in file order. Every line counts,
// empty ones and a last line without a line end included.
std::vector<AddressEntry> ParseAddressBook(std::string_view content);

// The bytes of an address book: one line per entry, each ending with CR LF.
// An entry that ParseAddressBook gave comes back as the line it was read
// from (apart from the line end).
std::string FormatAddressBook(const std::vector<AddressEntry>& entries);

// True when the entry can be written and read back as the same entry: no
// comma in the name, no line-end character in name or address.
bool StorableAddressEntry(const AddressEntry& entry);

// Reads the address book `dir` + `file` (`dir` ends with "/"). Returns 0 or
// the errno of the failure; `entries` is changed only on success.
[[nodiscard]] int ReadAddressBook(const std::string& dir, std::string_view file, std::vector<AddressEntry>& entries);

// Replaces the address book `dir` + `file` with `entries` as a whole or not
// at all: the old file stays untouched until the new one is complete and
// synced. Creates the file when it is missing (readable by the owner only);
// an existing file keeps its permissions. Returns 0 or the errno of the
// failure, EINVAL without touching anything when an entry is not storable.
[[nodiscard]] int WriteAddressBook(const std::string& dir, std::string_view file,
                                   const std::vector<AddressEntry>& entries);

} // namespace tegalo
