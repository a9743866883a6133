#include "mime/BodyDecode.h"

#include "mime/HtmlText.h"
#include "text/header_words.h"
#include "text/transfer_encoding.h"

#include <algorithm>
#include <array>

namespace tegalo {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return (x | 0x20) == (y | 0x20); });
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

// True when every line end is CR LF and no NUL is in the text.
bool IsCanonical(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) {
        return false;
    }
    for (std::size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', at + 1)) {
        if (at == 0 || text[at - 1] != '\r') {
            return false;
        }
    }
    for (std::size_t at = text.find('\r'); at != std::string_view::npos; at = text.find('\r', at + 1)) {
        if (at + 1 >= text.size() || text[at + 1] != '\n') {
            return false;
        }
    }
    return true;
}

// Line ends as CR LF; NUL bytes left out and counted.
std::string CanonicalText(std::string_view text, DecodeTally& tally) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out.append("\r\n");
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else if (c == '\n') {
            out.append("\r\n");
        } else if (c == '\0') {
            ++tally.replaced;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

bool Transforms(std::string_view encoding) {
    encoding = Trimmed(encoding);
    return EqualNoCase(encoding, "base64") || EqualNoCase(encoding, "quoted-printable");
}

} // namespace

std::string DecodeBase64Body(std::string_view content) {
    // 0..63 for the alphabet, 64 for "=", 65 for anything else.
    static const auto values = [] {
        std::array<unsigned char, 256> table{};
        table.fill(65);
        const std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (std::size_t i = 0; i < alphabet.size(); ++i) {
            table[static_cast<unsigned char>(alphabet[i])] = static_cast<unsigned char>(i);
        }
        table['='] = 64;
        return table;
    }();
    // Room for the runs' vector stores too.
    std::string out(content.size() / 4 * 3 + 3 + 32, '\0');
    char* o = out.data();
    unsigned bits = 0;
    int count = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(content.data());
    const std::size_t n = content.size();
    std::size_t i = 0;
    while (i < n) {
        // Whole groups of four at a time while nothing else is in the way:
        // sixteen characters at a time where they are all of the alphabet.
        if (count == 0) {
            const std::size_t run = DecodeBase64Runs(content.data() + i, n - i, o);
            i += run;
            o += run / 4 * 3;
            while (i + 4 <= n) {
                const unsigned a = values[p[i]], b = values[p[i + 1]], c = values[p[i + 2]], d = values[p[i + 3]];
                if ((a | b | c | d) >= 64) {
                    break;
                }
                const unsigned group = (a << 18) | (b << 12) | (c << 6) | d;
                *o++ = static_cast<char>(group >> 16);
                *o++ = static_cast<char>((group >> 8) & 0xFF);
                *o++ = static_cast<char>(group & 0xFF);
                i += 4;
            }
            if (i == n) {
                break;
            }
        }
        const unsigned value = values[p[i++]];
        if (value < 64) {
            bits = (bits << 6) | value;
            if (++count == 4) {
                *o++ = static_cast<char>(bits >> 16);
                *o++ = static_cast<char>((bits >> 8) & 0xFF);
                *o++ = static_cast<char>(bits & 0xFF);
                bits = 0;
                count = 0;
            }
        } else if (value == 64) {
            // Padding ends the group: what it holds is whole bytes.
            if (count == 2) {
                *o++ = static_cast<char>(bits >> 4);
            } else if (count == 3) {
                *o++ = static_cast<char>(bits >> 10);
                *o++ = static_cast<char>((bits >> 2) & 0xFF);
            }
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) {
        *o++ = static_cast<char>(bits >> 4);
    } else if (count == 3) {
        *o++ = static_cast<char>(bits >> 10);
        *o++ = static_cast<char>((bits >> 2) & 0xFF);
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

std::string DecodeQuotedPrintableBody(std::string_view content) {
    std::string out;
    out.reserve(content.size());
    for (std::size_t i = 0; i < content.size(); ++i) {
        const char c = content[i];
        if (c != '=') {
            out.push_back(c);
            continue;
        }
        if (i + 2 < content.size() && HexDigitValue(content[i + 1]) >= 0 && HexDigitValue(content[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexDigitValue(content[i + 1]) * 16 + HexDigitValue(content[i + 2])));
            i += 2;
            continue;
        }
        // A soft line break: "=", perhaps blanks, then the line end or the end.
        std::size_t j = i + 1;
        while (j < content.size() && (content[j] == ' ' || content[j] == '\t')) {
            ++j;
        }
        if (j == content.size()) {
            i = j;
            continue;
        }
        if (content[j] == '\r' || content[j] == '\n') {
            if (content[j] == '\r' && j + 1 < content.size() && content[j + 1] == '\n') {
                ++j;
            }
            i = j;
            continue;
        }
        out.push_back(c);
    }
    return out;
}

std::string DecodeTransfer(std::string_view content, std::string_view encoding) {
    encoding = Trimmed(encoding);
    if (EqualNoCase(encoding, "base64")) {
        return DecodeBase64Body(content);
    }
    if (EqualNoCase(encoding, "quoted-printable")) {
        return DecodeQuotedPrintableBody(content);
    }
    return std::string(content);
}

std::string TextBodyToSjis(std::string_view content, std::string_view charset, std::string_view transferEncoding,
                           DecodeTally& tally) {
    const bool decoded = Transforms(transferEncoding);
    std::string bytes = DecodeTransfer(content, transferEncoding);
    const CharsetKind kind = ClassifyCharset(charset);
    if (kind == CharsetKind::Iso2022Jp || kind == CharsetKind::ShiftJis || kind == CharsetKind::Unlabelled) {
        if (bytes.find("=?") != std::string::npos) {
            bytes = DecodeHeaderWords(bytes);
        }
    }
    std::string text = ToSjis(charset, bytes, tally);
    if ((decoded || text.find('\0') != std::string::npos) && !IsCanonical(text)) {
        return CanonicalText(text, tally);
    }
    return text;
}

std::string HtmlBodyToSjis(std::string_view content, std::string_view charset, std::string_view transferEncoding,
                           DecodeTally& tally) {
    const std::string bytes = DecodeTransfer(content, transferEncoding);
    std::string label(charset);
    if (ClassifyCharset(label) == CharsetKind::Unlabelled) {
        if (std::string meta = HtmlMetaCharset(bytes); !meta.empty()) {
            label = std::move(meta);
        }
    }
    return Utf8ToSjisMarked(HtmlToText(ToUtf8(label, bytes, tally)), tally);
}

} // namespace tegalo
