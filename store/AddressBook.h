// The address book ".\addr": one "name,address" entry per line, kept in name
// order by RegAddress. Pure helpers; the document reads and writes the file.
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

} // namespace tegalo
