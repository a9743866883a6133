#include "mime/Charset.h"

#include "text/Iconv.h"
#include "text/jis.h"
#include "text/unicode.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <map>
#include <memory>

namespace tegalo {
namespace {

constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";

std::string Lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

// Length of the valid UTF-8 sequence at `pos`; 0 when it is invalid, and
// -1 when it is valid so far but cut off by the end of the text.
int Utf8Length(std::string_view s, std::size_t pos) {
    const auto c = static_cast<unsigned char>(s[pos]);
    const int n = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
    for (int i = 1; i < n; ++i) {
        if (pos + static_cast<std::size_t>(i) >= s.size()) {
            return -1;
        }
        const auto t = static_cast<unsigned char>(s[pos + static_cast<std::size_t>(i)]);
        if ((t & 0xC0) != 0x80) {
            return 0;
        }
        // No overlong forms, surrogates or code points above U+10FFFF.
        if (i == 1 && ((c == 0xE0 && t < 0xA0) || (c == 0xED && t >= 0xA0) || (c == 0xF0 && t < 0x90) ||
                       (c == 0xF4 && t >= 0x90))) {
            return 0;
        }
    }
    return n;
}

bool HasEightBit(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}


// Descriptors to UTF-8 by iconv name, kept for the thread's life; null for
// a name iconv does not know.
Iconv* ToUtf8Converter(const std::string& name) {
    thread_local std::map<std::string, std::unique_ptr<Iconv>> converters;
    if (converters.size() > 64) {
        converters.clear(); // spam may name a new charset in every message
    }
    auto [it, added] = converters.try_emplace(name);
    if (added) {
        it->second = std::make_unique<Iconv>("UTF-8", name.c_str());
    }
    return it->second->Valid() ? it->second.get() : nullptr;
}

// Charset names whose usual content is a superset iconv knows by another name.
std::string IconvNameFor(const std::string& label) {
    static const std::map<std::string, std::string, std::less<>> kNames = {
        {"euc-jp", "EUC-JP-MS"},
        {"x-euc-jp", "EUC-JP-MS"},
        {"eucjp", "EUC-JP-MS"},
        {"ujis", "EUC-JP-MS"},
        {"cseucpkdfmtjapanese", "EUC-JP-MS"},
        {"gb2312", "GB18030"},
        {"gbk", "GB18030"},
        {"x-gbk", "GB18030"},
        {"cp936", "GB18030"},
        {"euc-cn", "GB18030"},
        {"csgb2312", "GB18030"},
        {"big5", "BIG5-HKSCS"},
        {"x-big5", "BIG5-HKSCS"},
        {"csbig5", "BIG5-HKSCS"},
        {"euc-kr", "CP949"},
        {"ks_c_5601-1987", "CP949"},
        {"ks_c_5601", "CP949"},
        {"korean", "CP949"},
        {"cseuckr", "CP949"},
        {"iso-8859-1", "WINDOWS-1252"},
        {"latin1", "WINDOWS-1252"},
        {"iso_8859-1", "WINDOWS-1252"},
        {"unicode-1-1-utf-7", "UTF-7"},
    };
    if (const auto it = kNames.find(label); it != kNames.end()) {
        return it->second;
    }
    return label;
}

// The JIS X 0208 square in Shift_JIS, as JisToSjis maps it.
struct JisSquare {
    std::array<unsigned short, 94 * 94> sjis{};
    JisSquare() {
        for (unsigned j1 = 0; j1 < 94; ++j1) {
            for (unsigned j2 = 0; j2 < 94; ++j2) {
                sjis[j1 * 94 + j2] = static_cast<unsigned short>(JisCharToSjis(((j1 + 0x21) << 8) | (j2 + 0x21)));
            }
        }
    }
};

// The Shift_JIS form of every character of the Basic Multilingual Plane, as
// iconv's CP932 gives it, asked once per character and then kept: converting
// with it is several times faster than calling iconv for each text.
struct Cp932Table {
    static constexpr unsigned short kNone = 0xFFFF; // no Shift_JIS form
    static constexpr unsigned short kDrop = 0xFFFE; // left out (a byte order mark)
    std::array<unsigned short, 0x10000> sjis{};
    Cp932Table() {
        Iconv converter("CP932", "UTF-8");
        for (unsigned cp = 0; cp < 0x10000; ++cp) {
            sjis[cp] = kNone;
            if (cp >= 0xD800 && cp <= 0xDFFF) {
                continue;
            }
            char utf8[4];
            std::size_t length = 0;
            if (cp < 0x80) {
                utf8[length++] = static_cast<char>(cp);
            } else if (cp < 0x800) {
                utf8[length++] = static_cast<char>(0xC0 | (cp >> 6));
                utf8[length++] = static_cast<char>(0x80 | (cp & 0x3F));
            } else {
                utf8[length++] = static_cast<char>(0xE0 | (cp >> 12));
                utf8[length++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                utf8[length++] = static_cast<char>(0x80 | (cp & 0x3F));
            }
            std::string out;
            bool bad = false;
            converter.Run(std::string_view(utf8, length), out, [&](std::size_t, bool) -> std::size_t {
                bad = true;
                return 0;
            });
            if (bad || out.empty() || out.size() > 2) {
                continue;
            }
            const auto b0 = static_cast<unsigned char>(out[0]);
            sjis[cp] =
                static_cast<unsigned short>(out.size() == 1 ? b0 : (b0 << 8) | static_cast<unsigned char>(out[1]));
        }
        sjis[0xFEFF] = kDrop;
    }
};

const Cp932Table& Cp932() {
    static const Cp932Table table;
    return table;
}

bool ValidShiftJis(std::string_view s, int& halfWidthKana, int& doubleByte) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            continue;
        }
        if (c >= 0xA1 && c <= 0xDF) {
            ++halfWidthKana;
            continue;
        }
        if (!((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) || i + 1 >= s.size()) {
            return false;
        }
        const auto t = static_cast<unsigned char>(s[++i]);
        if (t < 0x40 || t == 0x7F || t > 0xFC) {
            return false;
        }
        ++doubleByte;
    }
    return true;
}

bool ValidEucJp(std::string_view s) {
    const auto high = [](unsigned char b) { return b >= 0xA1 && b <= 0xFE; };
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            continue;
        }
        const auto next = [&](std::size_t k) -> unsigned char {
            return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : static_cast<unsigned char>(0);
        };
        if (c == 0x8E && next(1) >= 0xA1 && next(1) <= 0xDF) {
            i += 1;
        } else if (c == 0x8F && high(next(1)) && high(next(2))) {
            i += 2;
        } else if (high(c) && high(next(1))) {
            i += 1;
        } else {
            return false;
        }
    }
    return true;
}

