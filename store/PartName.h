// The name of a stored attachment as the user sees it and as its copy is
// saved under.
#pragma once

#include <string>
#include <string_view>

namespace tegalo {

// `stored` (the name field of a part record) in Shift_JIS. The parts of
// messages Tegalo composed keep their names as they went out, in
// ISO-2022-JP ("ESC $ B ... ESC ( B"); those are converted. A name with
// broken escape sequences, and every other name, comes back as stored.
std::string ShownPartName(std::string_view stored);

} // namespace tegalo
