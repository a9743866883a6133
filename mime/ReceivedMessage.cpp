#include "mime/ReceivedMessage.h"

#include "text/header_words.h"
#include "text/jis.h"
#include "text/unicode.h"

#include <algorithm>

namespace tegalo {
namespace {

using namespace tegalo::literals;

constexpr std::string_view kBlankLine = "\r\n\r\n";
constexpr int kMaxNesting = 8;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), Lower);
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return Lower(x) == Lower(y);
           });
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

std::size_t FindNoCase(std::string_view s, std::string_view needle) {
    if (needle.size() > s.size()) {
        return std::string_view::npos;
    }
    for (std::size_t i = 0; i + needle.size() <= s.size(); ++i) {
        if (EqualNoCase(s.substr(i, needle.size()), needle)) {
            return i;
        }
    }
    return std::string_view::npos;
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// Offset just after "<name>" (the name given with its colon) in the first
// header line that starts with it, case ignored; npos when there is none.
// Continuation lines start with a blank and so never match.
std::size_t FindField(std::string_view block, std::string_view nameWithColon) {
    std::size_t pos = 0;
    while (true) {
        if (StartsWithNoCase(block.substr(pos), nameWithColon)) {
            return pos + nameWithColon.size();
        }
        const std::size_t next = block.find(kCrLf, pos);
        if (next == std::string_view::npos) {
            return std::string_view::npos;
        }
        pos = next + 2;
    }
}

std::string_view ToLineEnd(std::string_view block, std::size_t pos) {
    const std::size_t end = block.find(kCrLf, pos);
    return block.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
}

// The field text from `pos` to the first line end that is not followed by a
// blank; each CR LF and the one blank after it are removed.
std::string Unfolded(std::string_view block, std::size_t pos) {
    std::string out;
    while (true) {
        const std::size_t end = block.find(kCrLf, pos);
        if (end == std::string_view::npos) {
            out.append(block.substr(pos));
            return out;
        }
        out.append(block.substr(pos, end - pos));
        if (end + 2 >= block.size() || !IsBlank(block[end + 2])) {
            return out;
        }
        pos = end + 3;
    }
}

// Every CR LF that is followed by a blank is removed with that blank.
std::string UnfoldAll(std::string_view block) {
    std::string out;
    out.reserve(block.size());
    std::size_t pos = 0;
    while (true) {
        const std::size_t end = block.find(kCrLf, pos);
        if (end == std::string_view::npos) {
            out.append(block.substr(pos));
            return out;
        }
        if (end + 2 < block.size() && IsBlank(block[end + 2])) {
            out.append(block.substr(pos, end - pos));
            pos = end + 3;
        } else {
            out.append(block.substr(pos, end + 2 - pos));
            pos = end + 2;
        }
    }
}

// The unfolded value of a field, leading blanks skipped; empty when absent.
std::string FieldValue(std::string_view block, std::string_view nameWithColon) {
    const std::size_t pos = FindField(block, nameWithColon);
    if (pos == std::string_view::npos) {
        return {};
    }
    return std::string(Trimmed(Unfolded(block, pos)));
}

// "type/subtype" of a Content-Type value, lower case.
std::string MediaType(std::string_view value) {
    return Lowered(Trimmed(value.substr(0, value.find(';'))));
}

struct Param {
    std::string name; // lower case
    std::string value;
};

// The parameters of a Content-Type or Content-Disposition value (RFC 2045):
// "; name=value" with the value quoted or not.
std::vector<Param> Parameters(std::string_view value) {
    std::vector<Param> params;
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
            while (i < value.size() && value[i] != ';' && !IsBlank(value[i])) {
                parameter.push_back(value[i++]);
            }
        }
        params.push_back({Lowered(name), std::move(parameter)});
        i = value.find(';', i);
    }
    return params;
}

// The first parameter of that name (lower case); empty when absent.
std::string Parameter(std::string_view value, std::string_view attribute) {
    for (Param& param : Parameters(value)) {
        if (param.name == attribute) {
            return std::move(param.value);
        }
    }
    return {};
}

std::string ToSjis(std::string_view jis, bool& jisError) {
    bool error = false;
    std::string out = JisToSjis(jis, &error);
    jisError = jisError || error;
    return out;
}