std::string ViaUtf8(Iconv& converter, std::string_view bytes, DecodeTally& tally, std::string* incompleteTail) {
    std::string utf8;
    utf8.reserve(bytes.size() * 3 / 2);
    converter.Run(bytes, utf8, [&](std::size_t pos, bool incomplete) -> std::size_t {
        if (incomplete && incompleteTail != nullptr) {
            *incompleteTail = std::string(bytes.substr(pos));
            return 0;
        }
        utf8.append(kUtf8Replacement);
        return incomplete ? bytes.size() - pos : 1;
    });
    return Utf8ToSjisMarked(utf8, tally);
}

} // namespace

bool IsValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            ++i;
            continue;
        }
        const int n = Utf8Length(s, i);
        if (n <= 0) {
            return false;
        }
        i += static_cast<std::size_t>(n);
    }
    return true;
}

CharsetKind ClassifyCharset(std::string_view label, std::string* iconvName) {
    while (!label.empty() && (label.front() == '"' || label.front() == ' ' || label.front() == '\'')) {
        label.remove_prefix(1);
    }
    while (!label.empty() && (label.back() == '"' || label.back() == ' ' || label.back() == '\'')) {
        label.remove_suffix(1);
    }
    const std::string name = Lowered(label);
    if (name.empty() || name == "us-ascii" || name == "ascii" || name == "ansi_x3.4-1968" || name == "unknown-8bit" ||
        name == "x-unknown" || name == "unknown") {
        return CharsetKind::Unlabelled;
    }
    if (name.starts_with("iso-2022-jp") || name == "csiso2022jp" || name == "cp50220" || name == "cp50221" ||
        name == "cp50222" || name == "jis") {
        return CharsetKind::Iso2022Jp;
    }
    if (name == "shift_jis" || name == "shift-jis" || name == "sjis" || name == "x-sjis" || name == "ms_kanji" ||
        name == "csshiftjis" || name == "windows-31j" || name == "cp932" || name == "ms932" || name == "x-ms-cp932" ||
        name == "shift_jis-2004" || name == "shift_jisx0213") {
        return CharsetKind::ShiftJis;
    }
    if (name == "utf-8" || name == "utf8") {
        return CharsetKind::Utf8;
    }
    // iconv reads "//" suffixes as options: such a label names no charset.
    std::string converterName = IconvNameFor(name);
    if (name.find('/') != std::string::npos || ToUtf8Converter(converterName) == nullptr) {
        return CharsetKind::Unlabelled;
    }
    if (iconvName != nullptr) {
        *iconvName = std::move(converterName);
    }
    return CharsetKind::Other;
}

