#include "timezone/local_zone.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "timezone/posix_tz.h"
#include "timezone/tzif_reader.h"
#include "timezone/zone_list.h"
#include "timezone/zone_period.h"

namespace remoteccm {
namespace {

// Zone names stay inside the zone folder: no parent steps.
bool IsSafeZoneName(std::string_view name) {
  if (name.empty() || name.front() == '/') return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    const std::size_t end = std::min(name.find('/', start), name.size());
    if (name.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

std::optional<ZoneRule> RuleOfZoneFile(std::string_view name,
                                       const std::filesystem::path& zoneinfo_dir) {
  std::filesystem::path file;
  if (!name.empty() && name.front() == '/') {
    file = std::filesystem::path(name);
  } else if (IsSafeZoneName(name)) {
    file = zoneinfo_dir / std::filesystem::path(name);
  } else {
    return std::nullopt;
  }
  if (const auto rule = ReadZoneFile(file, nullptr)) return rule->rule;
  return std::nullopt;
}

}  // namespace

ZoneRule ZoneRuleFromTz(const char* tz, const std::filesystem::path& zoneinfo_dir,
                        const std::filesystem::path& localtime) {
  if (tz == nullptr) {
    if (const auto rule = ReadZoneFile(localtime, nullptr)) return rule->rule;
    return {};
  }
  std::string_view value(tz);
  if (value.empty()) return {};
  if (value.front() == ':') {
    value.remove_prefix(1);
    return RuleOfZoneFile(value, zoneinfo_dir).value_or(ZoneRule{});
  }
  if (const auto rule = RuleOfZoneFile(value, zoneinfo_dir)) return *rule;
  if (const auto rule = ParsePosixTz(value)) return rule->rule;
  return {};
}

int CurrentBias(const ZoneRule& rule, std::time_t now) {
  // Far beyond the years a rule answers for, the moment stays out of range without overflowing.
  constexpr std::int64_t kLimit = 1'000'000'000'000;
  const std::int64_t seconds = std::clamp<std::int64_t>(now, -kLimit, kLimit);
  return BiasOf(rule, PeriodAtUtc(rule, seconds * 1000));
}

}  // namespace remoteccm