std::string DecodeToSjis(std::string_view text, bool& jisError) {
    return ToSjis(DecodeHeaderWords(text), jisError);
}

enum class Delimiter { None, Open, Close };

// A delimiter line is "--" + boundary followed by blanks only (transport
// padding), or by "--" for the last one.
Delimiter DelimiterKind(std::string_view line, std::string_view boundary) {
    if (line.size() < boundary.size() + 2 || line[0] != '-' || line[1] != '-' ||
        line.substr(2, boundary.size()) != boundary) {
        return Delimiter::None;
    }
    const std::string_view rest = line.substr(2 + boundary.size());
    if (rest.substr(0, 2) == "--") {
        return Delimiter::Close;
    }
    return Trimmed(rest).empty() ? Delimiter::Open : Delimiter::None;
}

// The body parts between the delimiter lines, each without the CR LF that
// belongs to the delimiter after it. The preamble and the epilogue are left
// out; a body whose last delimiter is missing ends its last part at the end.
std::vector<std::string_view> BodyParts(std::string_view body, std::string_view boundary) {
    std::vector<std::string_view> parts;
    constexpr std::size_t kNone = std::string_view::npos;
    std::size_t partStart = kNone;
    std::size_t pos = 0;
    while (pos <= body.size()) {
        const std::size_t lineEnd = body.find(kCrLf, pos);
        const std::string_view line = body.substr(pos, lineEnd == kNone ? kNone : lineEnd - pos);
        const Delimiter kind = DelimiterKind(line, boundary);
        if (kind != Delimiter::None) {
            if (partStart != kNone) {
                const std::size_t end = pos >= partStart + 2 ? pos - 2 : partStart;
                parts.push_back(body.substr(partStart, end - partStart));
            }
            if (kind == Delimiter::Close) {
                return parts;
            }
            partStart = lineEnd == kNone ? body.size() : lineEnd + 2;
        }
        if (lineEnd == kNone) {
            break;
        }
        pos = lineEnd + 2;
    }
    if (partStart != kNone) {
        parts.push_back(body.substr(partStart));
    }
    return parts;
}

struct Entity {
    std::string_view headers;
    std::string_view content;
};

Entity SplitEntity(std::string_view part) {
    if (part.substr(0, 2) == kCrLf) {
        return {{}, part.substr(2)};
    }
    const std::size_t blank = part.find(kBlankLine);
    if (blank == std::string_view::npos) {
        return {part, {}};
    }
    return {part.substr(0, blank), part.substr(blank + 4)};
}

struct Leaf {
    Entity entity;
    std::string type; // media type, lower case
    bool isText;      // text/plain that is not marked as an attachment
};

