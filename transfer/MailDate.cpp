#include "transfer/MailDate.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace tegalo {

namespace {

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Out-of-range fields are folded into range rather than read past a table.
const char* DayName(int weekday) {
    return kDays[((weekday % 7) + 7) % 7];
}

const char* MonthName(int month) {
    return kMonths[(((month - 1) % 12) + 12) % 12];
}

} // namespace

LocalTime SystemLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    LocalTime time;
    time.year = local.tm_year + 1900;
    time.month = local.tm_mon + 1;
    time.day = local.tm_mday;
    time.hour = local.tm_hour;
    time.minute = local.tm_min;
    time.second = local.tm_sec;
    time.weekday = local.tm_wday;
    time.utcOffsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
    return time;
}

std::string WireDate(const LocalTime& time) {
    const int offset = std::abs(time.utcOffsetMinutes);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d", DayName(time.weekday), time.day,
                  MonthName(time.month), time.year, time.hour, time.minute, time.second,
                  time.utcOffsetMinutes < 0 ? '-' : '+', offset / 60 % 100, offset % 60);
    return text;
}

std::string StoredDate(const LocalTime& time) {
    char text[32];
    std::snprintf(text, sizeof text, "%s, %s %02d, %04d", DayName(time.weekday), MonthName(time.month), time.day,
                  time.year);
    return text;
}

std::string SentCopyDate(const LocalTime& time) {
    char text[32];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d", DayName(time.weekday), time.day, MonthName(time.month),
                  time.year);
    return text;
}

} // namespace tegalo
