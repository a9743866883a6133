#include "text/unicode.h"

#include "text/Iconv.h"

#include <stdexcept>
#include <string>

namespace tegalo {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The program cannot run without the two descriptors between CP932 and
// UTF-8 (one per direction and thread).
Iconv& Checked(Iconv& converter, const char* to, const char* from) {
    if (!converter.Valid()) {
        throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
    }
    return converter;
}

std::size_t Utf8SequenceLength(std::string_view s, std::size_t pos) {
    const auto c = static_cast<unsigned char>(s[pos]);
    std::size_t n = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
    if (n == 0 || pos + n > s.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < n; ++i) {
        if ((static_cast<unsigned char>(s[pos + i]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return n;
}

} // namespace

SjisConversion Utf8ToSjis(std::string_view utf8) {
    thread_local Iconv cp932FromUtf8("CP932", "UTF-8");
    Iconv& converter = Checked(cp932FromUtf8, "CP932", "UTF-8");
    SjisConversion result;
    result.text.reserve(utf8.size());
    converter.Run(utf8, result.text, [&](std::size_t pos, bool) {
        const std::size_t n = Utf8SequenceLength(utf8, pos);
        result.unmapped.emplace_back(n == 0 ? kReplacement : utf8.substr(pos, n));
        return n == 0 ? std::size_t{1} : n;
    });
    return result;
}

std::string SjisToUtf8(std::string_view sjis) {
    thread_local Iconv utf8FromCp932("UTF-8", "CP932");
    Iconv& converter = Checked(utf8FromCp932, "UTF-8", "CP932");
    std::string out;
    out.reserve(sjis.size() * 3 / 2);
    converter.Run(sjis, out, [&](std::size_t, bool) {
        out.append(kReplacement);
        return std::size_t{1};
    });
    return out;
}

std::string SjisLiteral(std::string_view utf8) {
    SjisConversion c = Utf8ToSjis(utf8);
    if (!c.Complete()) {
        throw std::logic_error("text without a Shift_JIS form: " + std::string(utf8));
    }
    return std::move(c.text);
}

} // namespace tegalo
