// The dates the send session writes: the Date header line of RFC 5322 and
// the date piece of the sent copy. Always English names and ASCII digits,
// whatever the user's locale; the time comes from an injected clock.
#pragma once

#include <functional>
#include <string>

namespace tegalo {

// A moment as the local clock shows it.
struct LocalTime {
    int year = 1970;
    int month = 1;            // 1 to 12
    int day = 1;              // 1 to 31
    int hour = 0;             // 0 to 23
    int minute = 0;
    int second = 0;           // 0 to 60
    int weekday = 4;          // 0 Sunday to 6 Saturday
    int utcOffsetMinutes = 0; // positive east of Greenwich: +0900 is 540
};

// Where the session takes the time of sending from.
using Clock = std::function<LocalTime()>;

// The present moment in the local time zone.
LocalTime SystemLocalTime();

// "Mon, 07 Dec 2026 10:00:00 +0900": day, date, time and zone, as a Date
// header needs them (RFC 5322 3.3).
std::string WireDate(const LocalTime& time);

// "Mon, Dec 07, 2026": the form of the date piece that composed messages
// carry in the waiting and sent folders.
std::string StoredDate(const LocalTime& time);

// "Mon, 07 Dec 2026": the date piece of the copy filed in the sent folder
// when a message went out.
std::string SentCopyDate(const LocalTime& time);

} // namespace tegalo
