// The one place where Shift_JIS (code page 932) meets Unicode. The program
// converts here, and only here, when Qt shows or takes text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

struct SjisConversion {
    std::string text;                  // the Shift_JIS bytes of what could be converted
    std::vector<std::string> unmapped; // each character (UTF-8) that has no CP932 form, in order
    bool Complete() const { return unmapped.empty(); }
};

// Converts UTF-8 to Shift_JIS as Windows writes it (CP932). A character with
// no CP932 form is left out of `text` and listed in `unmapped`; a byte that is
// not valid UTF-8 is listed there as U+FFFD.
SjisConversion Utf8ToSjis(std::string_view utf8);

// Converts Shift_JIS (CP932) to UTF-8. Bytes that do not form a CP932
// character become U+FFFD, one per byte, so that nothing shifts or vanishes.
std::string SjisToUtf8(std::string_view sjis);

// Shift_JIS bytes of a UTF-8 literal that is known to have a CP932 form.
// Throws std::logic_error otherwise, which is a fault in the program.
std::string SjisLiteral(std::string_view utf8);

namespace literals {
// "HTML形式.html"_sjis gives the Shift_JIS bytes of a literal written in UTF-8.
inline std::string operator""_sjis(const char* s, std::size_t n) {
    return SjisLiteral(std::string_view(s, n));
}
} // namespace literals

} // namespace tegalo
