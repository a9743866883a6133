// Received bodies: content transfer decoding (RFC 2045) and the text of text
// and HTML parts in Shift_JIS.
#pragma once

#include "mime/Charset.h"

#include <string>
#include <string_view>

namespace tegalo {

// Base64: characters outside the alphabet are skipped; "=" ends a group, and
// decoding goes on after it (for bodies made of several encoded pieces).
std::string DecodeBase64Body(std::string_view content);

// Quoted-printable: "=" and two hexadecimal digits (either case) is that
// byte, "=" at a line end (blanks may stand between) is a soft line break,
// any other "=" stays as it is.
std::string DecodeQuotedPrintableBody(std::string_view content);

// The content decoded by its Content-Transfer-Encoding (any case); 7bit,
// 8bit, binary and unknown encodings leave it as it is.
std::string DecodeTransfer(std::string_view content, std::string_view encoding);

// The text of a text part in Shift_JIS: transfer-decoded, converted from
// `charset` (see ToSjis), and where a decoding took place its line ends made
// CR LF and NUL bytes left out (each counted as replaced). Text in
// ISO-2022-JP, Shift_JIS or without a label has its ISO-2022-JP encoded
// words decoded first, as Tegalo has always done for such bodies (header
// lines quoted in forwarded mail).
std::string TextBodyToSjis(std::string_view content, std::string_view charset, std::string_view transferEncoding,
                           DecodeTally& tally);

// The readable text of an HTML part in Shift_JIS (see HtmlToText); its
// charset comes from `charset`, else from the document's own <meta>.
std::string HtmlBodyToSjis(std::string_view content, std::string_view charset, std::string_view transferEncoding,
                           DecodeTally& tally);

} // namespace tegalo
