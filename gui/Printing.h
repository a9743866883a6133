// Printing a message body: 36 lines to a page, no header.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class QPrinter;

namespace tegalo {

inline constexpr int kLinesPerPage = 36;

// The body's lines as they are printed: split at each CR LF. A last line
// without a line end is printed too; an empty text after the last CR LF is
// not a line.
std::vector<std::string_view> BodyLines(std::string_view body);

// Prints the body (Shift_JIS) on `printer`, each line at the left edge, one
// line height (font height plus leading) below the one before. Returns false
// when the printer could not be started.
bool PrintBody(QPrinter& printer, std::string_view body);

} // namespace tegalo
