#include "util/utc_time.h"

namespace remoteccm {

bool UtcCalendarOf(std::time_t seconds, std::tm& fields) {
  return ::gmtime_s(&fields, &seconds) == 0;
}

std::time_t UtcSecondsOf(std::tm& fields) { return ::_mkgmtime(&fields); }

}  // namespace remoteccm
