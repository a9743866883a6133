// Conversion between ISO-2022-JP (the wire) and Shift_JIS (the program and its files).
#pragma once

#include <string>
#include <string_view>

namespace tegalo {

// The arithmetic mapping of one JIS X 0208 character (first byte high) to
// Shift_JIS. Returns 0 when either byte is outside 0x21..0x7E.
unsigned JisCharToSjis(unsigned jis);

// The arithmetic mapping of one Shift_JIS double-byte character (lead byte
// high) to JIS X 0208. Returns 0 for a pair outside the double-byte ranges or
// whose result is not a JIS X 0208 code.
unsigned SjisCharToJis(unsigned sjis);

// True for the bytes that start a double-byte Shift_JIS character
// (0x80..0x9F and 0xE0..0xFF).
constexpr bool IsSjisLead(unsigned char c) {
    return (c >= 0x80 && c <= 0x9F) || c >= 0xE0;
}

// Converts Shift_JIS text to ISO-2022-JP. Every maximal stretch of
// double-byte characters becomes one run between ESC $ B and ESC ( B; pairs
// that do not map are dropped. Single bytes, half-width katakana included,
// pass through unchanged, and so does a lead byte that ends the text.
std::string SjisToJis(std::string_view sjis);

// Converts ISO-2022-JP text to Shift_JIS. Only runs opened by ESC $ B and
// closed by ESC ( B are converted; a run ends at its first pair that does not
// map, and an odd byte at the end of a run is dropped.
//
// When the first opening sequence has no closing sequence after it, or the
// first closing sequence of the text stands before it, the conversion stops:
// the result is the text converted so far followed by the unconverted rest,
// and *jisError (when given) is set to true so that the caller can report
// "JIS code Error". Otherwise *jisError is set to false.
std::string JisToSjis(std::string_view jis, bool* jisError = nullptr);

} // namespace tegalo
