// Base64 and quoted-printable content transfer encodings (RFC 2045).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tegalo {

// The base64 character of a 6-bit value (the RFC 2045 alphabet).
char Base64Char(int value);

// Encodes the first `length` bytes of `buffer` (at most 57) as base64 in
// place and returns the number of characters written: 4 for every three
// bytes, and a final group padded with "=" or "==". The buffer must hold
// that many characters; the caller terminates the text.
std::size_t EncodeBase64Chunk(char* buffer, std::size_t length);

// Base64 of `data` in lines of 76 characters (57-byte chunks), each line
// followed by CR LF, the last one shorter when the data runs out.
std::string EncodeBase64Lines(std::string_view data);

// The same, appended to `out`. Data given in pieces whose sizes are
// multiples of 57 bytes comes out as one continuous run of lines.
void AppendBase64Lines(std::string& out, std::string_view data);

// The number of characters EncodeBase64Lines makes of `bytes` bytes.
std::size_t Base64LinesSize(std::size_t bytes);

// EncodeBase64Lines into `out`, which has room for Base64LinesSize
// characters; returns that number.
std::size_t WriteBase64Lines(std::string_view data, char* out);

// Base64 of `data` without line breaks.
std::string EncodeBase64(std::string_view data);

// Decodes the first `count` characters of `buffer` as base64 in place and
// returns the number of bytes written to its start. Every complete group of
// four characters gives three bytes, two when it ends in "=", one when it
// ends in "=="; characters after the last complete group are ignored.
std::size_t DecodeBase64Line(char* buffer, std::size_t count);

// Decodes the base64 characters at the start of `in` for as long as they
// come in runs of sixteen characters of the alphabet (no "=", no line end
// or other character), with the vector unit where the processor has one.
// Returns how many characters it decoded (a multiple of sixteen; 0 without
// the vector unit) and writes three bytes for each four to `out`, which
// needs room for 32 bytes more than that. The caller decodes the rest (the
// end of a line, line ends, padding) itself.
std::size_t DecodeBase64Runs(const char* in, std::size_t count, char* out);

// Decodes base64 text line by line, each line (without its LF or CR LF)
// as DecodeBase64Line does, and appends the bytes to `out`.
void AppendBase64Decoded(std::string& out, std::string_view lines);

// Encodes one line (without its line end) as quoted-printable and returns it
// followed by CR LF. Bytes below 0x21, "=", 0x7F and bytes from 0x80 become
// "=XX"; after each input byte that leaves the output count at a multiple of
// 72 a soft line break "=" CR LF is written.
std::string EncodeQuotedPrintableLine(std::string_view line);

// Encodes a text line by line with EncodeQuotedPrintableLine. A text ending
// in CR LF comes out ending in CR LF; a text without a final line end comes
// out without one.
std::string EncodeQuotedPrintable(std::string_view text);

// The value of a hexadecimal digit in either case, or -1 for any other
// character.
int HexDigitValue(char c);

// Decodes quoted-printable text. "=" followed by two upper-case hexadecimal
// digits becomes that byte; "=" followed by any other two characters (a soft
// line break, lower-case hexadecimal) is dropped with them; an "=" with
// fewer than two characters after it is kept and what follows it dropped.
std::string DecodeQuotedPrintable(std::string_view text);

} // namespace tegalo
