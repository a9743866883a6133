// Received header fields decoded to Shift_JIS: encoded words (RFC 2047) in
// any charset, raw 8-bit text, and the parameters of Content-Type and
// Content-Disposition (RFC 2045, RFC 2231).
//
// Callers find the fields in the raw header block first and decode each
// value on its own: decoded CR, LF and NUL become blanks, so that no decoded
// text can make a header line of its own.
#pragma once

#include "mime/Charset.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tegalo {

// One field value decoded two ways.
struct DecodedValue {
    // The folds (CR LF and the blank after it) where they were: what the
    // stored header block shows.
    std::string folded;
    // Unfolded (RFC 5322): each CR LF removed, its blank kept, except
    // between two encoded words, whose blanks go too (RFC 2047 6.2).
    std::string unfolded;
};

// The raw value of the first field called `name` (given without its colon,
// any case) in a raw header block: the text after the colon, folds
// included. Only lines that start a field can match.
std::optional<std::string_view> FindRawField(std::string_view block, std::string_view name);

// Decodes a field value (the text after the colon, folds included).
// Encoded words are recognised even when text stands right against them;
// adjacent words of one charset are joined before conversion, so that a
// character split between them comes out whole. ISO-2022-JP words are
// converted each on its own, a run left open ending with its word.
DecodedValue DecodeFieldValue(std::string_view raw, DecodeTally& tally);

// The header block with every field's value decoded; field names, line
// structure and folds stay as they are.
std::string DecodeHeaderBlock(std::string_view rawBlock, DecodeTally& tally);

// The decoded bytes of an encoded word's text: "B" base64, "Q" the header
// form of quoted-printable ("_" is a blank). `encoding` is "B" or "Q" in
// either case.
std::string DecodeWordText(std::string_view text, char encoding);

struct MimeParam {
    std::string name;  // lower case, with its "*" and section number as written
    std::string value; // quotation marks and backslash escapes removed
};

// The parameters after the first ";" of a Content-Type or
// Content-Disposition value, unfolded: "; name=value" with the value
// quoted or not.
std::vector<MimeParam> ParseParameters(std::string_view value);

// The first parameter of that (lower-case) name, as written; empty when
// absent.
std::string ParameterValue(const std::vector<MimeParam>& params, std::string_view name);

// A parameter decoded to Shift_JIS: the RFC 2231 form ("name*=" or the
// sections "name*0*=", "name*1=", ...; any charset) when there is one, else
// the plain value, whose encoded words and raw 8-bit text are decoded like
// a field's. Empty when absent.
std::string DecodedParameter(const std::vector<MimeParam>& params, std::string_view name, DecodeTally& tally);

} // namespace tegalo
