// The conversions against the C library for real tzdata zones, 2026 to 2037: they must agree
// everywhere except where the UTC moment is compared with a transition given in local time,
// i.e. between a transition's UTC instant and the same clock reading taken as UTC.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "timezone/time_conversion.h"
#include "timezone/tzif_reader.h"
#include "timezone/zone_list.h"
#include "timezone/zone_period.h"

namespace remoteccm {
namespace {

// Sets TZ for the C library and puts the old value back afterwards.
class TzScope {
 public:
  explicit TzScope(const std::string& zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) saved_ = old;
    setenv("TZ", zone.c_str(), 1);
    tzset();
  }
  ~TzScope() {
    if (had_) {
      setenv("TZ", saved_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_ = false;
  std::string saved_;
};

long GmtOffset(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm.tm_gmtoff;
}

struct Transition {
  std::time_t at;  // first second of the new offset
  long before;     // seconds east of UTC
  long after;
};

constexpr std::time_t kFrom = 1767225600;  // 2026-01-01 00:00 UTC
constexpr std::time_t kTo = 2145916800;    // 2038-01-01 00:00 UTC

std::vector<Transition> LibcTransitions() {
  std::vector<Transition> found;
  long previous = GmtOffset(kFrom);
  for (std::time_t t = kFrom + 3600; t <= kTo; t += 3600) {
    const long now = GmtOffset(t);
    if (now == previous) continue;
    std::time_t lo = t - 3600;
    std::time_t hi = t;
    while (hi - lo > 1) {
      const std::time_t mid = lo + (hi - lo) / 2;
      (GmtOffset(mid) == previous ? lo : hi) = mid;
    }
    found.push_back({hi, previous, now});
    previous = now;
  }
  return found;
}

// Minutes by which the conversion may differ from the C library at t: nonzero only between a
// transition's instant and its local clock reading taken as UTC.
long AllowedDifference(const std::vector<Transition>& transitions, std::time_t t) {
  for (const Transition& tr : transitions) {
    const std::time_t clock_as_utc = tr.at + tr.before;
    if (t >= tr.at && t < clock_as_utc) return (tr.before - tr.after) / 60;
    if (t >= clock_as_utc && t < tr.at) return (tr.after - tr.before) / 60;
  }
  return 0;
}

bool NearTransition(const std::vector<Transition>& transitions, std::time_t t, long seconds) {
  for (const Transition& tr : transitions) {
    if (t > tr.at - seconds && t < tr.at + seconds) return true;
  }
  return false;
}

struct Comparison {
  int samples = 0;
  int differences = 0;  // within the allowed windows, of the allowed size
  int unexplained = 0;  // anything else
  std::set<int> years_unexplained;
  std::string first_failure;
};

Comparison Compare(const std::string& zone, const TimeConverter& converter,
                   const std::vector<Transition>& transitions, bool check_round_trip) {
  Comparison result;
  const auto check = [&](std::time_t t) {
    ++result.samples;
    const long offset = GmtOffset(t);
    const double expected = kUnixEpochDays + static_cast<double>(t + offset) / 86400.0;
    const double got = converter.ToLocal(static_cast<double>(t));
    const long difference = std::lround((got - expected) * 1440.0);
    const long allowed = AllowedDifference(transitions, t);
    if (difference == allowed) {
      if (difference != 0) ++result.differences;
    } else {
      ++result.unexplained;
      result.years_unexplained.insert(YearOfMoment(static_cast<std::int64_t>(t) * 1000));
      if (result.first_failure.empty()) {
        result.first_failure = zone + " at " + std::to_string(t) + ": " +
                               std::to_string(difference) + " min, allowed " +
                               std::to_string(allowed);
      }
    }
    if (check_round_trip && !NearTransition(transitions, t, 26 * 3600)) {
      const double back = converter.ToCdrSeconds(got);
      if (std::fabs(back - static_cast<double>(t)) > 1e-3) {
        ++result.unexplained;
        if (result.first_failure.empty()) {
          result.first_failure = zone + " round trip at " + std::to_string(t);
        }
      }
    }
  };
  for (std::time_t t = kFrom; t < kTo; t += 3600) check(t);
  for (const Transition& tr : transitions) {
    for (std::time_t t = tr.at - 13 * 3600; t <= tr.at + 13 * 3600; t += 900) check(t);
    check(tr.at - 1);
    check(tr.at);
  }
  return result;
}

TimeZoneSettings SettingsOf(const ZoneRule& rule) {
  TimeZoneSettings settings;
  settings.option = TimeZoneOption::kSelected;
  settings.selected_rule = rule;
  return settings;
}

TEST(LibcCrossCheck, ExactZonesDifferOnlyInTheTransitionWindows) {
  const std::vector<std::string> zones = {"America/New_York",
                                          "America/Chicago",
                                          "America/Denver",
                                          "America/Phoenix",
                                          "America/Los_Angeles",
                                          "America/Anchorage",
                                          "Pacific/Honolulu",
                                          "America/Halifax",
                                          "America/St_Johns",
                                          "America/Havana",
                                          "America/Mexico_City",
                                          "America/Sao_Paulo",
                                          "America/Argentina/Buenos_Aires",
                                          "America/Bogota",
                                          "America/Miquelon",
                                          "America/Asuncion",
                                          "Atlantic/Azores",
                                          "Atlantic/Cape_Verde",
                                          "Europe/London",
                                          "Europe/Dublin",
                                          "Europe/Lisbon",
                                          "Europe/Berlin",
                                          "Europe/Paris",
                                          "Europe/Athens",
                                          "Europe/Helsinki",
                                          "Europe/Chisinau",
                                          "Europe/Moscow",
                                          "Europe/Istanbul",
                                          "Africa/Johannesburg",
                                          "Africa/Lagos",
                                          "Africa/Nairobi",
                                          "Africa/Abidjan",
                                          "Asia/Tehran",
                                          "Asia/Dubai",
                                          "Asia/Kabul",
                                          "Asia/Karachi",
                                          "Asia/Kolkata",
                                          "Asia/Kathmandu",
                                          "Asia/Dhaka",
                                          "Asia/Yangon",
                                          "Asia/Bangkok",
                                          "Asia/Shanghai",
                                          "Asia/Tokyo",
                                          "Australia/Eucla",
                                          "Australia/Perth",
                                          "Australia/Adelaide",
                                          "Australia/Darwin",
                                          "Australia/Brisbane",
                                          "Australia/Sydney",
                                          "Australia/Hobart",
                                          "Australia/Lord_Howe",
                                          "Pacific/Auckland",
                                          "Pacific/Chatham",
                                          "Pacific/Norfolk",
                                          "Pacific/Kiritimati",
                                          "Pacific/Marquesas",
                                          "Pacific/Easter",
                                          "Antarctica/Troll",
                                          "UTC"};
  int zones_with_daylight_time = 0;
  for (const std::string& zone : zones) {
    SCOPED_TRACE(zone);
    std::string error;
    const auto rule = ReadZoneFile(DefaultZoneinfoDir() / zone, &error);
    ASSERT_TRUE(rule.has_value()) << error;
    EXPECT_FALSE(rule->approximated);
    const TimeConverter converter(SettingsOf(rule->rule));
    const TzScope tz(zone);
    const std::vector<Transition> transitions = LibcTransitions();
    const Comparison result = Compare(zone, converter, transitions, true);
    EXPECT_EQ(result.unexplained, 0) << result.first_failure;
    if (!transitions.empty()) {
      ++zones_with_daylight_time;
      // Two transitions a year, and the comparison of the UTC moment shows in every window.
      EXPECT_EQ(transitions.size(), 24u);
      EXPECT_GT(result.differences, 0);
    } else {
      EXPECT_EQ(result.differences, 0);
    }
  }
  EXPECT_GE(zones_with_daylight_time, 25);
}

TEST(LibcCrossCheck, ApproximatedZonesAreOffOnlyInTheirOddYears) {
  // Rules the record cannot state exactly (transition times beyond 24 hours or before 0):
  // outside the windows the conversion may only differ within a week of a transition, and in
  // no more than a few of the twelve years.
  for (const std::string zone :
       {"Asia/Jerusalem", "America/Santiago", "Africa/Cairo", "America/Nuuk"}) {
    SCOPED_TRACE(zone);
    const auto rule = ReadZoneFile(DefaultZoneinfoDir() / zone, nullptr);
    ASSERT_TRUE(rule.has_value());
    EXPECT_TRUE(rule->approximated);
    const TimeConverter converter(SettingsOf(rule->rule));
    const TzScope tz(zone);
    const std::vector<Transition> transitions = LibcTransitions();
    const Comparison result = Compare(zone, converter, transitions, false);
    EXPECT_LE(result.years_unexplained.size(), 3u);
    std::string years;
    for (const int y : result.years_unexplained) years += " " + std::to_string(y);
    RecordProperty("years_off_" + zone, years);
    std::cout << zone << ": off in" << (years.empty() ? " no year" : years) << "\n";
    for (std::time_t t = kFrom; t < kTo; t += 3600) {
      const long offset = GmtOffset(t);
      const double expected = kUnixEpochDays + static_cast<double>(t + offset) / 86400.0;
      const long difference =
          std::lround((converter.ToLocal(static_cast<double>(t)) - expected) * 1440.0);
      if (difference != AllowedDifference(transitions, t)) {
        EXPECT_TRUE(NearTransition(transitions, t, 8 * 86400)) << t;
      }
    }
  }
}

}  // namespace
}  // namespace remoteccm
