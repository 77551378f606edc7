// The conversions against the C library for every zone of the zone list, 2026 to 2037, every
// change and the hours around it included: a zone whose rule the record states exactly must
// agree everywhere; an approximated one may differ, and its figures are printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <map>
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

constexpr std::time_t kTo = 2145916800;  // 2038-01-01 00:00 UTC

// 2026-01-01 00:00 UTC, or later: the zone list judges a rule by the table from a year before
// now on, so earlier changes are not the rule's to answer for.
std::time_t From() {
  const std::time_t a_year_ago = std::time(nullptr) - 366 * 86400;
  return std::max<std::time_t>(1767225600, a_year_ago);
}

// Every change of offset from `from` to kTo. No zone changes twice within six hours.
std::vector<Transition> LibcTransitions(std::time_t from) {
  constexpr std::time_t kStep = 6 * 3600;
  std::vector<Transition> found;
  long previous = GmtOffset(from);
  for (std::time_t t = from + kStep; t <= kTo; t += kStep) {
    const long now = GmtOffset(t);
    if (now == previous) continue;
    std::time_t lo = t - kStep;
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

struct Comparison {
  int samples = 0;
  int mismatches = 0;
  int changes_off = 0;  // changes with a mismatch within a day of them
  std::set<int> years_off;
  std::string first_failure;
};

// The converter's local time against the C library's: once a day (at a different hour each
// day) and every quarter of an hour from 26 hours before each change to 26 hours after it.
// Away from the changes the local time must also convert back to the same instant.
Comparison Compare(const TimeConverter& converter, const std::vector<Transition>& transitions,
                   std::time_t from) {
  Comparison result;
  const auto near_a_change = [&](std::time_t t) {
    return std::any_of(transitions.begin(), transitions.end(), [t](const Transition& tr) {
      return t > tr.at - 26 * 3600 && t < tr.at + 26 * 3600;
    });
  };
  const auto check = [&](std::time_t t) {
    ++result.samples;
    const double expected = kUnixEpochDays + static_cast<double>(t + GmtOffset(t)) / 86400.0;
    const double got = converter.ToLocal(static_cast<double>(t));
    bool ok = std::lround((got - expected) * 86400.0) == 0;
    if (ok && !near_a_change(t)) {
      ok = std::fabs(converter.ToCdrSeconds(got) - static_cast<double>(t)) < 1e-3;
    }
    if (ok) return true;
    ++result.mismatches;
    result.years_off.insert(YearOfMoment(static_cast<std::int64_t>(t) * 1000));
    if (result.first_failure.empty()) {
      result.first_failure = "at " + std::to_string(t) + ": " +
                             std::to_string(std::lround((got - expected) * 1440.0)) + " min";
    }
    return false;
  };
  for (std::time_t t = from, i = 0; t < kTo; t += 86400, ++i) check(t + (i * 3607) % 86400);
  for (const Transition& tr : transitions) {
    // Every check runs, for the counts: no short circuit.
    bool ok = check(tr.at - 1);
    ok &= check(tr.at);
    for (std::time_t t = tr.at - 26 * 3600; t <= tr.at + 26 * 3600; t += 900) ok &= check(t);
    if (!ok) ++result.changes_off;
  }
  return result;
}

TimeZoneSettings SettingsOf(const ZoneRule& rule) {
  TimeZoneSettings settings;
  settings.option = TimeZoneOption::kSelected;
  settings.selected_rule = rule;
  return settings;
}

TEST(LibcCrossCheck, EveryZoneOfTheListAgreesThroughEveryChange) {
  const std::vector<TimeZoneEntry> zones = LoadTimeZones(DefaultZoneinfoDir());
  ASSERT_GT(zones.size(), 300u);
  const std::time_t from = From();
  int exact_zones = 0;
  int exact_changes = 0;
  int exact_samples = 0;
  int exact_mismatches = 0;
  std::map<std::string, std::size_t> changes_of;
  std::string approximated_figures;
  for (const TimeZoneEntry& zone : zones) {
    SCOPED_TRACE(zone.zone_id);
    const TimeConverter converter(SettingsOf(zone.rule));
    const TzScope tz(zone.zone_id);
    const std::vector<Transition> transitions = LibcTransitions(from);
    const Comparison result = Compare(converter, transitions, from);
    changes_of[zone.zone_id] = transitions.size();
    if (zone.approximated) {
      std::string years;
      for (const int y : result.years_off) years += " " + std::to_string(y);
      approximated_figures += "  " + zone.zone_id + ": " + std::to_string(result.changes_off) +
                              " of " + std::to_string(transitions.size()) + " changes off, " +
                              std::to_string(result.mismatches) + " of " +
                              std::to_string(result.samples) +
                              " samples; years:" + (years.empty() ? " none" : years) + "\n";
      continue;
    }
    ++exact_zones;
    exact_changes += static_cast<int>(transitions.size());
    exact_samples += result.samples;
    exact_mismatches += result.mismatches;
    EXPECT_EQ(result.mismatches, 0) << result.first_failure;
  }
  std::cout << exact_zones << " exact zones, " << exact_changes << " changes, " << exact_samples
            << " samples, " << exact_mismatches << " mismatches\n"
            << zones.size() - static_cast<std::size_t>(exact_zones) << " approximated zones:\n"
            << approximated_figures;
  RecordProperty("exact_changes", exact_changes);
  RecordProperty("exact_mismatches", exact_mismatches);
  const auto zones_with_changes = std::count_if(changes_of.begin(), changes_of.end(),
                                                [](const auto& zone) { return zone.second > 0; });
  EXPECT_GE(zones_with_changes, 90);
  // Two changes a year in each of these, the 30-minute one of Lord Howe included.
  for (const char* zone : {"America/New_York", "Australia/Sydney", "Europe/London",
                           "Australia/Lord_Howe", "Pacific/Auckland"}) {
    const int index = FindTimeZone(zones, zone);
    ASSERT_GE(index, 0) << zone;
    EXPECT_FALSE(zones[static_cast<std::size_t>(index)].approximated) << zone;
    if (from == 1767225600) {
      EXPECT_EQ(changes_of[zone], 24u) << zone;
    }
  }
}

}  // namespace
}  // namespace remoteccm
