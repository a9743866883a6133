#include "mime/WireEncode.h"

#include "text/jis.h"
#include "text/transfer_encoding.h"
#include "text/unicode.h"

#include <algorithm>

namespace tegalo {

namespace {

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";
constexpr std::string_view kJisOpen = "\x1b$B";
constexpr std::string_view kJisClose = "\x1b(B";

std::size_t Base64Length(std::size_t bytes) {
    return (bytes + 2) / 3 * 4;
}

bool IsDoubleByteLead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// JIS X 0208 rows that Japanese mail readers know, with NEC's row 13.
bool KnownJisRow(unsigned jis) {
    const unsigned row = (jis >> 8) - 0x20;
    return (row >= 1 && row <= 8) || row == 13 || (row >= 16 && row <= 84);
}

std::size_t Utf8Length(unsigned char c) {
    return c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool ValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t n = 0;
        unsigned cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n > s.size()) {
            return false;
        }
        for (std::size_t k = 1; k < n; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += n;
    }
    return true;
}

bool IsAtomChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

bool PrintableAscii(std::string_view s) {
    for (const char c : s) {
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

std::string Word(WireCharset charset, std::string_view raw) {
    std::string word = charset == WireCharset::iso2022jp ? "=?ISO-2022-JP?B?" : "=?UTF-8?B?";
    word.append(EncodeBase64(raw));
    word.append("?=");
    return word;
}

} // namespace

bool FitsIso2022Jp(std::string_view sjis) {
    bool doubleBytes = false;
    for (std::size_t i = 0; i < sjis.size(); ++i) {
        const auto c = static_cast<unsigned char>(sjis[i]);
        if (c == 0x1B || c == 0x0E || c == 0x0F) {
            return false;
        }
        if (c < 0x80) {
            continue;
        }
        if (!IsDoubleByteLead(c) || i + 1 >= sjis.size()) {
            return false; // half-width katakana, or a byte that is no character
        }
        const unsigned pair = (static_cast<unsigned>(c) << 8) | static_cast<unsigned char>(sjis[i + 1]);
        const unsigned jis = SjisCharToJis(pair);
        if (jis == 0 || !KnownJisRow(jis)) {
            return false;
        }
        doubleBytes = true;
        ++i;
    }
    // Unassigned cells of the known rows have no character at all.
    return !doubleBytes || SjisToUtf8(sjis).find(kReplacementUtf8) == std::string::npos;
}

std::string_view CharsetName(WireCharset charset) {
    return charset == WireCharset::iso2022jp ? "ISO-2022-JP" : "UTF-8";
}

std::string ToWireCharset(std::string_view sjis, WireCharset charset) {
    return charset == WireCharset::iso2022jp ? SjisToJis(sjis) : SjisToUtf8(sjis);
}

std::vector<std::string> EncodedWords(std::string_view sjis, WireCharset charset, std::size_t firstRoom) {
    const std::size_t overhead = charset == WireCharset::iso2022jp ? 18 : 12;
    std::vector<std::string> words;
    std::size_t room = std::max<std::size_t>(std::min(firstRoom, kMaxEncodedWord), 20);
    const auto fits = [&](std::size_t rawBytes) { return overhead + Base64Length(rawBytes) <= room; };

    if (charset == WireCharset::utf8) {
        const std::string utf8 = SjisToUtf8(sjis);
        std::size_t start = 0;
        std::size_t i = 0;
        while (i < utf8.size()) {
            const std::size_t n = std::min(Utf8Length(static_cast<unsigned char>(utf8[i])), utf8.size() - i);
            if (i > start && !fits(i + n - start)) {
                words.push_back(Word(charset, std::string_view(utf8).substr(start, i - start)));
                room = kMaxEncodedWord;
                start = i;
            }
            i += n;
        }
        if (i > start || words.empty()) {
            words.push_back(Word(charset, std::string_view(utf8).substr(start, i - start)));
        }
        return words;
    }

    // ISO-2022-JP: every word starts in ASCII and returns to it.
    std::string raw;
    bool inJis = false;
    const auto closed = [&] { return raw.size() + (inJis ? kJisClose.size() : 0); };
    const auto flush = [&] {
        if (inJis) {
            raw.append(kJisClose);
            inJis = false;
        }
        words.push_back(Word(charset, raw));
        raw.clear();
        room = kMaxEncodedWord;
    };
    for (std::size_t i = 0; i < sjis.size();) {
        const auto c = static_cast<unsigned char>(sjis[i]);
        std::string piece;
        bool doubleByte = false;
        if (IsDoubleByteLead(c) && i + 1 < sjis.size()) {
            const unsigned jis =
                SjisCharToJis((static_cast<unsigned>(c) << 8) | static_cast<unsigned char>(sjis[i + 1]));
            piece.push_back(static_cast<char>(jis >> 8));
            piece.push_back(static_cast<char>(jis & 0xFF));
            doubleByte = true;
            i += 2;
        } else {
            piece.push_back(static_cast<char>(c));
            ++i;
        }
        const std::size_t switchBytes = doubleByte != inJis ? 3 : 0;
        const std::size_t after = raw.size() + switchBytes + piece.size() + (doubleByte ? kJisClose.size() : 0);
        if (!raw.empty() && !fits(after)) {
            flush();
        }
        if (doubleByte && !inJis) {
            raw.append(kJisOpen);
            inJis = true;
        } else if (!doubleByte && inJis) {
            raw.append(kJisClose);
            inJis = false;
        }
        raw.append(piece);
    }
    if (closed() > 0 || words.empty()) {
        flush();
    }
    return words;
}

std::string FoldedField(std::string_view name, const std::vector<std::string>& tokens) {
    std::string field(name);
    field.push_back(':');
    std::size_t lineLength = field.size();
    bool tokenOnLine = false;
    for (const std::string& token : tokens) {
        if (tokenOnLine && !token.empty() && lineLength + 1 + token.size() > kFoldAt) {
            field.append("\r\n");
            lineLength = 0;
        }
        field.push_back(' ');
        field.append(token);
        lineLength += 1 + token.size();
        tokenOnLine = true;
    }
    field.append("\r\n");
    return field;
}

std::string UnstructuredField(std::string_view name, std::string_view sjis, WireCharset charset) {
    std::vector<std::string> tokens;
    // A word too long for a line would make the line too long: such a text
    // goes out as encoded words, which split anywhere.
    std::size_t longestWord = 0;
    for (std::size_t start = 0; start <= sjis.size();) {
        const std::size_t blank = std::min(sjis.find(' ', start), sjis.size());
        longestWord = std::max(longestWord, blank - start);
        start = blank + 1;
    }
    if (PrintableAscii(sjis) && sjis.find("=?") == std::string_view::npos && longestWord < kFoldAt - name.size() - 2) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t blank = sjis.find(' ', start);
            tokens.emplace_back(sjis.substr(start, blank == std::string_view::npos ? blank : blank - start));
            if (blank == std::string_view::npos) {
                break;
            }
            start = blank + 1;
        }
        return FoldedField(name, tokens);
    }
    return FoldedField(name, EncodedWords(sjis, charset, kFoldAt - name.size() - 2));
}

