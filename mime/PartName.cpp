#include "mime/PartName.h"

#include "mime/HeaderDecode.h"
#include "text/unicode.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tegalo {
namespace {

std::string Lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

// A "name=" that no parameter list found (a ";" missing before it): the
// quoted text after it, or the text to the next ";" or line end.
std::string StrayName(std::string_view headers) {
    std::string unfolded;
    for (std::size_t i = 0; i < headers.size(); ++i) {
        if (headers[i] == '\r' && i + 2 < headers.size() && headers[i + 1] == '\n' &&
            (headers[i + 2] == ' ' || headers[i + 2] == '\t')) {
            i += 1;
            continue;
        }
        unfolded.push_back(headers[i]);
    }
    const std::size_t at = Lowered(unfolded).find("name=");
    if (at == std::string::npos) {
        return {};
    }
    std::string_view rest = std::string_view(unfolded).substr(at + 5);
    rest = rest.substr(0, rest.find("\r\n"));
    if (!rest.empty() && rest.front() == '"') {
        rest.remove_prefix(1);
        return std::string(rest.substr(0, rest.find('"')));
    }
    rest = rest.substr(0, rest.find(';'));
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) {
        rest.remove_suffix(1);
    }
    return std::string(rest);
}

bool IsBlankName(std::string_view name) {
    return name.find_first_not_of(" \t") == std::string_view::npos;
}

} // namespace

std::string HtmlFormName() {
    return SjisLiteral("HTML形式.html");
}

std::string NameForType(std::string_view type) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 24> kNames = {{
        {"message/rfc822", "message.eml"},
        {"message/global", "message.eml"},
        {"message/delivery-status", "delivery-status.txt"},
        {"message/disposition-notification", "disposition-notification.txt"},
        {"text/rfc822-headers", "headers.txt"},
        {"text/plain", "text.txt"},
        {"text/calendar", "invite.ics"},
        {"text/csv", "text.csv"},
        {"text/enriched", "text.txt"},
        {"text/xml", "text.xml"},
        {"image/jpeg", "image.jpg"},
        {"image/jpg", "image.jpg"},
        {"image/pjpeg", "image.jpg"},
        {"image/png", "image.png"},
        {"image/gif", "image.gif"},
        {"image/bmp", "image.bmp"},
        {"image/webp", "image.webp"},
        {"image/tiff", "image.tif"},
        {"image/svg+xml", "image.svg"},
        {"application/pdf", "document.pdf"},
        {"application/zip", "archive.zip"},
        {"application/pgp-signature", "signature.asc"},
        {"application/pkcs7-signature", "smime.p7s"},
        {"application/x-pkcs7-signature", "smime.p7s"},
    }};
    for (const auto& [known, name] : kNames) {
        if (type == known) {
            return std::string(name);
        }
    }
    if (type == "text/html") {
        return HtmlFormName();
    }
    if (type.starts_with("image/")) {
        return "image.bin";
    }
    if (type.starts_with("audio/")) {
        return "audio.bin";
    }
    if (type.starts_with("video/")) {
        return "video.bin";
    }
    return "part.bin";
}

std::string PartName(std::string_view rawHeaders, std::string_view type, bool htmlForm, DecodeTally& tally) {
    if (htmlForm) {
        return HtmlFormName();
    }
    const std::optional<std::string_view> disposition = FindRawField(rawHeaders, "Content-Disposition");
    const std::optional<std::string_view> contentType = FindRawField(rawHeaders, "Content-Type");
    if (disposition) {
        if (std::string name = DecodedParameter(ParseParameters(*disposition), "filename", tally); !IsBlankName(name)) {
            return name;
        }
    }
    if (contentType) {
        if (std::string name = DecodedParameter(ParseParameters(*contentType), "name", tally); !IsBlankName(name)) {
            return name;
        }
    }
    if (const std::string stray = StrayName(rawHeaders); !IsBlankName(stray)) {
        return DecodeFieldValue(stray, tally).unfolded;
    }
    return NameForType(type);
}

} // namespace tegalo
