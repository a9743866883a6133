// The period of the timer that checks for new mail.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace tegalo {

// `checkInterval` is a number of minutes ("10", "20" or "30" from the
// settings dialog). Returns that many minutes, or nullopt when the text is
// empty, holds anything but digits, is 0, or is too long for a 32-bit
// millisecond timer (more than 35 791 minutes): then no timer runs.
std::optional<std::chrono::milliseconds> CheckTimerPeriod(std::string_view checkInterval);

} // namespace tegalo
