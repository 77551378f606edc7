#include "timezone/time_conversion.h"

#include <algorithm>
#include <cmath>

#include "timezone/local_zone.h"

namespace remoteccm {
namespace {

constexpr double kSecondsPerDay = 86400.0;
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

int TimeConverter::BiasAt(std::int64_t moment) const {
  for (const CachedYear& slot : cache_) {
    if (moment >= slot.first && moment < slot.past) {
      return BiasOf(rule_, PeriodAt(slot.transitions, moment));
    }
  }
  const int year = YearOfMoment(moment);
  CachedYear& slot = cache_[next_slot_];
  next_slot_ = (next_slot_ + 1) % cache_.size();
  slot.first = FirstMomentOfYear(year);
  slot.past = FirstMomentOfYear(year + 1);
  slot.transitions = TransitionsOfYear(rule_, year);
  return BiasOf(rule_, PeriodAt(slot.transitions, moment));
}

// The period is looked up with the UTC moment itself, compared with the transition moments as
// they stand in the rule.
double TimeConverter::ToLocal(double cdr_seconds) const {
  if (manual_) return kUnixEpochDays + (cdr_seconds + offset_hours_ * 3600.0) / kSecondsPerDay;
  int bias = rule_.bias;
  if (has_rule_) {
    if (const auto moment = RuleMoment(cdr_seconds)) bias = BiasAt(*moment);
  }
  return kUnixEpochDays + (cdr_seconds - bias * 60.0) / kSecondsPerDay;
}

double TimeConverter::ToCdrSeconds(double local) const {
  const double local_seconds = (local - kUnixEpochDays) * kSecondsPerDay;
  if (manual_) return local_seconds - offset_hours_ * 3600.0;
  int bias = rule_.bias;
  if (has_rule_) {
    if (const auto moment = RuleMoment(local_seconds)) bias = BiasAt(*moment);
  }
  return local_seconds + bias * 60.0;
}

}  // namespace remoteccm
