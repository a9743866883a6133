#include "mime/WireMessage.h"

#include "mime/AddressList.h"
#include "mime/WireEncode.h"
#include "text/jis.h"
#include "text/transfer_encoding.h"
#include "text/unicode.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace tegalo {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::size_t kMaxLine = 998;

enum class Cte { identity, quotedPrintable, base64 };

// One stored attachment part, taken apart.
struct StoredPart {
    std::string name; // Shift_JIS; "" for a part without a name
    bool html = false;
    Cte encoding = Cte::identity;
    std::string_view content; // as stored, without delimiter lines
};

std::string_view After(std::string_view text, std::string_view marker) {
    const std::size_t at = text.find(marker);
    return at == std::string_view::npos ? std::string_view() : text.substr(at + marker.size());
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// A stored token ("base64", "quoted-pr" as the part record cuts it, "7bit").
Cte EncodingOf(std::string_view token) {
    const std::string t = Lower(token);
    if (t == "base64") {
        return Cte::base64;
    }
    if (t.starts_with("quoted-pr")) {
        return Cte::quotedPrintable;
    }
    return Cte::identity;
}

std::string_view LineValue(std::string_view header, std::string_view field) {
    std::string_view value = After(header, field);
    return value.substr(0, value.find(kCrLf));
}

StoredPart ParsePart(std::string_view part, std::string_view delimiterLine) {
    StoredPart parsed;
    const std::size_t blank = part.find("\r\n\r\n");
    const std::string_view header = part.substr(0, blank);
    std::string_view content = blank == std::string_view::npos ? std::string_view() : part.substr(blank + 4);
    while (content.ends_with(delimiterLine)) {
        content.remove_suffix(delimiterLine.size());
    }
    parsed.content = content;
    parsed.encoding = EncodingOf(LineValue(header, "Content-Transfer-Encoding: "));
    parsed.html = Lower(LineValue(header, "Content-Type: ")).starts_with("text/html");
    if (std::string_view name = After(header, "name=\"");
        !name.empty() || header.find("name=\"") != std::string_view::npos) {
        name = name.substr(0, name.find('"'));
        // The part holds the name in ISO-2022-JP, or in Shift_JIS when it
        // has characters ISO-2022-JP lacks; the conversion leaves those as they are.
        parsed.name = JisToSjis(name);
    }
    return parsed;
}

std::string_view Extension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

// The content type a reader needs to show the attachment, by its name.
std::string WireContentType(const StoredPart& part) {
    if (part.html) {
        return "text/html";
    }
    const std::string ext = Lower(Extension(part.name));
    static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
        {"txt", "text/plain"},      {"htm", "text/html"}, {"html", "text/html"}, {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},     {"gif", "image/gif"}, {"png", "image/png"},  {"bmp", "image/bmp"},
        {"pdf", "application/pdf"}, {"wav", "audio/wav"}, {"mid", "audio/midi"}, {"rmi", "audio/midi"},
        {"zip", "application/zip"},
    };
    for (const auto& [e, type] : kTypes) {
        if (ext == e) {
            return std::string(type);
        }
    }
    return "application/octet-stream";
}

std::string Decoded(const StoredPart& part) {
    switch (part.encoding) {
    case Cte::base64:
        return DecodeBase64Text(part.content);
    case Cte::quotedPrintable:
        return DecodeQuotedPrintable(part.content);
    case Cte::identity:
        break;
    }
    return std::string(part.content);
}

bool IsBase64Text(std::string_view text) {
    for (const char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                        c == '/' || c == '=' || c == '\r' || c == '\n';
        if (!ok) {
            return false;
        }
    }
    return LinesWithin(text, 76);
}

bool SevenBitText(std::string_view text, std::size_t limit) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || u == 0) {
            return false;
        }
    }
    return LinesWithin(text, limit);
}

// The content of a part as it goes out, and its encoding's name.
struct EncodedContent {
    std::string_view cte;
    std::string text; // ends with CR LF when it is base64
};

