// The recipient list ".\addr.txt" that the address selection dialog offers,
// and the recipient field the compose dialog makes of the lines picked from
// it. Each line is a name, a comma and an address, as in the address book.
// Pure functions over bytes: they look only at ",", CR and LF, so they work
// on Shift_JIS and UTF-8 alike.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

// The lines of the list in file order, without their line ends (CR LF, or
// LF alone). A last line without a line end is kept whole, and a line of any
// length stays one line. Empty lines name no recipient and are left out.
// The file is Shift_JIS, but a line written by hand in UTF-8 is read as
// UTF-8 when it is valid UTF-8 and not plain ASCII, and converted; a
// character without a Shift_JIS form becomes "〓".
std::vector<std::string> RecipientListLines(std::string_view content);

// The recipient field for the picked lines (each ending with CR LF or LF; a
// last one may lack it): "name<address>" for each line, joined by ",". The
// name is the text before the line's first comma, the address everything
// after it; a line without a comma is an address alone ("<line>"). Empty
// lines are skipped, so that no line after one is lost. No lines give "".
std::string RecipientField(std::string_view lines);

} // namespace tegalo