std::vector<std::string> DisplayNameTokens(std::string_view sjis, WireCharset charset) {
    if (!PrintableAscii(sjis)) {
        return EncodedWords(sjis, charset);
    }
    bool atoms = !sjis.empty() && sjis.find("=?") == std::string_view::npos;
    for (const char c : sjis) {
        atoms = atoms && (IsAtomChar(c) || c == ' ');
    }
    std::vector<std::string> tokens;
    if (atoms) {
        std::size_t start = 0;
        while (start < sjis.size()) {
            const std::size_t blank = sjis.find(' ', start);
            const std::string_view atom = sjis.substr(start, blank == std::string_view::npos ? blank : blank - start);
            if (!atom.empty()) {
                tokens.emplace_back(atom);
            }
            if (blank == std::string_view::npos) {
                break;
            }
            start = blank + 1;
        }
        return tokens;
    }
    std::string quoted = "\"";
    for (const char c : sjis) {
        if (c == '"' || c == '\\') {
            quoted.push_back('\\');
        }
        quoted.push_back(c);
    }
    quoted.push_back('"');
    tokens.push_back(std::move(quoted));
    return tokens;
}

std::vector<std::string> Rfc2231Parameter(std::string_view attribute, std::string_view utf8) {
    bool plain = !utf8.empty();
    for (const char c : utf8) {
        plain = plain && (IsAtomChar(c) || c == '.' || c == ' ') && c != '%' && c != '\'' && c != '*';
    }
    if (plain && utf8.size() + attribute.size() + 4 <= kFoldAt) {
        return {std::string(attribute) + "=\"" + std::string(utf8) + "\""};
    }
    // attr-char of RFC 2231: everything else is written as %XX.
    static constexpr char kHex[] = "0123456789ABCDEF";
    // One piece per character, so that no piece of a split value ends in
    // the middle of a UTF-8 sequence (readers decode each piece alone).
    std::vector<std::string> pieces;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        const auto u = static_cast<unsigned char>(c);
        const bool attrChar = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                              std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos;
        if (attrChar) {
            pieces.emplace_back(1, c);
            continue;
        }
        const bool continuation = (u & 0xC0) == 0x80;
        if (!continuation || pieces.empty() || pieces.back().front() != '%') {
            pieces.emplace_back();
        }
        pieces.back() += {'%', kHex[u >> 4], kHex[u & 0x0F]};
    }
    constexpr std::string_view kCharsetPrefix = "UTF-8''";
    std::string whole;
    for (const std::string& p : pieces) {
        whole.append(p);
    }
    // A parameter line is written as a blank, the parameter and ";".
    if (1 + attribute.size() + 2 + kCharsetPrefix.size() + whole.size() + 1 <= kFoldAt) {
        return {std::string(attribute) + "*=" + std::string(kCharsetPrefix) + whole};
    }
    std::vector<std::string> params;
    std::string value(kCharsetPrefix);
    const auto start = [&](std::size_t n) { return std::string(attribute) + "*" + std::to_string(n) + "*="; };
    for (const std::string& p : pieces) {
        if (1 + start(params.size()).size() + value.size() + p.size() + 1 > kFoldAt) {
            params.push_back(start(params.size()) + value);
            value.clear();
        }
        value.append(p);
    }
    params.push_back(start(params.size()) + value);
    return params;
}

