#include "mime/HeaderDecode.h"

#include "text/header_words.h"
#include "text/transfer_encoding.h"

#include <algorithm>
#include <optional>

namespace tegalo {
namespace {

constexpr std::size_t kMaxCharsetName = 64;
constexpr int kMaxSections = 100;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsSpace(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

struct EncodedWord {
    std::size_t begin;   // at "=?"
    std::size_t end;     // after "?="
    std::string charset; // lower case, without an RFC 2231 language
    char encoding;       // 'B' or 'Q'
    std::string_view text;
};

// The first well-formed encoded word at or after `from`:
// "=?" charset "?" B|Q "?" text "?=", the text without "?" or line ends.
std::optional<EncodedWord> FindWord(std::string_view s, std::size_t from) {
    for (std::size_t at = s.find("=?", from); at != std::string_view::npos; at = s.find("=?", at + 1)) {
        const std::size_t charsetEnd = s.find('?', at + 2);
        if (charsetEnd == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view charset = s.substr(at + 2, charsetEnd - at - 2);
        if (charset.empty() || charset.size() > kMaxCharsetName ||
            std::any_of(charset.begin(), charset.end(), [](char c) { return IsSpace(c) || c == '='; }) ||
            charsetEnd + 2 >= s.size() || s[charsetEnd + 2] != '?') {
            continue;
        }
        const char encoding = static_cast<char>(s[charsetEnd + 1] & ~0x20);
        if (encoding != 'B' && encoding != 'Q') {
            continue;
        }
        const std::size_t textStart = charsetEnd + 3;
        const std::size_t textEnd = s.find('?', textStart);
        if (textEnd == std::string_view::npos || textEnd + 1 >= s.size() || s[textEnd + 1] != '=') {
            continue;
        }
        const std::string_view text = s.substr(textStart, textEnd - textStart);
        if (text.find_first_of("\r\n") != std::string_view::npos) {
            continue;
        }
        return EncodedWord{at, textEnd + 2, Lowered(charset.substr(0, charset.find('*'))), encoding, text};
    }
    return std::nullopt;
}

// Decoded text may not break the header's lines.
void BlankOutLineBreaks(std::string& s) {
    for (char& c : s) {
        if (c == '\r' || c == '\n' || c == '\0') {
            c = ' ';
        }
    }
}

void AppendWithoutLineEnds(std::string& out, std::string_view s) {
    for (const char c : s) {
        if (c != '\r' && c != '\n') {
            out.push_back(c);
        }
    }
}

std::string PercentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 && HexDigitValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

const MimeParam* FindParam(const std::vector<MimeParam>& params, std::string_view name) {
    for (const MimeParam& param : params) {
        if (param.name == name) {
            return &param;
        }
    }
    return nullptr;
}

} // namespace

std::optional<std::string_view> FindRawField(std::string_view block, std::string_view name) {
    std::size_t pos = 0;
    while (pos <= block.size()) {
        const std::string_view line = block.substr(pos);
        if (line.size() > name.size() && line[name.size()] == ':' &&
            Lowered(line.substr(0, name.size())) == Lowered(name)) {
            const std::size_t start = pos + name.size() + 1;
            std::size_t end = block.find("\r\n", start);
            while (end != std::string_view::npos && end + 2 < block.size() && IsBlank(block[end + 2])) {
                end = block.find("\r\n", end + 2);
            }
            return block.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        }
        const std::size_t next = block.find("\r\n", pos);
        if (next == std::string_view::npos) {
            break;
        }
        pos = next + 2;
    }
    return std::nullopt;
}

std::string DecodeWordText(std::string_view text, char encoding) {
    std::string out;
    out.reserve(text.size());
    if (encoding == 'Q' || encoding == 'q') {
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '_') {
                out.push_back(' ');
            } else if (text[i] == '=' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
                       HexDigitValue(text[i + 2]) >= 0) {
                out.push_back(static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2])));
                i += 2;
            } else {
                out.push_back(text[i]);
            }
        }
        return out;
    }
    unsigned bits = 0;
    int count = 0;
    for (const char c : text) {
        if (c == '=') {
            break;
        }
        const auto u = static_cast<unsigned char>(c);
        const bool alphabet =
            (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '+' || u == '/';
        if (!alphabet) {
            continue;
        }
        bits = (bits << 6) | static_cast<unsigned>(Base64Value(u));
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

DecodedValue DecodeFieldValue(std::string_view raw, DecodeTally& tally) {
    DecodedValue value;
    std::string carry; // bytes of a character the last word left unfinished
    std::string carryCharset;
    const auto flushCarry = [&] {
        if (!carry.empty()) {
            value.folded.append(kGetaMark);
            value.unfolded.append(kGetaMark);
            ++tally.replaced;
            carry.clear();
        }
    };
    std::size_t pos = 0;
    bool afterWord = false;
    for (;;) {
        const std::optional<EncodedWord> word = FindWord(raw, pos);
        const std::string_view between = raw.substr(pos, (word ? word->begin : raw.size()) - pos);
        const bool gap = afterWord && word && std::all_of(between.begin(), between.end(), IsSpace);
        if (gap) {
            // Between two encoded words: only a fold stays, in the header block.
            if (between.find('\n') != std::string_view::npos) {
                value.folded.append(between);
            }
            if (carryCharset != word->charset) {
                flushCarry();
            }
        } else {
            flushCarry();
            const std::string text = HeaderTextToSjis(between, tally);
            value.folded.append(text);
            AppendWithoutLineEnds(value.unfolded, text);
        }
        if (!word) {
            break;
        }
        std::string bytes = std::move(carry);
        carry.clear();
        bytes += DecodeWordText(word->text, word->encoding);
        DecodeTally wordTally; // a run left open ends with its word: no error
        std::string text = ToSjis(word->charset, bytes, wordTally, &carry);
        tally.replaced += wordTally.replaced;
        carryCharset = word->charset;
        BlankOutLineBreaks(text);
        value.folded.append(text);
        value.unfolded.append(text);
        pos = word->end;
        afterWord = true;
    }
    flushCarry();
    return value;
}

std::string DecodeHeaderBlock(std::string_view block, DecodeTally& tally) {
    std::string out;
    out.reserve(block.size());
    std::size_t pos = 0;
    while (pos < block.size() || (pos == 0 && block.empty())) {
        // One field: its line and the lines that continue it.
        std::size_t end = block.find("\r\n", pos);
        while (end != std::string_view::npos && end + 2 < block.size() && IsBlank(block[end + 2])) {
            end = block.find("\r\n", end + 2);
        }
        const std::string_view field =
            block.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        const std::size_t firstLineEnd = field.find("\r\n");
        const std::size_t colon = field.substr(0, firstLineEnd).find(':');
        if (colon != std::string_view::npos && !field.empty() && !IsBlank(field.front())) {
            out.append(field.substr(0, colon + 1));
            out.append(DecodeFieldValue(field.substr(colon + 1), tally).folded);
        } else {
            out.append(DecodeFieldValue(field, tally).folded);
        }
        if (end == std::string_view::npos) {
            break;
        }
        out.append("\r\n");
        pos = end + 2;
        if (pos == block.size()) {
            break;
        }
    }
    return out;
}

std::vector<MimeParam> ParseParameters(std::string_view folded) {
    std::string unfolded;
    AppendWithoutLineEnds(unfolded, folded);
    const std::string_view value = unfolded;
    std::vector<MimeParam> params;
    std::size_t i = value.find(';');
    while (i != std::string_view::npos && i < value.size()) {
        ++i; // past the ";"
        while (i < value.size() && IsBlank(value[i])) {
            ++i;
        }
        const std::size_t nameStart = i;
        while (i < value.size() && value[i] != '=' && value[i] != ';') {
            ++i;
        }
        const std::string_view name = Trimmed(value.substr(nameStart, i - nameStart));
        if (i >= value.size() || value[i] == ';') {
            continue;
        }
        ++i; // past the "="
        while (i < value.size() && IsBlank(value[i])) {
            ++i;
        }
        std::string parameter;
        if (i < value.size() && value[i] == '"') {
            for (++i; i < value.size() && value[i] != '"'; ++i) {
                if (value[i] == '\\' && i + 1 < value.size()) {
                    ++i;
                }
                parameter.push_back(value[i]);
            }
            if (i < value.size()) {
                ++i; // past the closing quotation mark
            }
        } else {
            while (i < value.size() && value[i] != ';') {
                parameter.push_back(value[i++]);
            }
            parameter = std::string(Trimmed(parameter));
        }
        params.push_back({Lowered(name), std::move(parameter)});
        i = value.find(';', i);
    }
    return params;
}

std::string ParameterValue(const std::vector<MimeParam>& params, std::string_view name) {
    const MimeParam* param = FindParam(params, name);
    return param != nullptr ? param->value : std::string();
}

std::string DecodedParameter(const std::vector<MimeParam>& params, std::string_view name, DecodeTally& tally) {
    const std::string base(name);
    std::string charset;
    std::string bytes;
    bool extended = false;
    bool found = false;
    const auto take = [&](std::string_view value, bool percent, bool first) {
        found = true;
        if (percent && first) {
            const std::size_t quote1 = value.find('\'');
            const std::size_t quote2 = quote1 == std::string_view::npos ? quote1 : value.find('\'', quote1 + 1);
            if (quote2 != std::string_view::npos) {
                charset = std::string(value.substr(0, quote1));
                value.remove_prefix(quote2 + 1);
            }
        }
        extended = extended || percent;
        bytes += percent ? PercentDecoded(value) : std::string(value);
    };
    if (const MimeParam* whole = FindParam(params, base + "*")) {
        take(whole->value, true, true);
    } else {
        for (int section = 0; section < kMaxSections; ++section) {
            const std::string sectionName = base + "*" + std::to_string(section);
            if (const MimeParam* percent = FindParam(params, sectionName + "*")) {
                take(percent->value, true, section == 0);
            } else if (const MimeParam* plain = FindParam(params, sectionName)) {
                take(plain->value, false, section == 0);
            } else {
                break;
            }
        }
    }
    if (!found) {
        const MimeParam* plain = FindParam(params, base);
        if (plain == nullptr) {
            return {};
        }
        bytes = plain->value;
    }
    std::string decoded = extended ? ToSjis(charset, bytes, tally) : DecodeFieldValue(bytes, tally).unfolded;
    BlankOutLineBreaks(decoded);
    return decoded;
}

} // namespace tegalo