std::string Iso2022JpToSjis(std::string_view in, DecodeTally& tally) {
    static const JisSquare square;
    enum class Mode { Ascii, Kanji, Kana, Unmapped };
    // A byte becomes at most the two bytes of the mark.
    std::string out(in.size() * 2, '\0');
    char* o = out.data();
    const auto mark = [&] {
        *o++ = kGetaMark[0];
        *o++ = kGetaMark[1];
        ++tally.replaced;
    };
    Mode mode = Mode::Ascii;
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        const auto c = static_cast<unsigned char>(in[i]);
        if (mode == Mode::Ascii && c != 0x1B) {
            // Everything up to the next escape sequence goes as it came.
            const auto* escape = static_cast<const char*>(std::memchr(in.data() + i, 0x1B, n - i));
            const std::size_t end = escape != nullptr ? static_cast<std::size_t>(escape - in.data()) : n;
            std::memcpy(o, in.data() + i, end - i);
            o += end - i;
            i = end;
            continue;
        }
        if (c == 0x1B) {
            const std::string_view seq = in.substr(i + 1, 3);
            std::size_t length = 0;
            if (seq.starts_with("$B") || seq.starts_with("$@")) {
                mode = Mode::Kanji;
                length = 3;
            } else if (seq == "$(B" || seq == "$(Q" || seq == "$(O") {
                mode = Mode::Kanji;
                length = 4;
            } else if (seq == "$(D") {
                mode = Mode::Unmapped;
                length = 4;
            } else if (seq.starts_with("(B") || seq.starts_with("(J") || seq.starts_with("(H")) {
                mode = Mode::Ascii;
                length = 3;
            } else if (seq.starts_with("(I")) {
                mode = Mode::Kana;
                length = 3;
            }
            if (length != 0) {
                i += length;
                continue;
            }
            *o++ = static_cast<char>(c); // not ours: kept as it came
            ++i;
            continue;
        }
        if (mode == Mode::Ascii || c < 0x21 || c >= 0x7F) {
            if (mode != Mode::Ascii && (c < 0x21 || c == 0x7F)) {
                // A control byte (a line end) ends a run that was left open.
                tally.jisError = true;
                mode = Mode::Ascii;
            } else if (mode != Mode::Ascii) {
                mark(); // an 8-bit byte inside a run
                ++i;
                continue;
            }
            *o++ = static_cast<char>(c);
            ++i;
            continue;
        }
        if (mode == Mode::Kana) {
            if (c <= 0x5F) {
                *o++ = static_cast<char>(c + 0x80);
            } else {
                mark();
            }
            ++i;
            continue;
        }
        // A double-byte run: c is 0x21..0x7E.
        if (i + 1 >= n) {
            tally.jisError = true; // the text ends inside the run; the odd byte goes
            ++i;
            continue;
        }
        const auto d = static_cast<unsigned char>(in[i + 1]);
        if (d == 0x1B) {
            ++i; // an odd byte before the escape sequence is dropped
            continue;
        }
        if (d < 0x21 || d > 0x7E) {
            mark();
            i += d < 0x21 ? 1 : 2;
            continue;
        }
        if (mode == Mode::Unmapped) {
            mark();
        } else {
            const unsigned sjis = square.sjis[(c - 0x21u) * 94 + (d - 0x21u)];
            *o++ = static_cast<char>(sjis >> 8);
            *o++ = static_cast<char>(sjis & 0xFF);
        }
        i += 2;
    }
    if (mode == Mode::Kanji || mode == Mode::Kana || mode == Mode::Unmapped) {
        tally.jisError = true;
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

std::string Utf8ToSjisMarked(std::string_view utf8, DecodeTally& tally, std::string* incompleteTail) {
    const Cp932Table& table = Cp932();
    // Each character becomes at most as many bytes as it takes in UTF-8,
    // except an invalid byte, which becomes the two bytes of the mark.
    std::string out(utf8.size() * 2, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    const auto mark = [&] {
        *o++ = 0x81;
        *o++ = 0xAC;
        ++tally.replaced;
    };
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            *o++ = p[i++];
            continue;
        }
        // The common case first: a whole three-byte character (U+0800..U+FFFF
        // without surrogates), which most Japanese text is made of.
        if (i + 2 < n && p[i] >= 0xE1 && p[i] <= 0xEF && p[i] != 0xED && (p[i + 1] & 0xC0) == 0x80 &&
            (p[i + 2] & 0xC0) == 0x80) {
            const unsigned sjis = table.sjis[((p[i] & 0x0Fu) << 12) | ((p[i + 1] & 0x3Fu) << 6) | (p[i + 2] & 0x3Fu)];
            i += 3;
            if (sjis > 0xFF && sjis < Cp932Table::kDrop) {
                *o++ = static_cast<unsigned char>(sjis >> 8);
                *o++ = static_cast<unsigned char>(sjis & 0xFF);
            } else if (sjis <= 0xFF) {
                *o++ = static_cast<unsigned char>(sjis);
            } else if (sjis == Cp932Table::kNone) {
                mark();
            }
            continue;
        }
        const int length = Utf8Length(utf8, i);
        if (length < 0 && incompleteTail != nullptr) {
            *incompleteTail = std::string(utf8.substr(i));
            break;
        }
        if (length <= 0) {
            mark();
            i = length < 0 ? n : i + 1;
            continue;
        }
        unsigned cp = p[i] & (0xFFu >> (length + 1));
        for (int k = 1; k < length; ++k) {
            cp = (cp << 6) | (p[i + static_cast<std::size_t>(k)] & 0x3Fu);
        }
        i += static_cast<std::size_t>(length);
        const unsigned sjis = cp < 0x10000 ? table.sjis[cp] : Cp932Table::kNone;
        if (sjis == Cp932Table::kDrop) {
            continue;
        }
        if (sjis == Cp932Table::kNone) {
            mark();
        } else if (sjis > 0xFF) {
            *o++ = static_cast<unsigned char>(sjis >> 8);
            *o++ = static_cast<unsigned char>(sjis & 0xFF);
        } else {
            *o++ = static_cast<unsigned char>(sjis);
        }
    }
    out.resize(static_cast<std::size_t>(o - reinterpret_cast<unsigned char*>(out.data())));
    return out;
}

