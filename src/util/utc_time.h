// The C library's UTC calendar, the same on every system: gmtime_r and timegm on POSIX,
// gmtime_s and _mkgmtime on Windows.
#pragma once

#include <ctime>

namespace remoteccm {

// The UTC calendar fields of seconds; false when the system cannot state them.
bool UtcCalendarOf(std::time_t seconds, std::tm& fields);

// The seconds of UTC calendar fields, which are normalised as timegm does (February 30th
// becomes March 2nd).
std::time_t UtcSecondsOf(std::tm& fields);

}  // namespace remoteccm
