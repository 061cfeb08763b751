#pragma once
// The calendar time of a moment, locally and in UTC, as the C library's struct tm.

#include <ctime>
#include <string>

namespace tarven::platform {

std::tm LocalTime(std::time_t moment);
std::tm UtcTime(std::time_t moment);

// The local time's offset from UTC at `moment` as ISO 8601 writes it after a time: "+0300",
// "-0430", "+0000".
std::string UtcOffsetText(std::time_t moment);

// "+0300" for an offset east of Greenwich of `seconds` (whole minutes are kept).
std::string OffsetText(long seconds);

}  // namespace tarven::platform
