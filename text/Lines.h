// Walking a text line by line.
#pragma once

#include <string_view>

namespace tegalo {

// Calls `take` with each line of `text`, without its line end (LF, and one
// CR right before it or at the very end); a last line without a line end is
// a line too.
template <typename Take>
void ForEachLine(std::string_view text, Take take) {
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        take(line);
    }
}

} // namespace tegalo
