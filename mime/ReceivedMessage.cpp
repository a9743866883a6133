#include "mime/ReceivedMessage.h"

#include "mime/BodyDecode.h"
#include "mime/HeaderDecode.h"
#include "mime/PartName.h"
#include "text/header_words.h"
#include "text/jis.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

namespace tegalo {
namespace {

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

// The first parameter of that name (lower case); empty when absent.
std::string Parameter(std::string_view value, std::string_view attribute) {
    return ParameterValue(ParseParameters(value), attribute);
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
    std::string type;        // media type, lower case
    std::string contentType; // the Content-Type value, unfolded
    bool attachment;         // marked "Content-Disposition: attachment"

    bool IsText() const { return type == "text/plain" && !attachment; }
    bool IsHtmlForm() const { return type == "text/html" && !attachment; }
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
        std::string contentType = FieldValue(entity.headers, "Content-Type:");
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
        leaves.push_back({entity, std::move(type), std::move(contentType), attachment});
    }
    return true;
}

std::string EncodingLine(std::string_view headers) {
    std::string encoding = Lowered(FieldValue(headers, "Content-Transfer-Encoding:"));
    if (encoding.empty()) {
        encoding = "7bit";
    }
    return encoding + std::string(kCrLf);
}

// The record of an attachment: its part header, then its content still in
// its transfer encoding. A 7bit part has its ISO-2022-JP converted, as
// Tegalo has always stored attachments; a forwarded message and 8bit or
// binary content are kept byte for byte, since converting them changes
// what the sender sent.
std::string AttachmentRecord(std::string_view headers, std::string_view content, std::string_view type,
                             bool htmlForm, ReceivedMessage& message, DecodeTally& tally) {
    const std::string encodingLine = EncodingLine(headers);
    std::string record = PartHeader(PartName(headers, type, htmlForm, tally), encodingLine);
    const std::string_view encoding = std::string_view(encodingLine).substr(0, encodingLine.size() - kCrLf.size());
    if (type.starts_with("message/") || encoding == "8bit" || encoding == "binary") {
        record += content;
    } else {
        record += DecodeToSjis(content, message.jisError);
    }
    return record;
}

// The readable text of a text or HTML entity.
std::string EntityText(std::string_view headers, std::string_view content, std::string_view contentType,
                       bool html, DecodeTally& tally) {
    const std::string charset = Parameter(contentType, "charset");
    const std::string encoding = FieldValue(headers, "Content-Transfer-Encoding:");
    return html ? HtmlBodyToSjis(content, charset, encoding, tally) : TextBodyToSjis(content, charset, encoding, tally);
}

// Fills body, attachments and the part count from the leaves of a
// multipart. The text slot takes the first text/plain leaf, failing that the
// text of the first HTML one. The HTML forms of the message take only the
// slots that the other leaves leave free; one that finds none is no loss
// when the text came from a text/plain leaf.
void StoreLeaves(const std::vector<Leaf>& leaves, ReceivedMessage& message, DecodeTally& tally) {
    const auto first = [&](auto pred) -> const Leaf* {
        const auto it = std::find_if(leaves.begin(), leaves.end(), pred);
        return it == leaves.end() ? nullptr : &*it;
    };
    const Leaf* text = first([](const Leaf& leaf) { return leaf.IsText(); });
    const Leaf* htmlText = text != nullptr ? nullptr : first([](const Leaf& leaf) { return leaf.IsHtmlForm(); });
    std::size_t needed = 0;
    for (const Leaf& leaf : leaves) {
        needed += (&leaf != text && !leaf.IsHtmlForm()) ? 1 : 0;
    }
    std::size_t realLeft = kAttachmentSlots;
    std::size_t htmlLeft = kAttachmentSlots - std::min(needed, kAttachmentSlots);
    for (const Leaf& leaf : leaves) {
        if (&leaf == text) {
            continue;
        }
        std::size_t& left = leaf.IsHtmlForm() ? htmlLeft : realLeft;
        if (left == 0) {
            message.partsLeftOut += (leaf.IsHtmlForm() && text != nullptr) ? 0 : 1;
            continue;
        }
        --left;
        message.attachments.push_back(
            AttachmentRecord(leaf.entity.headers, leaf.entity.content, leaf.type, leaf.IsHtmlForm(), message, tally));
    }
    // The text slot is filled even without a text part, so that the
    // attachments stay in their own slots.
    message.body = PartHeader({}, {});
    if (const Leaf* shown = text != nullptr ? text : htmlText) {
        message.body += EntityText(shown->entity.headers, shown->entity.content, shown->contentType,
                                   shown == htmlText, tally);
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

namespace {

// The length of the longest start of `text` no longer than `limit` that
// ends at a Shift_JIS character boundary.
std::size_t SjisCut(std::string_view text, std::size_t limit) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto c = static_cast<unsigned char>(text[pos]);
        const std::size_t width = ((c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc)) ? 2 : 1;
        if (pos + width > limit) {
            break;
        }
        pos += width;
    }
    return std::min(pos, text.size());
}

} // namespace

bool ReceivedMessage::CutTextToFit() {
    const std::size_t bodyKeep = partCount > 0 ? PartHeader({}, {}).size() : 0;
    struct Piece {
        std::string* text;
        std::size_t keep;
    };
    for (const Piece piece : {Piece{&body, bodyKeep}, Piece{&header, 0}, Piece{&subject, 0}, Piece{&from, 0},
                              Piece{&date, 0}}) {
        if (FitsRecord()) {
            break;
        }
        // Each piece fits its own field and all of them the record's length
        // (counted here in full: Sizes() caps what does not fit).
        std::size_t pieces = subject.size() + from.size() + date.size() + header.size() + body.size();
        for (const std::string& attachment : attachments) {
            pieces += attachment.size();
        }
        const long long total = kSizeEntriesLength + static_cast<long long>(pieces);
        const long long excess = std::max<long long>(total - kFieldMax, 0);
        std::size_t limit = piece.text->size() > static_cast<std::size_t>(excess)
                                ? piece.text->size() - static_cast<std::size_t>(excess)
                                : 0;
        limit = std::min<std::size_t>(limit, kFieldMax);
        if (limit >= piece.text->size()) {
            continue;
        }
        const std::size_t keep = std::min(piece.keep, piece.text->size());
        const std::size_t cut = keep + SjisCut(std::string_view(*piece.text).substr(keep), std::max(limit, keep) - keep);
        piece.text->resize(cut);
        textCut = true;
    }
    return FitsRecord();
}

namespace {

// Body, attachments and part count from the message's content.
void FinishBody(std::string_view text, std::string_view rawHeader, std::string_view rawBody, std::size_t blankFrom,
                ReceivedMessage& message, DecodeTally& tally) {
    const std::size_t contentTypeAt = FindField(rawHeader, "Content-Type:");
    if (contentTypeAt == std::string_view::npos) {
        // No Content-Type: the body keeps the blank line in front, as Tegalo
        // has always stored such messages.
        const std::string_view blankLine = text.substr(blankFrom, text.size() - blankFrom - rawBody.size());
        const std::string encoding = FieldValue(rawHeader, "Content-Transfer-Encoding:");
        message.body = std::string(blankLine) + ToSjis({}, DecodeTransfer(rawBody, encoding), tally);
        return;
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
            StoreLeaves(leaves, message, tally);
            return;
        }
    }
    const bool attachment = MediaType(FieldValue(rawHeader, "Content-Disposition:")) == "attachment";
    if (type == "text/html" && !attachment) {
        // Its readable text, and the HTML itself as an attachment.
        message.body = PartHeader({}, {}) + EntityText(rawHeader, rawBody, contentType, true, tally);
        message.attachments.push_back(AttachmentRecord(rawHeader, rawBody, type, true, message, tally));
        message.partCount = 2;
        return;
    }
    if (type.starts_with("text/") || type.starts_with("multipart/") || type.empty()) {
        message.body = EntityText(rawHeader, rawBody, contentType, false, tally);
        return;
    }
    // Any other single part (a picture, a document, a message) is an
    // attachment beside an empty text.
    message.body = PartHeader({}, {});
    message.attachments.push_back(AttachmentRecord(rawHeader, rawBody, type, false, message, tally));
    message.partCount = 2;
}

} // namespace

