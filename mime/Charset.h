// Text of received mail in any charset, converted to Shift_JIS (CP932), the
// form Tegalo keeps. A character CP932 cannot hold, and a byte that is no
// character of its charset, becomes the geta mark 〓 and is counted.
#pragma once

#include <string>
#include <string_view>

namespace tegalo {

// 〓 in Shift_JIS.
inline constexpr std::string_view kGetaMark = "\x81\xac";

// What the conversions of one message met on the way.
struct DecodeTally {
    int replaced = 0;      // characters shown as 〓
    bool jisError = false; // an ISO-2022-JP run was left open at a line end or the end of the text
};

enum class CharsetKind {
    Unlabelled, // no label, us-ascii, or a name iconv does not know: guessed from the bytes
    Iso2022Jp,  // ISO-2022-JP and its variants
    ShiftJis,   // Shift_JIS, CP932 and their aliases: already the form kept
    Utf8,
    Other, // converted through iconv
};

// The kind of a charset label (any case, quotation marks allowed) and, for
// Other, the name to give iconv.
CharsetKind ClassifyCharset(std::string_view label, std::string* iconvName = nullptr);

// ISO-2022-JP to Shift_JIS, for received text. Runs opened by ESC $ B or
// ESC $ @ are JIS X 0208 (arithmetic mapping), ESC ( I opens half-width
// katakana, ESC ( B / ESC ( J return to ASCII; other bytes are copied. A run
// left open ends at the next control byte (a line end) or at the end of the
// text and sets tally.jisError. For text whose runs are all closed by
// ESC ( B the result is byte for byte that of JisToSjis.
std::string Iso2022JpToSjis(std::string_view jis, DecodeTally& tally);

// UTF-8 to Shift_JIS: unmappable characters and invalid bytes become 〓.
// With `incompleteTail` given, a sequence cut off at the end is left out and
// returned there (to be completed by the next piece) instead of marked.
std::string Utf8ToSjisMarked(std::string_view utf8, DecodeTally& tally, std::string* incompleteTail = nullptr);

// Any text to UTF-8 (for the HTML parser), through Shift_JIS unless it is
// already valid UTF-8 labelled as such or unlabelled.
std::string ToUtf8(std::string_view charset, std::string_view bytes, DecodeTally& tally);

// Bytes in `charset` to Shift_JIS. `incompleteTail` as for Utf8ToSjisMarked
// (ISO-2022-JP and Shift_JIS leave nothing there).
std::string ToSjis(std::string_view charset, std::string_view bytes, DecodeTally& tally,
                   std::string* incompleteTail = nullptr);

// Unlabelled text: 7-bit text as ISO-2022-JP (ASCII unchanged); valid UTF-8
// as UTF-8; else Shift_JIS (kept as it is), unless the bytes read better as
// EUC-JP.
std::string UnlabelledToSjis(std::string_view bytes, DecodeTally& tally);

// Raw header text: valid UTF-8 as UTF-8, else as Shift_JIS; ISO-2022-JP
// escape sequences are read in either case.
std::string HeaderTextToSjis(std::string_view bytes, DecodeTally& tally);

bool IsValidUtf8(std::string_view s);

} // namespace tegalo
