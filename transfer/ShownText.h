// Server replies and other foreign text as a status line can show them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tegalo {

// Longest piece of a reply that a status text shows.
inline constexpr std::size_t kMaxReplyShown = 200;

// `text` (Shift_JIS or ASCII) cut to kMaxReplyShown bytes before a
// double-byte character that would not fit, with "..." after a cut, and
// every control byte shown as "?".
std::string ShownReply(std::string_view text);

} // namespace tegalo
