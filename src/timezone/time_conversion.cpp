#include "timezone/time_conversion.h"

#include <algorithm>
#include <cmath>

#include "timezone/local_zone.h"

namespace remoteccm {
namespace {

constexpr double kDayInSeconds = 86400.0;
constexpr int kLowestOffset = -23;
constexpr int kHighestOffset = 25;

// Whole milliseconds of a value in seconds since 1970, or none when it lies outside the years
// the rule arithmetic answers for (or is not a number).
std::optional<std::int64_t> RuleMoment(double seconds) {
  const double ms = std::round(seconds * 1000.0);
  if (!(ms >= static_cast<double>(kFirstRuleMoment) && ms < static_cast<double>(kPastRuleMoment))) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(ms);
}

}  // namespace

int EffectiveManualOffset(const TimeZoneSettings& settings, std::time_t now) {
  const int offset = std::clamp(settings.offset_hours, kLowestOffset, kHighestOffset);
  if (offset > 24) return -(CurrentBias(settings.computer_rule, now) / 60);
  return offset;
}

const ZoneRule& RuleInUse(const TimeZoneSettings& settings) {
  if (settings.option == TimeZoneOption::kSelected && settings.selected_rule) {
    return *settings.selected_rule;
  }
  return settings.computer_rule;
}

double CdrSecondsToLocal(const TimeZoneSettings& settings, double seconds) {
  return TimeConverter(settings).ToLocal(seconds);
}

double LocalToCdrSeconds(const TimeZoneSettings& settings, double local) {
  return TimeConverter(settings).ToCdrSeconds(local);
}

TimeConverter::TimeConverter(const TimeZoneSettings& settings)
    : TimeConverter(settings,
                    settings.option == TimeZoneOption::kManual && settings.offset_hours > 24
                        ? std::time(nullptr)
                        : std::time_t{0}) {}

TimeConverter::TimeConverter(const TimeZoneSettings& settings, std::time_t now)
    : settings_(settings), manual_(settings.option == TimeZoneOption::kManual) {
  if (manual_) {
    offset_hours_ = EffectiveManualOffset(settings, now);
  } else {
    rule_ = RuleInUse(settings);
    has_rule_ = HasDaylightRule(rule_);
  }
}

namespace {

// The cached year holding `year_moment`, filled by `transitions_of` when it is not there yet.
template <typename Slots, typename TransitionsOf>
const YearTransitions& CachedTransitions(Slots& cache, std::int64_t year_moment,
                                         TransitionsOf transitions_of) {
  for (const auto& slot : cache.slots) {
    if (year_moment >= slot.first && year_moment < slot.past) return slot.transitions;
  }
  const int year = YearOfMoment(year_moment);
  auto& slot = cache.slots[cache.next_slot];
  cache.next_slot = (cache.next_slot + 1) % cache.slots.size();
  slot.first = FirstMomentOfYear(year);
  slot.past = FirstMomentOfYear(year + 1);
  slot.transitions = transitions_of(year);
  return slot.transitions;
}

}  // namespace

int TimeConverter::BiasAtLocal(std::int64_t local_moment) const {
  const YearTransitions& transitions = CachedTransitions(
      local_cache_, local_moment, [this](int year) { return TransitionsOfYear(rule_, year); });
  return BiasOf(rule_, PeriodAt(transitions, local_moment));
}

int TimeConverter::BiasAtUtc(std::int64_t utc_moment) const {
  const std::int64_t standard_clock = StandardClockOf(rule_, utc_moment);
  if (standard_clock < kFirstRuleMoment || standard_clock >= kPastRuleMoment) return rule_.bias;
  const YearTransitions& transitions = CachedTransitions(
      utc_cache_, standard_clock, [this](int year) { return UtcTransitionsOfYear(rule_, year); });
  return BiasOf(rule_, PeriodAt(transitions, utc_moment));
}

// A CDR time is a UTC instant: daylight time begins when the UTC moment reaches the daylight
// start read on the standard clock, and ends when it reaches the standard start read on the
// daylight clock.
double TimeConverter::ToLocal(double cdr_seconds) const {
  if (manual_) return kUnixEpochDays + (cdr_seconds + offset_hours_ * 3600.0) / kDayInSeconds;
  int bias = rule_.bias;
  if (has_rule_) {
    if (const auto moment = RuleMoment(cdr_seconds)) bias = BiasAtUtc(*moment);
  }
  return kUnixEpochDays + (cdr_seconds - bias * 60.0) / kDayInSeconds;
}

// A local time is compared with the transitions as the rule states them. The hour a daylight
// start skips counts as daylight time (02:30 on a 02:00 start gives the instant of 01:30
// standard time); the hour a standard start repeats counts as daylight time, its first pass.
double TimeConverter::ToCdrSeconds(double local) const {
  const double local_seconds = (local - kUnixEpochDays) * kDayInSeconds;
  if (manual_) return local_seconds - offset_hours_ * 3600.0;
  int bias = rule_.bias;
  if (has_rule_) {
    if (const auto moment = RuleMoment(local_seconds)) bias = BiasAtLocal(*moment);
  }
  return local_seconds + bias * 60.0;
}

}  // namespace remoteccm
