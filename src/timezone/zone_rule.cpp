#include "timezone/zone_rule.h"

namespace remoteccm {
namespace {

void Put16(TziBytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v & 0xFF);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(TziBytes& b, std::size_t at, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(u >> (8 * i));
}
std::uint16_t Get16(const TziBytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::int32_t Get32(const TziBytes& b, std::size_t at) {
  std::uint32_t u = 0;
  for (std::size_t i = 0; i < 4; ++i) u |= static_cast<std::uint32_t>(b[at + i]) << (8 * i);
  return static_cast<std::int32_t>(u);
}
void PutDate(TziBytes& b, std::size_t at, const ZoneDate& d) {
  const std::uint16_t f[8] = {d.year, d.month,  d.day_of_week, d.day,
                              d.hour, d.minute, d.second,      d.millisecond};
  for (std::size_t i = 0; i < 8; ++i) Put16(b, at + 2 * i, f[i]);
}
ZoneDate GetDate(const TziBytes& b, std::size_t at) {
  return ZoneDate{Get16(b, at),     Get16(b, at + 2),  Get16(b, at + 4),  Get16(b, at + 6),
                  Get16(b, at + 8), Get16(b, at + 10), Get16(b, at + 12), Get16(b, at + 14)};
}

}  // namespace

TziBytes EncodeTzi(const ZoneRule& rule) {
  TziBytes b{};
  Put32(b, 0, rule.bias);
  Put32(b, 4, rule.standard_bias);
  Put32(b, 8, rule.daylight_bias);
  PutDate(b, 12, rule.standard_date);
  PutDate(b, 28, rule.daylight_date);
  return b;
}

ZoneRule DecodeTzi(const TziBytes& b) {
  return ZoneRule{Get32(b, 0), Get32(b, 4), Get32(b, 8), GetDate(b, 12), GetDate(b, 28)};
}

}  // namespace remoteccm