std::string UnlabelledToSjis(std::string_view bytes, DecodeTally& tally) {
    if (!HasEightBit(bytes)) {
        return bytes.find('\x1b') == std::string_view::npos ? std::string(bytes) : Iso2022JpToSjis(bytes, tally);
    }
    if (IsValidUtf8(bytes)) {
        return Utf8ToSjisMarked(bytes, tally);
    }
    int kana = 0;
    int doubleByte = 0;
    const bool shiftJis = ValidShiftJis(bytes, kana, doubleByte);
    // EUC-JP kana and kanji read as Shift_JIS fall mostly on half-width katakana.
    if (ValidEucJp(bytes) && (!shiftJis || kana > doubleByte)) {
        return ViaUtf8(*ToUtf8Converter("EUC-JP-MS"), bytes, tally, nullptr);
    }
    return Iso2022JpToSjis(bytes, tally);
}

std::string HeaderTextToSjis(std::string_view bytes, DecodeTally& tally) {
    if (HasEightBit(bytes) && IsValidUtf8(bytes)) {
        return Utf8ToSjisMarked(bytes, tally);
    }
    return bytes.find('\x1b') == std::string_view::npos ? std::string(bytes) : Iso2022JpToSjis(bytes, tally);
}

std::string ToSjis(std::string_view charset, std::string_view bytes, DecodeTally& tally, std::string* incompleteTail) {
    std::string iconvName;
    switch (ClassifyCharset(charset, &iconvName)) {
    case CharsetKind::Unlabelled:
        return UnlabelledToSjis(bytes, tally);
    case CharsetKind::Iso2022Jp:
        // Text labelled ISO-2022-JP that holds 8-bit bytes is mislabelled.
        return HasEightBit(bytes) ? UnlabelledToSjis(bytes, tally) : Iso2022JpToSjis(bytes, tally);
    case CharsetKind::ShiftJis:
        return bytes.find('\x1b') == std::string_view::npos ? std::string(bytes) : Iso2022JpToSjis(bytes, tally);
    case CharsetKind::Utf8:
        return Utf8ToSjisMarked(bytes, tally, incompleteTail);
    case CharsetKind::Other:
        break;
    }
    return ViaUtf8(*ToUtf8Converter(iconvName), bytes, tally, incompleteTail);
}

std::string ToUtf8(std::string_view charset, std::string_view bytes, DecodeTally& tally) {
    const CharsetKind kind = ClassifyCharset(charset);
    if ((kind == CharsetKind::Utf8 || kind == CharsetKind::Unlabelled) && IsValidUtf8(bytes)) {
        return std::string(bytes);
    }
    return SjisToUtf8(ToSjis(charset, bytes, tally));
}

} // namespace tegalo
