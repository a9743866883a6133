// The message text that goes to the SMTP server, built from the parts the
// store keeps for an outgoing message. The stored parts stay as they are;
// only what goes on the wire is built anew here:
// - the whole message in ISO-2022-JP when all its text fits, else in UTF-8,
//   so that no character is dropped;
// - recipients read as address lists and written back in the standard form;
// - encoded words of at most 75 characters, lines folded at 78;
// - attachment names as RFC 2231 filename*= and as encoded words in name=;
// - each attachment with the transfer encoding its content is in, a charset
//   label on text attachments that matches their bytes;
// - a closing delimiter after the last part, no empty parts;
// - no line over 998 octets, no quoted-printable line over 76.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

struct WireInput {
    // The parts as the store builds them: element 0 the attachment count,
    // element 1 the text (plain) or the text part, 2..4 the attachment parts.
    const std::vector<std::string>* bodyParts = nullptr;
    std::string_view boundary;    // the boundary the stored parts are delimited with
    std::string_view subject;     // Shift_JIS
    std::string_view recipients;  // Shift_JIS: To list, then ",", CR LF, "Cc: " and the Cc list
    std::string_view displayName; // Shift_JIS
    std::string_view mailAccount;
    std::string_view date;      // the Date line's value
    std::string_view messageId; // with its angle brackets
};

struct WireText {
    std::string header; // the header lines and the empty line
    std::string body;   // before dot-stuffing
};

WireText BuildWireText(const WireInput& input);

// A new Message-ID, "<unique@domain>", the domain taken from the address
// (a made-up one when it has none).
std::string NewMessageId(std::string_view mailAccount);

// The domain of an address when it is a host name fit for EHLO (letters,
// digits, hyphens, at least one dot); "" otherwise.
std::string AddressDomain(std::string_view mailAccount);

} // namespace tegalo
