#include "mime/BodyDecode.h"

#include "mime/HtmlText.h"
#include "text/header_words.h"

#include <algorithm>

namespace tegalo {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x | 0x20) == (y | 0x20);
           });
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
    std::string out;
    out.reserve(content.size() / 4 * 3);
    unsigned bits = 0;
    int count = 0;
    for (const char c : content) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '=') {
            bits = 0;
            count = 0;
            continue;
        }
        const bool alphabet = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '+' ||
                              u == '/';
        if (!alphabet) {
            continue;
        }
        bits = ((bits << 6) | static_cast<unsigned>(Base64Value(u))) & 0xFFFFFF;
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
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
        if (i + 2 < content.size() && HexValue(content[i + 1]) >= 0 && HexValue(content[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(content[i + 1]) * 16 + HexValue(content[i + 2])));
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
    if (decoded || text.find('\0') != std::string::npos) {
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
