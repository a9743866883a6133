#include "mime/RecipientList.h"

namespace tegalo {

namespace {

// Calls `take` with each line of `text`, line end removed, the last one
// also when it has no line end.
template <typename Take>
void ForEachLine(std::string_view text, Take take) {
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        take(line);
        if (lf == std::string_view::npos) {
            break;
        }
        text.remove_prefix(lf + 1);
    }
}

} // namespace

std::vector<std::string> RecipientListLines(std::string_view content) {
    std::vector<std::string> lines;
    ForEachLine(content, [&](std::string_view line) {
        if (!line.empty()) {
            lines.emplace_back(line);
        }
    });
    return lines;
}

std::string RecipientField(std::string_view lines) {
    std::string field;
    ForEachLine(lines, [&](std::string_view line) {
        if (line.empty()) {
            return;
        }
        const std::size_t comma = line.find(',');
        const std::string_view name = comma == std::string_view::npos ? std::string_view() : line.substr(0, comma);
        const std::string_view address = comma == std::string_view::npos ? line : line.substr(comma + 1);
        if (!field.empty()) {
            field.push_back(',');
        }
        field.append(name).append("<").append(address).append(">");
    });
    return field;
}

} // namespace tegalo