std::vector<ReceivedAttachment> ListReceivedAttachments(std::string_view input) {
    std::string withoutNul;
    std::string_view text = input;
    if (text.find('\0') != std::string_view::npos) {
        withoutNul.reserve(text.size());
        std::copy_if(text.begin(), text.end(), std::back_inserter(withoutNul), [](char c) { return c != '\0'; });
        text = withoutNul;
    }
    std::string_view rawHeader = text;
    std::string_view rawBody;
    if (text.starts_with(kCrLf)) {
        rawHeader = {};
        rawBody = text.substr(2);
    } else if (const std::size_t blank = text.find(kBlankLine); blank != std::string_view::npos) {
        rawHeader = text.substr(0, blank);
        rawBody = text.substr(blank + 4);
    }

    std::vector<ReceivedAttachment> list;
    DecodeTally tally;
    const auto add = [&](std::string_view headers, std::string_view content, const std::string& type, bool htmlForm) {
        list.push_back({PartName(headers, type, htmlForm, tally), type,
                        DecodeTransfer(content, FieldValue(headers, "Content-Transfer-Encoding:"))});
    };
    if (FindField(rawHeader, "Content-Type:") == std::string_view::npos) {
        return list;
    }
    const std::string contentType = FieldValue(rawHeader, "Content-Type:");
    const std::string type = MediaType(contentType);
    if (type.starts_with("multipart/")) {
        const std::string boundary = Parameter(contentType, "boundary");
        std::vector<Leaf> leaves;
        if (!boundary.empty() && CollectLeaves(rawBody, boundary, type == "multipart/digest", 1, leaves) &&
            !leaves.empty()) {
            const bool hasText = std::any_of(leaves.begin(), leaves.end(), [](const Leaf& l) { return l.IsText(); });
            bool textSeen = false;
            for (const Leaf& leaf : leaves) {
                if (leaf.IsText() && !textSeen) {
                    textSeen = true;
                    continue;
                }
                if (leaf.IsHtmlForm() && hasText) {
                    continue;
                }
                add(leaf.entity.headers, leaf.entity.content, leaf.type, leaf.IsHtmlForm());
            }
            return list;
        }
    }
    const bool attachment = MediaType(FieldValue(rawHeader, "Content-Disposition:")) == "attachment";
    if (type == "text/html" && !attachment) {
        add(rawHeader, rawBody, type, true);
    } else if (!(type.starts_with("text/") || type.starts_with("multipart/") || type.empty())) {
        add(rawHeader, rawBody, type, false);
    }
    return list;
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

    DecodeTally tally;
    message.header = DecodeHeaderBlock(rawHeader, tally);
    DecodeTally counted; // the header block above has counted these already
    for (const auto& [name, piece] : {std::pair("Subject", &message.subject), std::pair("From", &message.from),
                                      std::pair("Date", &message.date)}) {
        if (const std::optional<std::string_view> value = FindRawField(rawHeader, name)) {
            *piece = DecodeFieldValue(*value, counted).unfolded;
        }
    }
    FinishBody(text, rawHeader, rawBody, blankFrom, message, tally);
    message.replaced = tally.replaced;
    message.jisError = message.jisError || tally.jisError;
    // Decoding (base64 or quoted-printable text, encoded words) can bring
    // back NUL bytes that the record cannot hold.
    for (std::string* piece : {&message.subject, &message.from, &message.date, &message.header, &message.body}) {
        if (piece->find('\0') != std::string::npos) {
            std::erase(*piece, '\0');
            message.nulRemoved = true;
        }
    }
    return message;
}

} // namespace tegalo