// Walks a multipart body depth first and appends its leaves in order.
// Returns false when the body holds no delimiter line of `boundary`.
bool CollectLeaves(std::string_view body, std::string_view boundary, bool digest, int depth,
                   std::vector<Leaf>& leaves) {
    const std::vector<std::string_view> parts = BodyParts(body, boundary);
    if (parts.empty()) {
        return false;
    }
    for (const std::string_view part : parts) {
        // Nothing but line ends between two delimiter lines: no headers, no
        // content. Tegalo's own messages have such a part between any two
        // attachments; it is no attachment.
        if (part.find_first_not_of(" \t\r\n") == std::string_view::npos) {
            continue;
        }
        const Entity entity = SplitEntity(part);
        const std::string contentType = FieldValue(entity.headers, "Content-Type:");
        std::string type = MediaType(contentType);
        if (type.empty()) {
            type = digest ? "message/rfc822" : "text/plain";
        }
        if (type.starts_with("multipart/") && depth < kMaxNesting) {
            const std::string inner = Parameter(contentType, "boundary");
            if (!inner.empty() &&
                CollectLeaves(entity.content, inner, type == "multipart/digest", depth + 1, leaves)) {
                continue;
            }
        }
        const std::string disposition = FieldValue(entity.headers, "Content-Disposition:");
        const bool attachment = MediaType(disposition) == "attachment";
        leaves.push_back({entity, type, type == "text/plain" && !attachment});
    }
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = Lower(c);
    return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

std::string PercentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// Text in a charset named by an RFC 2231 parameter, as Shift_JIS. Charsets
// other than ISO-2022-JP, Shift_JIS and UTF-8 keep their bytes.
std::string CharsetToSjis(std::string_view charset, std::string_view text, bool& jisError) {
    const std::string name = Lowered(charset);
    if (name == "iso-2022-jp") {
        return ToSjis(text, jisError);
    }
    if (name == "utf-8") {
        return Utf8ToSjis(text).text;
    }
    return std::string(text);
}

// An RFC 2231 parameter, "<base>*=charset'language'%XX..." or continued in
// sections "<base>*0*=", "<base>*1=", ...; empty when absent.
std::string ExtendedParameter(const std::vector<Param>& params, const std::string& base, bool& jisError) {
    std::string charset;
    std::string bytes;
    const auto take = [&](std::string_view value, bool extended, bool first) {
        if (extended && first) {
            const std::size_t quote1 = value.find('\'');
            const std::size_t quote2 = quote1 == std::string_view::npos ? quote1 : value.find('\'', quote1 + 1);
            if (quote2 != std::string_view::npos) {
                charset = std::string(value.substr(0, quote1));
                value.remove_prefix(quote2 + 1);
            }
        }
        bytes += extended ? PercentDecoded(value) : std::string(value);
    };
    const auto find = [&](const std::string& name) -> const Param* {
        for (const Param& param : params) {
            if (param.name == name) {
                return &param;
            }
        }
        return nullptr;
    };
    if (const Param* whole = find(base + "*")) {
        take(whole->value, true, true);
    } else {
        for (int section = 0; section < 100; ++section) {
            const std::string name = base + "*" + std::to_string(section);
            if (const Param* extended = find(name + "*")) {
                take(extended->value, true, section == 0);
            } else if (const Param* plain = find(name)) {
                take(plain->value, false, section == 0);
            } else {
                break;
            }
        }
    }
    return CharsetToSjis(charset, bytes, jisError);
}

// The name of an attachment part: text after the first "name=" of its
// decoded headers (between quotation marks, or to the line end without the
// trailing ";" and blanks); failing that an RFC 2231 filename or name;
// failing that, and for any text/html part, "HTML形式.html".
std::string AttachmentName(std::string_view headers, std::string_view type, bool& jisError) {
    const std::string kDefault = "HTML形式.html"_sjis;
    if (type == "text/html") {
        return kDefault;
    }
    const std::string decoded = UnfoldAll(DecodeToSjis(headers, jisError));
    if (const std::size_t at = FindNoCase(decoded, "name="); at != std::string::npos) {
        std::string_view rest = ToLineEnd(decoded, at + 5);
        std::string_view name;
        if (!rest.empty() && rest.front() == '"') {
            rest.remove_prefix(1);
            name = rest.substr(0, rest.find('"'));
        } else {
            name = rest.substr(0, rest.find(';'));
            while (!name.empty() && (IsBlank(name.back()) || name.back() == ';')) {
                name.remove_suffix(1);
            }
        }
        if (!name.empty()) {
            return std::string(name);
        }
    }
    const std::vector<Param> disposition = Parameters(FieldValue(headers, "Content-Disposition:"));
    const std::vector<Param> contentType = Parameters(FieldValue(headers, "Content-Type:"));
    for (const auto& [params, base] : {std::pair(&disposition, "filename"), std::pair(&contentType, "name")}) {
        if (std::string name = ExtendedParameter(*params, base, jisError); !name.empty()) {
            return name;
        }
    }
    return kDefault;
}

std::string EncodingLine(std::string_view headers) {
    std::string encoding = Lowered(FieldValue(headers, "Content-Transfer-Encoding:"));
    if (encoding.empty()) {
        encoding = "7bit";
    }
    return encoding + std::string(kCrLf);
}

// Fills body, attachments and the part count from the leaves of a multipart.
void StoreLeaves(const std::vector<Leaf>& leaves, ReceivedMessage& message) {
    const Leaf* text = nullptr;
    for (const Leaf& leaf : leaves) {
        if (leaf.isText && text == nullptr) {
            text = &leaf;
            continue;
        }
        if (message.attachments.size() == kAttachmentSlots) {
            ++message.partsLeftOut;
            continue;
        }
        std::string record = PartHeader(AttachmentName(leaf.entity.headers, leaf.type, message.jisError),
                                         EncodingLine(leaf.entity.headers));
        record += DecodeToSjis(leaf.entity.content, message.jisError);
        message.attachments.push_back(std::move(record));
    }
    // The text slot is filled even without a text part, so that the
    // attachments stay in their own slots.
    message.body = PartHeader({}, {});
    if (text != nullptr) {
        message.body += DecodeToSjis(text->entity.content, message.jisError);
    }
    message.partCount = 1 + static_cast<int>(message.attachments.size());
}

} // namespace

