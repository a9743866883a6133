// MIME encoded words in header text (RFC 2047), ISO-2022-JP with the B encoding.
#pragma once

#include <string>
#include <string_view>

namespace tegalo {

// The 6-bit value of one base64 character. "=" counts as 0. Other characters
// from 0x30 to 0x7F take the offset of their column ("0".."9", "A".."Z",
// "a".."z"), modulo 64; anything else is 0.
int Base64Value(unsigned char c);

// Replaces every encoded word that starts with "=?iso-2022-jp?B?" or
// "=?ISO-2022-JP?B?" (exactly so) and ends at the next "?=" by its decoded
// bytes, which end at their first zero byte. All words with the lower-case
// prefix are decoded before any with the upper-case one, and decoded bytes
// are searched again like the rest of the text. A prefix without a "?=" after
// it ends the decoding there. The result is still ISO-2022-JP.
std::string DecodeHeaderWords(std::string_view text);

// Replaces every ISO-2022-JP run, from ESC $ B through the next ESC ( B, by
// "=?iso-2022-jp?B?" + the run's bytes in base64 + "?=". A run that is never
// closed extends to the end of the text. Text outside runs is copied as is.
std::string EncodeHeaderWords(std::string_view text);

} // namespace tegalo
