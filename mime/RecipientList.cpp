#include "mime/RecipientList.h"

#include "mime/Charset.h"
#include "text/Lines.h"
#include "text/unicode.h"

#include <algorithm>

namespace tegalo {

namespace {

// The length of the UTF-8 sequence that `lead` starts, 0 for a byte that
// cannot start one.
std::size_t Utf8Length(unsigned char lead) {
    return lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                                          : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
}

// A line as Shift_JIS: itself, or converted when it is UTF-8 (see the header).
std::string SjisLine(std::string_view line) {
    const bool ascii = std::all_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii || !IsValidUtf8(line)) {
        return std::string(line);
    }
    SjisConversion whole = Utf8ToSjis(line);
    if (whole.Complete()) {
        return std::move(whole.text);
    }
    std::string out;
    for (std::size_t i = 0; i < line.size();) {
        const std::size_t n = Utf8Length(static_cast<unsigned char>(line[i]));
        SjisConversion one = Utf8ToSjis(line.substr(i, n));
        out += one.Complete() ? one.text : std::string("\x81\xac"); // 〓
        i += n;
    }
    return out;
}

} // namespace

std::vector<std::string> RecipientListLines(std::string_view content) {
    std::vector<std::string> lines;
    ForEachLine(content, [&](std::string_view line) {
        if (!line.empty()) {
            lines.push_back(SjisLine(line));
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
