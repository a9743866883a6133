// The pieces of an outgoing message as they go on the wire: the charset a
// message goes out in, encoded words (RFC 2047), folded header lines
// (RFC 5322), parameters in RFC 2231 form, quoted-printable lines and the
// charset label of a text attachment. Texts come in as Shift_JIS (CP932).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

enum class WireCharset {
    iso2022jp, // 7-bit JIS: ASCII, JIS X 0208 and the NEC row 13 characters
    utf8,      // everything else Shift_JIS can hold
};

// The longest header line the wire builder writes, CR LF not counted, where
// a line can be folded; and the longest encoded word.
inline constexpr std::size_t kFoldAt = 78;
inline constexpr std::size_t kMaxEncodedWord = 75;

// True when every character of the Shift_JIS text has an ISO-2022-JP form
// that Japanese mail readers read back as the same character: ASCII (but
// ESC, SO and SI, which would switch the reader's charset), JIS X 0208, and
// the NEC special characters of row 13 as Japanese mailers send them.
// Half-width katakana, the IBM and NEC-selected IBM extension kanji and
// user-defined characters do not fit.
bool FitsIso2022Jp(std::string_view sjis);

// The MIME name of the charset: "ISO-2022-JP" or "UTF-8".
std::string_view CharsetName(WireCharset charset);

// The Shift_JIS text in the charset: SjisToJis for ISO-2022-JP (the text
// must fit it), CP932 to UTF-8 for UTF-8.
std::string ToWireCharset(std::string_view sjis, WireCharset charset);

// The Shift_JIS text as B-encoded words of the charset, each a whole string
// of characters (an ISO-2022-JP word returns to ASCII before it ends), so
// that every blank of the text is inside a word and survives the joining of
// words. The first word is at most `firstRoom` characters long (at least 20
// is assumed), every other at most kMaxEncodedWord.
std::vector<std::string> EncodedWords(std::string_view sjis, WireCharset charset,
                                      std::size_t firstRoom = kMaxEncodedWord);

// "Name: " followed by the tokens, one blank between two, with a line break
// put before a blank wherever the next token would take the line past
// kFoldAt; CR LF at the end. Empty tokens are written but never start a line.
std::string FoldedField(std::string_view name, const std::vector<std::string>& tokens);

// An unstructured field (Subject): printable ASCII as it is (split at its
// blanks for folding), anything else, and ASCII with a word too long for
// one line, as encoded words of the charset.
std::string UnstructuredField(std::string_view name, std::string_view sjis, WireCharset charset);

// A display name as it stands in an address field: atoms as they are, other
// ASCII as a quoted string, anything else as encoded words. One or more
// tokens for FoldedField.
std::vector<std::string> DisplayNameTokens(std::string_view sjis, WireCharset charset);

// The parameter `attribute` with a UTF-8 value in the RFC 2231 form:
// `attribute*=UTF-8''%E5...`, or split into `attribute*0*=`, `attribute*1*=`
// ... when one line would not hold it. Each element is one parameter
// (without the ";" that precedes it). A plain ASCII value without special
// characters gives one `attribute="value"`.
std::vector<std::string> Rfc2231Parameter(std::string_view attribute, std::string_view utf8);

// Quoted-printable (RFC 2045 6.7) of text whose lines end in CR LF: no line
// longer than 76 characters, a blank or tab at a line end encoded, CR LF
// kept as hard line breaks, any other CR or LF encoded.
std::string EncodeQuotedPrintableText(std::string_view data);

// The charset label that matches a text attachment's bytes: "US-ASCII",
// "ISO-2022-JP" (7-bit with JIS escapes), "UTF-8", "Shift_JIS" (CP932), or
// "" when they are none of these.
std::string_view DetectTextCharset(std::string_view bytes);

// Base64 as mail writers send it, and decoded leniently: characters outside
// the alphabet are passed over.
std::string DecodeBase64Text(std::string_view text);

// True when no line (CR LF or LF ended) of `text` is longer than `limit`
// octets.
bool LinesWithin(std::string_view text, std::size_t limit);

} // namespace tegalo
