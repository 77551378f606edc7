// The yearly changeover dates of hand-made zone rules, as the zone-rule record holds them: the
// day is the week of the month (5 the last), the year 0.
#pragma once

#include <cstdint>

#include "timezone/zone_rule.h"

namespace remoteccm {

inline ZoneDate Yearly(int month, int day, int weekday, int hour, int minute = 0, int second = 0) {
  ZoneDate date;
  date.month = static_cast<std::uint16_t>(month);
  date.day = static_cast<std::uint16_t>(day);
  date.day_of_week = static_cast<std::uint16_t>(weekday);
  date.hour = static_cast<std::uint16_t>(hour);
  date.minute = static_cast<std::uint16_t>(minute);
  date.second = static_cast<std::uint16_t>(second);
  return date;
}

}  // namespace remoteccm