std::string EncodeQuotedPrintableText(std::string_view data) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    constexpr std::size_t kMaxLine = 76;
    std::string out;
    out.reserve(data.size() + data.size() / 4 + 16);
    std::size_t lineLength = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') {
            out.append("\r\n");
            lineLength = 0;
            ++i;
            continue;
        }
        const auto u = static_cast<unsigned char>(c);
        const bool lineEndNext =
            i + 1 == data.size() || (data[i + 1] == '\r' && i + 2 < data.size() && data[i + 2] == '\n');
        const bool literal = (u >= 33 && u <= 126 && c != '=') || ((c == ' ' || c == '\t') && !lineEndNext);
        std::string token;
        if (literal) {
            token.push_back(c);
        } else {
            token = {'=', kHex[u >> 4], kHex[u & 0x0F]};
        }
        // The last token of a line may take the line to 76; any other leaves
        // room for the "=" of a soft break.
        const std::size_t limit = lineEndNext ? kMaxLine : kMaxLine - 1;
        if (lineLength + token.size() > limit) {
            out.append("=\r\n");
            lineLength = 0;
        }
        out.append(token);
        lineLength += token.size();
    }
    return out;
}

std::string_view DetectTextCharset(std::string_view bytes) {
    bool ascii = true;
    for (const char c : bytes) {
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    if (ascii) {
        const bool jis =
            bytes.find(kJisOpen) != std::string_view::npos || bytes.find("\x1b$@") != std::string_view::npos;
        return jis ? "ISO-2022-JP" : "US-ASCII";
    }
    if (ValidUtf8(bytes)) {
        return "UTF-8";
    }
    if (SjisToUtf8(bytes).find(kReplacementUtf8) == std::string::npos) {
        return "Shift_JIS";
    }
    return "";
}

std::string DecodeBase64Text(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    unsigned buffer = 0;
    int bits = 0;
    for (const char c : text) {
        int v = -1;
        if (c >= 'A' && c <= 'Z') {
            v = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            v = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            v = c - '0' + 52;
        } else if (c == '+') {
            v = 62;
        } else if (c == '/') {
            v = 63;
        } else if (c == '=') {
            break;
        }
        if (v < 0) {
            continue;
        }
        buffer = (buffer << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return out;
}

bool LinesWithin(std::string_view text, std::size_t limit) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) {
            lf = text.size();
        }
        std::size_t length = lf - start;
        if (length > 0 && lf < text.size() && text[lf - 1] == '\r') {
            --length;
        }
        if (length > limit) {
            return false;
        }
        start = lf + 1;
    }
    return true;
}

} // namespace tegalo
