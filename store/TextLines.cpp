#include "store/TextLines.h"

#include "store/Record.h"

namespace tegalo {

std::vector<std::string> SplitTextLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        if (lf == std::string_view::npos) {
            lines.emplace_back(text);
            break;
        }
        std::string_view line = text.substr(0, lf);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        lines.emplace_back(line);
        text.remove_prefix(lf + 1);
    }
    return lines;
}

std::string JoinTextLines(const std::vector<std::string>& lines) {
    std::string text;
    std::size_t length = 0;
    for (const std::string& line : lines) {
        length += line.size() + kCrLf.size();
    }
    text.reserve(length);
    for (const std::string& line : lines) {
        text += line;
        text += kCrLf;
    }
    return text;
}

} // namespace tegalo