EncodedContent Base64Content(std::string_view bytes) {
    return {"base64", EncodeBase64Lines(bytes)};
}

// The text of a message in the charset, with the transfer encoding that
// keeps it whole and its lines short.
EncodedContent TextContent(std::string_view sjis, WireCharset charset, std::string_view delimiterLine) {
    const std::string text = ToWireCharset(sjis, charset);
    if (charset == WireCharset::iso2022jp) {
        const bool delimiterInside =
            !delimiterLine.empty() && text.find(delimiterLine.substr(0, delimiterLine.size() - 2)) != std::string::npos;
        if (SevenBitText(text, kMaxLine) && !delimiterInside) {
            return {"7bit", text};
        }
        return Base64Content(text);
    }
    std::size_t eightBit = 0;
    for (const char c : text) {
        eightBit += static_cast<unsigned char>(c) >= 0x80 ? 1 : 0;
    }
    if (eightBit * 3 > text.size()) {
        return Base64Content(text);
    }
    return {"quoted-printable", EncodeQuotedPrintableText(text)};
}

void NameParameterTokens(const std::string& sjisName, WireCharset charset, std::vector<std::string>& tokens) {
    std::vector<std::string> words = EncodedWords(sjisName, charset, kFoldAt - 8);
    if (words.size() == 1 && sjisName.find_first_of("\"\\") == std::string::npos) {
        bool ascii = true;
        for (const char c : sjisName) {
            ascii = ascii && c >= 0x20 && c < 0x7F;
        }
        if (ascii) {
            words[0] = sjisName;
        }
    }
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string token = words[i];
        if (i == 0) {
            token = "name=\"" + token;
        }
        if (i + 1 == words.size()) {
            token += "\";";
        }
        tokens.push_back(std::move(token));
    }
}

// "Content-Type: type;" and the name parameter, folded.
std::string PartHeader(const StoredPart& part, std::string_view type, std::string_view charsetLabel,
                       std::string_view cte, WireCharset charset) {
    std::string header;
    std::vector<std::string> typeTokens;
    std::string first(type);
    if (!charsetLabel.empty()) {
        first.append("; charset=").append(charsetLabel);
    }
    first.push_back(';');
    typeTokens.push_back(first);
    if (!part.name.empty()) {
        NameParameterTokens(part.name, charset, typeTokens);
    }
    // The last parameter ends without ";".
    typeTokens.back().pop_back();
    header.append(FoldedField("Content-Type", typeTokens));
    std::vector<std::string> disposition{"attachment"};
    if (!part.name.empty()) {
        disposition.front().push_back(';');
        std::vector<std::string> params = Rfc2231Parameter("filename", SjisToUtf8(part.name));
        for (std::size_t i = 0; i < params.size(); ++i) {
            disposition.push_back(params[i] + (i + 1 < params.size() ? ";" : ""));
        }
    }
    header.append(FoldedField("Content-Disposition", disposition));
    header.append("Content-Transfer-Encoding: ").append(cte).append(kCrLf);
    return header;
}

// An attachment as it goes out: its stored content with the label it was
// stored under when that content can travel as it is, else encoded anew.
std::string AttachmentPart(const StoredPart& part, WireCharset charset) {
    std::string type = WireContentType(part);
    std::string charsetLabel;
    const bool text = type.starts_with("text/");
    std::string decoded;
    bool haveDecoded = false;
    if (text || part.encoding != Cte::base64) {
        decoded = Decoded(part);
        haveDecoded = true;
    }
    if (text) {
        charsetLabel = DetectTextCharset(decoded);
        if (charsetLabel.empty()) {
            type = "application/octet-stream";
        }
    }
    EncodedContent content;
    switch (part.encoding) {
    case Cte::base64:
        if (IsBase64Text(part.content)) {
            content = {"base64", std::string(part.content)};
        } else {
            content = Base64Content(haveDecoded ? decoded : Decoded(part));
        }
        break;
    case Cte::quotedPrintable:
        content = {"quoted-printable", EncodeQuotedPrintableText(decoded)};
        break;
    case Cte::identity:
        if (SevenBitText(decoded, kMaxLine)) {
            content = {"7bit", decoded};
        } else {
            content = Base64Content(decoded);
        }
        break;
    }
    std::string out = PartHeader(part, type, charsetLabel, content.cte, charset);
    out.append(kCrLf);
    out.append(content.text);
    // The line end before a delimiter belongs to the delimiter: a 7bit
    // content that ends with its own line end gets one more, so that it
    // keeps it. Base64 needs none, and a stored quoted-printable part always
    // ends with the line end its delimiter took (an HTML file's own last
    // line end was never told apart from it).
    if (!content.text.ends_with(kCrLf) || content.cte == "7bit") {
        out.append(kCrLf);
    }
    return out;
}

