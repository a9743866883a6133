// The line-by-line text files of the mailbox (".\addr", ".\addr.txt",
// ".\comconfig"): lines end with CR LF on disk and are handled without it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

// The lines of a text file without their line ends. A line ends at LF, and
// one CR right before the LF belongs to the line end. A last line without a
// line end is a line too, kept whole; an empty file has no lines.
std::vector<std::string> SplitTextLines(std::string_view text);

// The lines, each followed by CR LF.
std::string JoinTextLines(const std::vector<std::string>& lines);

} // namespace tegalo
