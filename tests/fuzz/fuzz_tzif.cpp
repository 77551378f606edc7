// Zone files, TZ strings and zone records on any bytes: no crash, and every rule that is
// accepted converts without leaving the arithmetic's range.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "timezone/local_zone.h"
#include "timezone/posix_tz.h"
#include "timezone/time_conversion.h"
#include "timezone/tzif_reader.h"

using namespace remoteccm;

namespace {

void Exercise(const ZoneRule& rule) {
  TimeZoneSettings settings;
  settings.option = TimeZoneOption::kSelected;
  settings.selected_rule = rule;
  const TimeConverter converter(settings);
  for (const double s : {0.0, 1767225600.0, 1774746000.0, 1792886400.0, -1e10, 2.5e11, 1e300}) {
    const double local = converter.ToLocal(s);
    if (!std::isfinite(local)) std::abort();
    if (!std::isfinite(converter.ToCdrSeconds(local))) std::abort();
  }
  CurrentBias(rule, 1767225600);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  std::string error;
  if (const auto footer = TzifFooter(bytes, &error)) {
    if (footer->find('\n') != std::string::npos) std::abort();
    if (const auto rule = ParsePosixTz(*footer)) {
      Exercise(rule->rule);
      TzifTableAgreesWithRule(bytes, rule->rule, 0);
    }
  } else if (error.empty()) {
    std::abort();
  }

  if (const auto rule = ParsePosixTz(bytes)) Exercise(rule->rule);

  if (size >= kTziSize) {
    TziBytes tzi{};
    std::memcpy(tzi.data(), data, kTziSize);
    const ZoneRule rule = DecodeTzi(tzi);
    if (rule.bias > -100000 && rule.bias < 100000 && std::abs(rule.standard_bias) < 100000 &&
        std::abs(rule.daylight_bias) < 100000) {
      Exercise(rule);
    }
  }
  return 0;
}