std::vector<std::string> AddressTokens(const AddressListParse& list, WireCharset charset) {
    std::vector<std::string> tokens;
    const auto mailbox = [&](const MailboxAddress& m) {
        if (m.name.empty()) {
            tokens.push_back(m.address);
            return;
        }
        for (std::string& t : DisplayNameTokens(m.name, charset)) {
            tokens.push_back(std::move(t));
        }
        tokens.push_back("<" + m.address + ">");
    };
    for (std::size_t i = 0; i < list.items.size(); ++i) {
        const AddressListItem& item = list.items[i];
        if (item.group) {
            for (std::string& t : DisplayNameTokens(item.groupName, charset)) {
                tokens.push_back(std::move(t));
            }
            // An encoded word ends at a blank, not at the ":".
            if (tokens.back().ends_with("?=")) {
                tokens.emplace_back(":");
            } else {
                tokens.back().push_back(':');
            }
            for (std::size_t k = 0; k < item.mailboxes.size(); ++k) {
                mailbox(item.mailboxes[k]);
                if (k + 1 < item.mailboxes.size()) {
                    tokens.back().push_back(',');
                }
            }
            tokens.back().push_back(';');
        } else {
            mailbox(item.mailboxes.front());
        }
        if (i + 1 < list.items.size()) {
            tokens.back().push_back(',');
        }
    }
    return tokens;
}

std::string AddressField(std::string_view name, std::string_view text, WireCharset charset) {
    const AddressListParse list = ParseAddressList(text);
    if (!list.Ok() || list.items.empty()) {
        // Refused before sending; should one get here, it goes out as text.
        return UnstructuredField(name, text, charset);
    }
    return FoldedField(name, AddressTokens(list, charset));
}

bool ListFits(std::string_view text) {
    const AddressListParse list = ParseAddressList(text);
    if (!list.Ok()) {
        return FitsIso2022Jp(text);
    }
    for (const AddressListItem& item : list.items) {
        if (!FitsIso2022Jp(item.groupName)) {
            return false;
        }
        for (const MailboxAddress& m : item.mailboxes) {
            if (!FitsIso2022Jp(m.name)) {
                return false;
            }
        }
    }
    return true;
}

bool IsHostLabelChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

} // namespace

std::string AddressDomain(std::string_view mailAccount) {
    const std::size_t at = mailAccount.rfind('@');
    if (at == std::string_view::npos) {
        return {};
    }
    const std::string_view domain = mailAccount.substr(at + 1);
    if (domain.empty() || domain.find('.') == std::string_view::npos || domain.front() == '.' || domain.back() == '.' ||
        domain.find("..") != std::string_view::npos) {
        return {};
    }
    for (const char c : domain) {
        if (!IsHostLabelChar(c) && c != '.') {
            return {};
        }
    }
    return std::string(domain);
}

std::string NewMessageId(std::string_view mailAccount) {
    static std::atomic<unsigned> counter{0};
    std::random_device device;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    char unique[80];
    std::snprintf(unique, sizeof unique, "%llx.%x%08x.%u", static_cast<unsigned long long>(micros), device(), device(),
                  counter.fetch_add(1));
    std::string domain = AddressDomain(mailAccount);
    if (domain.empty()) {
        domain = "tegalo.invalid";
    }
    return "<" + std::string(unique) + "@" + domain + ">";
}