PartSizes ReceivedMessage::Sizes() const {
    RecordPieces pieces{subject, from, date, header, body, {}};
    for (std::size_t i = 0; i < attachments.size() && i < kAttachmentSlots; ++i) {
        pieces.attachments[i] = attachments[i];
    }
    return SizesFor(pieces, partCount, 0);
}

std::string ReceivedMessage::RecordText() const {
    std::string text;
    text.reserve(subject.size() + from.size() + date.size() + header.size() + body.size());
    text += subject;
    text += from;
    text += date;
    text += header;
    text += body;
    for (const std::string& attachment : attachments) {
        text += attachment;
    }
    return text;
}

bool ReceivedMessage::FitsRecord() const {
    // Sizes() caps each length just above the field, so a piece far larger
    // than an int holds still makes the record not fit.
    return SizesConsistent(Sizes());
}

bool ReceivedMessage::DropAttachmentsToFit() {
    while (!FitsRecord() && !attachments.empty()) {
        attachments.pop_back();
        ++partsLeftOut;
        partCount = 1 + static_cast<int>(attachments.size());
    }
    return FitsRecord();
}

ReceivedMessage SplitReceivedMessage(std::string_view input) {
    ReceivedMessage message;

    std::string withoutNul;
    std::string_view text = input;
    if (text.find('\0') != std::string_view::npos) {
        withoutNul.reserve(text.size());
        for (const char c : text) {
            if (c != '\0') {
                withoutNul.push_back(c);
            }
        }
        text = withoutNul;
        message.nulRemoved = true;
    }

    // Header block and body. A message without a blank line is all header.
    std::size_t headerEnd = text.size();
    std::size_t blankFrom = text.size(); // where the blank line starts
    std::size_t bodyStart = text.size(); // after the blank line
    if (text.starts_with(kCrLf)) {
        headerEnd = 0;
        blankFrom = 0;
        bodyStart = 2;
    } else if (const std::size_t blank = text.find(kBlankLine); blank != std::string_view::npos) {
        headerEnd = blank;
        blankFrom = blank;
        bodyStart = blank + 4;
    }
    const std::string_view rawHeader = text.substr(0, headerEnd);
    const std::string_view rawBody = text.substr(bodyStart);

    message.header = DecodeToSjis(rawHeader, message.jisError);
    if (const std::size_t at = FindField(message.header, "Subject:"); at != std::string::npos) {
        message.subject = Unfolded(message.header, at);
    }
    if (const std::size_t at = FindField(message.header, "From:"); at != std::string::npos) {
        message.from = std::string(ToLineEnd(message.header, at));
    }
    if (const std::size_t at = FindField(message.header, "Date:"); at != std::string::npos) {
        message.date = std::string(ToLineEnd(message.header, at));
    }

    const std::size_t contentTypeAt = FindField(rawHeader, "Content-Type:");
    if (contentTypeAt == std::string_view::npos) {
        // No Content-Type: the body keeps the blank line in front and is
        // converted only, as Tegalo has always stored such messages.
        message.body = ToSjis(text.substr(blankFrom), message.jisError);
        return message;
    }
    const std::string contentType = std::string(Trimmed(Unfolded(rawHeader, contentTypeAt)));
    message.contentType = std::string(Trimmed(ToLineEnd(rawHeader, contentTypeAt)));

    const std::string type = MediaType(contentType);
    if (type.starts_with("multipart/")) {
        const std::string boundary = Parameter(contentType, "boundary");
        std::vector<Leaf> leaves;
        if (!boundary.empty() && CollectLeaves(rawBody, boundary, type == "multipart/digest", 1, leaves) &&
            !leaves.empty()) {
            message.boundary = boundary;
            StoreLeaves(leaves, message);
            return message;
        }
    }
    // text/..., any other type, and a multipart that cannot be split.
    message.body = DecodeToSjis(rawBody, message.jisError);
    return message;
}

} // namespace tegalo
