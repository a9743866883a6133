#include "transfer/CheckTimer.h"

namespace tegalo {

std::optional<std::chrono::milliseconds> CheckTimerPeriod(std::string_view checkInterval) {
    constexpr long long kMaxMinutes = 35'791; // 35 791 × 60 000 ms < 2^31 ms
    if (checkInterval.empty() || checkInterval.size() > 5) {
        return std::nullopt;
    }
    long long minutes = 0;
    for (const char c : checkInterval) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        minutes = minutes * 10 + (c - '0');
    }
    if (minutes == 0 || minutes > kMaxMinutes) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(minutes * 60'000);
}

} // namespace tegalo
