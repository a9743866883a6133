// The parts of an outgoing message and the record it is stored as.
#pragma once

#include "mime/RecordLayout.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

// The parts of an outgoing message: element 0 the number of attachments,
// 1 the text (or the whole text part), 2 to 4 the attachment parts.
using BodyParts = std::vector<std::string>;

// The parts of a new message before any is built.
BodyParts NewBodyParts();

// The entries of the envelope of an outgoing message (see SetRecipients).
enum EnvelopeEntry : std::size_t {
    kEnvelopeCommas = 0,        // the number of recipients minus one
    kEnvelopeSubject = 1,
    kEnvelopeDate = 2,
    kEnvelopeFirstRecipient = 3,
};

enum BodyPartMode : int {
    plainText = 0,      // the text of a message without attachments
    textPart = 1,       // the text part of a message with attachments
    base64File = 2,     // a file attachment, base64
    htmlFile = 3,       // an .htm or .html file, converted and quoted-printable
    encodedContent = 4, // an attachment whose encoded content the caller supplies
};

// Every outgoing multipart message uses this boundary.
inline constexpr std::string_view kBoundary = "----=_NextPart_000_0017_01C3CBA8.DEA1DD40";
inline constexpr std::string_view kDelimiterLine = "------=_NextPart_000_0017_01C3CBA8.DEA1DD40\r\n";
// The name stored for a part that has none (an HTML part, an empty slot).
inline constexpr std::string_view kUnnamedPartUtf8 = "HTML形式.html";

// The extension of a path: from its first "." to the end ("" without one).
std::string_view PathExtension(std::string_view path);

// The Content-Type value for an attachment path, chosen by PathExtension
// (exact, case-sensitive); "application/octet-stream;" when nothing matches.
std::string_view AttachmentContentType(std::string_view path);

// True when the extension is ".htm" or ".html": such files go out as
// quoted-printable HTML.
bool IsHtmlPath(std::string_view path);

// The last component of a path ("/" separates components).
std::string_view PathBaseName(std::string_view path);

// Why a header value (subject, display name, address, file name) cannot go
// into a header line: a CR, LF or NUL (and, when `quoted` is set, a double
// quote) would start a new line or end the quoted text early. Empty when the
// value is fine, otherwise the Shift_JIS message for the user, naming `what`
// (a Shift_JIS word such as "件名").
std::string HeaderValueProblem(std::string_view value, std::string_view what, bool quoted = false);

enum class PartError {
    none,
    cannotOpen, // the attachment file cannot be opened
    cannotRead, // reading it failed part way
    badName,    // its name cannot go into the part header
};

struct BuiltPart {
    std::string part;
    PartError error = PartError::none;
    std::string message; // Shift_JIS, for the user, when error is not none
};

// Builds part `index` (0 = text, 1..3 = attachments) of an outgoing message.
// `text` is the typed text (Shift_JIS) for index 0 and the encoded content
// for mode encodedContent. `path` is the attachment file's path in the file
// system's encoding (UTF-8) for base64File and htmlFile, and the stored
// attachment name (Shift_JIS) for encodedContent. `encoding` is the stored
// transfer encoding of supplied content ("base64", "quoted-pr", "7bit" ...);
// the part is labelled with it, or as a file of its type would be when empty.
BuiltPart BuildBodyPart(std::string_view text, std::string_view path, int index, BodyPartMode mode,
                        std::string_view encoding = {});

struct ComposedRecord {
    PartSizes sizes{};
    std::string text; // the record text: header argument, then the parts
};

// Turns the parts of a message into its stored record. `bodyParts` holds
// the attachment count in element 0, the text in element 1 and attachment
// parts in 2..4; `sizes` carries fields 1, 2, 3 and 6 filled by the caller;
// `header` is the record text up to and including the header block.
ComposedRecord AssembleComposedRecord(const BodyParts& bodyParts, PartSizes sizes,
                                      std::string_view header);

// The recipient text of a stored header block: the value of the "To: " line
// (found at the start of a line), and when the next line is a "Cc: " line,
// CR LF and that line too, as the compose path writes them.
std::string RecipientTextFromHeader(std::string_view headerBlock);

struct WireMessage {
    std::string header; // the header lines, the MIME block and the empty line
    std::string body;   // the text in ISO-2022-JP, then the attachment parts
};

// The message as it goes to the SMTP server (before dot-stuffing): "Date: ",
// "From: " (encoded display name directly followed by "<account>"), "To: ",
// "Subject: ", then the MIME block. Subject, display name and recipients are
// Shift_JIS and go out as ISO-2022-JP encoded words; ASCII stays as it is.
// `wireDate` is the full date of the Date line; without a `messageId` a new
// one is made. The wire form itself is BuildWireText's.
WireMessage BuildWireMessage(const BodyParts& bodyParts, std::string_view subject,
                             std::string_view recipients, std::string_view displayName,
                             std::string_view mailAccount, std::string_view wireDate,
                             std::string_view messageId = {});

// A header value in Shift_JIS as it goes on the wire: SjisToJis, then every
// ISO-2022-JP run as an encoded word.
std::string EncodeHeaderValue(std::string_view sjis);

} // namespace tegalo
