// The zone rule record: a bias and the two yearly (or one-off) transition dates, in the
// 44-byte little-endian "TZI" layout that profiles made on Windows refer to.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace remoteccm {

// One transition date: year 0 makes it a yearly rule (day 1..4 = n-th weekday, 5 = last).
struct ZoneDate {
  std::uint16_t year = 0;
  std::uint16_t month = 0;        // 0: the zone has no daylight period
  std::uint16_t day_of_week = 0;  // 0 = Sunday
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t millisecond = 0;
  friend bool operator==(const ZoneDate&, const ZoneDate&) = default;
};

// UTC = local + bias (minutes); StandardBias / DaylightBias are added in their periods.
struct ZoneRule {
  std::int32_t bias = 0;
  std::int32_t standard_bias = 0;
  std::int32_t daylight_bias = 0;
  ZoneDate standard_date;  // the moment daylight time ends
  ZoneDate daylight_date;  // the moment daylight time begins
  friend bool operator==(const ZoneRule&, const ZoneRule&) = default;
};

inline constexpr std::size_t kTziSize = 44;
using TziBytes = std::array<std::uint8_t, kTziSize>;

TziBytes EncodeTzi(const ZoneRule& rule);
ZoneRule DecodeTzi(const TziBytes& bytes);

}  // namespace remoteccm