WireText BuildWireText(const WireInput& input) {
    static const std::vector<std::string> kNoParts;
    const std::vector<std::string>& parts = input.bodyParts ? *input.bodyParts : kNoParts;
    const auto element = [&](std::size_t i) -> std::string_view {
        return i < parts.size() ? std::string_view(parts[i]) : std::string_view();
    };
    const std::string delimiterLine = "--" + std::string(input.boundary) + "\r\n";
    const int attachments = element(0).empty() ? 0 : std::atoi(std::string(element(0)).c_str());

    std::string_view text = element(1);
    if (attachments > 0) {
        text = After(text, "\r\n\r\n");
        if (text.ends_with(kCrLf)) {
            text.remove_suffix(2);
        }
    }
    std::vector<StoredPart> stored;
    for (int i = 1; i <= attachments && i <= 3; ++i) {
        const std::string_view part = element(static_cast<std::size_t>(i) + 1);
        if (!part.empty()) {
            stored.push_back(ParsePart(part, delimiterLine));
        }
    }

    const RecipientTexts recipients = SplitRecipientText(input.recipients);
    bool fits = FitsIso2022Jp(input.subject) && FitsIso2022Jp(input.displayName) && FitsIso2022Jp(text) &&
                ListFits(recipients.to) && ListFits(recipients.cc);
    for (const StoredPart& part : stored) {
        fits = fits && FitsIso2022Jp(part.name);
    }
    const WireCharset charset = fits ? WireCharset::iso2022jp : WireCharset::utf8;

    WireText wire;
    std::string& h = wire.header;
    h.append("Date: ").append(input.date).append(kCrLf);
    std::vector<std::string> from;
    if (!input.displayName.empty()) {
        from = DisplayNameTokens(input.displayName, charset);
        from.push_back("<" + std::string(input.mailAccount) + ">");
    } else {
        from.emplace_back(input.mailAccount);
    }
    h.append(FoldedField("From", from));
    h.append(AddressField("To", recipients.to, charset));
    if (!recipients.cc.empty()) {
        h.append(AddressField("Cc", recipients.cc, charset));
    }
    h.append(UnstructuredField("Subject", input.subject, charset));
    h.append("Message-ID: ")
        .append(input.messageId.empty() ? NewMessageId(input.mailAccount) : std::string(input.messageId))
        .append(kCrLf);
    h.append("MIME-Version: 1.0\r\n");

    const std::string charsetParam = "; charset=" + std::string(CharsetName(charset));
    if (stored.empty() && attachments <= 0) {
        EncodedContent body = TextContent(text, charset, {});
        h.append("Content-Type: text/plain").append(charsetParam).append(kCrLf);
        h.append("Content-Transfer-Encoding: ").append(body.cte).append(kCrLf);
        h.append(kCrLf);
        wire.body = std::move(body.text);
        return wire;
    }
    h.append("Content-Type: multipart/mixed;\r\n boundary=\"").append(input.boundary).append("\"\r\n");
    h.append(kCrLf);

    std::string& b = wire.body;
    EncodedContent body = TextContent(text, charset, delimiterLine);
    b.append(delimiterLine);
    b.append("Content-Type: text/plain").append(charsetParam).append(kCrLf);
    b.append("Content-Transfer-Encoding: ").append(body.cte).append(kCrLf).append(kCrLf);
    b.append(body.text);
    if (body.cte != "base64" || !body.text.ends_with(kCrLf)) {
        b.append(kCrLf);
    }
    for (const StoredPart& part : stored) {
        b.append(delimiterLine);
        b.append(AttachmentPart(part, charset));
    }
    b.append("--").append(input.boundary).append("--\r\n");
    return wire;
}

} // namespace tegalo
