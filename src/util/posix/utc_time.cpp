#include "util/utc_time.h"

namespace remoteccm {

bool UtcCalendarOf(std::time_t seconds, std::tm& fields) {
  return ::gmtime_r(&seconds, &fields) != nullptr;
}

std::time_t UtcSecondsOf(std::tm& fields) { return ::timegm(&fields); }

}  // namespace remoteccm
