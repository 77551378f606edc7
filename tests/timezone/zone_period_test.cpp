// The zone-rule arithmetic and the two conversions, with hand-made rules.
#include "timezone/zone_period.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "timezone/local_zone.h"
#include "timezone/time_conversion.h"
#include "timezone/zone_dates.h"

namespace remoteccm {
namespace {

ZoneRule Rule(int bias, ZoneDate daylight, ZoneDate standard, int daylight_bias = -60) {
  ZoneRule r;
  r.bias = bias;
  r.daylight_bias = daylight_bias;
  r.daylight_date = daylight;
  r.standard_date = standard;
  return r;
}

const ZoneRule kNewYork = Rule(300, Yearly(3, 2, 0, 2), Yearly(11, 1, 0, 2));
const ZoneRule kSydney = Rule(-600, Yearly(10, 1, 0, 2), Yearly(4, 1, 0, 3));
const ZoneRule kKolkata = Rule(-330, {}, {});

std::int64_t Ms(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return std::llround((EncodeDateTime(y, mo, d, h, mi, s) - kUnixEpochDays) * 86400.0) * 1000;
}
double Seconds(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return static_cast<double>(Ms(y, mo, d, h, mi, s)) / 1000.0;
}
double DateValue(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return kUnixEpochDays + Seconds(y, mo, d, h, mi, s) / 86400.0;
}

TimeZoneSettings Selected(const ZoneRule& rule) {
  TimeZoneSettings s;
  s.option = TimeZoneOption::kSelected;
  s.selected_rule = rule;
  return s;
}

TimeZoneSettings Manual(int offset, const ZoneRule& computer = {}) {
  TimeZoneSettings s;
  s.option = TimeZoneOption::kManual;
  s.offset_hours = offset;
  s.computer_rule = computer;
  return s;
}

constexpr double kOneMs = 1.0 / 86400000.0;

TEST(TransitionMoment, YearlyRulesNameTheNthOrLastWeekday) {
  // Last Sunday of March 01:00 and of October 02:00 in 2006.
  EXPECT_EQ(TransitionMoment(Yearly(3, 5, 0, 1), 2006), Ms(2006, 3, 26, 1));
  EXPECT_EQ(TransitionMoment(Yearly(10, 5, 0, 2), 2006), Ms(2006, 10, 29, 2));
  // First to fourth: March 2026 begins on a Sunday.
  EXPECT_EQ(TransitionMoment(Yearly(3, 1, 0, 2), 2026), Ms(2026, 3, 1, 2));
  EXPECT_EQ(TransitionMoment(Yearly(3, 2, 0, 2), 2026), Ms(2026, 3, 8, 2));
  EXPECT_EQ(TransitionMoment(Yearly(3, 4, 6, 0), 2026), Ms(2026, 3, 28));
  // The last of a weekday with five occurrences, and February of a leap year.
  EXPECT_EQ(TransitionMoment(Yearly(3, 5, 0, 2), 2026), Ms(2026, 3, 29, 2));
  EXPECT_EQ(TransitionMoment(Yearly(2, 5, 4, 0), 2024), Ms(2024, 2, 29));
  EXPECT_EQ(TransitionMoment(Yearly(2, 5, 4, 0), 2023), Ms(2023, 2, 23));
  // Seconds and milliseconds count.
  ZoneDate precise = Yearly(9, 5, 0, 2, 45);
  precise.second = 30;
  precise.millisecond = 250;
  EXPECT_EQ(TransitionMoment(precise, 2026), Ms(2026, 9, 27, 2, 45, 30) + 250);
}

TEST(TransitionMoment, DayNumbersOutsideOneToFiveAndBrokenDates) {
  // Above 5 counts as the last occurrence; 0 names no day.
  EXPECT_EQ(TransitionMoment(Yearly(10, 9, 0, 2), 2006), Ms(2006, 10, 29, 2));
  EXPECT_EQ(TransitionMoment(Yearly(10, 0, 0, 2), 2006), std::nullopt);
  EXPECT_EQ(TransitionMoment(Yearly(0, 1, 0, 2), 2006), std::nullopt);
  EXPECT_EQ(TransitionMoment(Yearly(13, 1, 0, 2), 2006), std::nullopt);
  EXPECT_EQ(TransitionMoment(Yearly(10, 1, 7, 2), 2006), std::nullopt);
  // One-off dates apply to their own year only, and must exist.
  ZoneDate one_off{2026, 4, 0, 5, 3, 0, 0, 0};
  EXPECT_EQ(TransitionMoment(one_off, 2026), Ms(2026, 4, 5, 3));
  EXPECT_EQ(TransitionMoment(one_off, 2027), std::nullopt);
  one_off.month = 2;
  one_off.day = 30;
  EXPECT_EQ(TransitionMoment(one_off, 2026), std::nullopt);
}

TEST(Period, NorthernSouthernAndWithoutDaylight) {
  EXPECT_EQ(PeriodOfMoment(kNewYork, Ms(2026, 1, 15)), ZonePeriod::kStandard);
  EXPECT_EQ(PeriodOfMoment(kNewYork, Ms(2026, 7, 15)), ZonePeriod::kDaylight);
  EXPECT_EQ(PeriodOfMoment(kNewYork, Ms(2026, 3, 8, 2) - 1), ZonePeriod::kStandard);
  EXPECT_EQ(PeriodOfMoment(kNewYork, Ms(2026, 3, 8, 2)), ZonePeriod::kDaylight);
  EXPECT_EQ(PeriodOfMoment(kNewYork, Ms(2026, 11, 1, 2) - 1), ZonePeriod::kDaylight);
  EXPECT_EQ(PeriodOfMoment(kNewYork, Ms(2026, 11, 1, 2)), ZonePeriod::kStandard);
  // Daylight over the new year: January and December daylight, July standard.
  EXPECT_EQ(PeriodOfMoment(kSydney, Ms(2026, 1, 15)), ZonePeriod::kDaylight);
  EXPECT_EQ(PeriodOfMoment(kSydney, Ms(2026, 12, 31, 23)), ZonePeriod::kDaylight);
  EXPECT_EQ(PeriodOfMoment(kSydney, Ms(2026, 7, 1)), ZonePeriod::kStandard);
  EXPECT_EQ(PeriodOfMoment(kKolkata, Ms(2026, 7, 1)), ZonePeriod::kNone);
  // Both transitions at the same moment: standard all year.
  EXPECT_EQ(PeriodOfMoment(Rule(0, Yearly(3, 1, 0, 2), Yearly(3, 1, 0, 2)), Ms(2026, 6, 1)),
            ZonePeriod::kStandard);
  // A one-off rule has a period only in its year.
  const ZoneRule one_off = Rule(0, {2026, 3, 0, 1, 0, 0, 0, 0}, {2026, 10, 0, 1, 0, 0, 0, 0});
  EXPECT_EQ(PeriodOfMoment(one_off, Ms(2026, 6, 1)), ZonePeriod::kDaylight);
  EXPECT_EQ(PeriodOfMoment(one_off, Ms(2027, 6, 1)), ZonePeriod::kNone);
  // Far outside years 1..9999 there is no period, and nothing overflows.
  EXPECT_EQ(PeriodOfMoment(kNewYork, std::numeric_limits<std::int64_t>::max()), ZonePeriod::kNone);
  EXPECT_EQ(PeriodOfMoment(kNewYork, std::numeric_limits<std::int64_t>::min()), ZonePeriod::kNone);
}

TEST(CurrentBias, TakesEachTransitionOnItsOwnClock) {
  const auto at = [](int y, int mo, int d, int h, int mi = 0, int s = 0) {
    return static_cast<std::time_t>(Seconds(y, mo, d, h, mi, s));
  };
  EXPECT_EQ(CurrentBias(kNewYork, at(2026, 1, 15, 12)), 300);
  EXPECT_EQ(CurrentBias(kNewYork, at(2026, 7, 15, 12)), 240);
  // 02:00 EST = 07:00 UTC; 02:00 EDT = 06:00 UTC.
  EXPECT_EQ(CurrentBias(kNewYork, at(2026, 3, 8, 6, 59, 59)), 300);
  EXPECT_EQ(CurrentBias(kNewYork, at(2026, 3, 8, 7)), 240);
  EXPECT_EQ(CurrentBias(kNewYork, at(2026, 11, 1, 5, 59, 59)), 240);
  EXPECT_EQ(CurrentBias(kNewYork, at(2026, 11, 1, 6)), 300);
  // Sydney: daylight in January, and on new year's eve UTC already daylight.
  EXPECT_EQ(CurrentBias(kSydney, at(2026, 1, 15, 0)), -660);
  EXPECT_EQ(CurrentBias(kSydney, at(2026, 12, 31, 20)), -660);
  EXPECT_EQ(CurrentBias(kKolkata, at(2026, 7, 1, 0)), -330);
  EXPECT_EQ(CurrentBias(kNewYork, std::numeric_limits<std::time_t>::max()), 300);
}

TEST(ManualOffset, TwentyFiveTakesTheComputersOffsetInWholeHours) {
  const std::time_t winter = static_cast<std::time_t>(Seconds(2026, 1, 15, 12));
  const std::time_t summer = static_cast<std::time_t>(Seconds(2026, 7, 15, 12));
  // A computer five hours behind UTC in standard time shows -5, in daylight time -4.
  EXPECT_EQ(EffectiveManualOffset(Manual(25, kNewYork), winter), -5);
  EXPECT_EQ(EffectiveManualOffset(Manual(25, kNewYork), summer), -4);
  // The division truncates toward zero: +05:30 gives 5, -03:30 gives -3.
  EXPECT_EQ(EffectiveManualOffset(Manual(25, kKolkata), winter), 5);
  EXPECT_EQ(EffectiveManualOffset(Manual(25, Rule(210, {}, {})), winter), -3);
  // Out of range values take the nearer bound first; 24 is kept.
  EXPECT_EQ(EffectiveManualOffset(Manual(30, kNewYork), winter), -5);
  EXPECT_EQ(EffectiveManualOffset(Manual(-30), winter), -23);
  EXPECT_EQ(EffectiveManualOffset(Manual(24), winter), 24);
  EXPECT_EQ(EffectiveManualOffset(Manual(-7), winter), -7);

  const TimeConverter converter(Manual(25, kNewYork), winter);
  EXPECT_NEAR(converter.ToLocal(0), DateValue(1969, 12, 31, 19), kOneMs);
}

TEST(Conversions, ManualOffset) {
  EXPECT_NEAR(CdrSecondsToLocal(Manual(-5), 0), DateValue(1969, 12, 31, 19), kOneMs);
  EXPECT_NEAR(LocalToCdrSeconds(Manual(-5), DateValue(1969, 12, 31, 19)), 0, 1e-3);
  EXPECT_DOUBLE_EQ(CdrSecondsToLocal(Manual(0), 86400), kUnixEpochDays + 1);
  EXPECT_DOUBLE_EQ(LocalToCdrSeconds(Manual(0), kUnixEpochDays + 1), 86400);
  EXPECT_NEAR(CdrSecondsToLocal(Manual(24), 0), kUnixEpochDays + 1, kOneMs);
  // Fractions of a second pass through unrounded.
  EXPECT_NEAR(LocalToCdrSeconds(Manual(0), kUnixEpochDays + 0.5 / 86400), 0.5, 1e-6);
}

const ZoneRule kLondon = Rule(0, Yearly(3, 5, 0, 1), Yearly(10, 5, 0, 2));
const ZoneRule kLordHowe = Rule(-630, Yearly(10, 1, 0, 2), Yearly(4, 1, 0, 2), -30);
const ZoneRule kAuckland = Rule(-720, Yearly(9, 5, 0, 2), Yearly(4, 1, 0, 3));

struct Moment {
  int y, mo, d, h, mi, s;
};
double SecondsOf(const Moment& m) { return Seconds(m.y, m.mo, m.d, m.h, m.mi, m.s); }
double DateValueOf(const Moment& m) { return DateValue(m.y, m.mo, m.d, m.h, m.mi, m.s); }

TEST(Conversions, CdrTimesChangeToDaylightTimeAtTheUtcInstantOfEachChange) {
  struct Case {
    const char* zone;
    const ZoneRule& rule;
    Moment utc;
    Moment local;
  };
  const Case cases[] = {
      {"New York", kNewYork, {2026, 1, 15, 12, 0, 0}, {2026, 1, 15, 7, 0, 0}},
      {"New York", kNewYork, {2026, 3, 8, 3, 0, 0}, {2026, 3, 7, 22, 0, 0}},
      {"New York", kNewYork, {2026, 3, 8, 6, 59, 59}, {2026, 3, 8, 1, 59, 59}},
      {"New York", kNewYork, {2026, 3, 8, 7, 0, 0}, {2026, 3, 8, 3, 0, 0}},
      {"New York", kNewYork, {2026, 11, 1, 5, 59, 59}, {2026, 11, 1, 1, 59, 59}},
      {"New York", kNewYork, {2026, 11, 1, 6, 0, 0}, {2026, 11, 1, 1, 0, 0}},
      {"Sydney", kSydney, {2026, 1, 15, 12, 0, 0}, {2026, 1, 15, 23, 0, 0}},
      {"Sydney", kSydney, {2026, 4, 4, 15, 59, 59}, {2026, 4, 5, 2, 59, 59}},
      {"Sydney", kSydney, {2026, 4, 4, 16, 0, 0}, {2026, 4, 5, 2, 0, 0}},
      {"Sydney", kSydney, {2026, 10, 3, 15, 59, 59}, {2026, 10, 4, 1, 59, 59}},
      {"Sydney", kSydney, {2026, 10, 3, 16, 0, 0}, {2026, 10, 4, 3, 0, 0}},
      {"Sydney", kSydney, {2026, 10, 3, 23, 0, 0}, {2026, 10, 4, 10, 0, 0}},
      {"Sydney", kSydney, {2026, 12, 31, 20, 0, 0}, {2027, 1, 1, 7, 0, 0}},
      {"London", kLondon, {2026, 3, 29, 0, 59, 59}, {2026, 3, 29, 0, 59, 59}},
      {"London", kLondon, {2026, 3, 29, 1, 0, 0}, {2026, 3, 29, 2, 0, 0}},
      {"London", kLondon, {2026, 10, 25, 0, 59, 59}, {2026, 10, 25, 1, 59, 59}},
      {"London", kLondon, {2026, 10, 25, 1, 0, 0}, {2026, 10, 25, 1, 0, 0}},
      {"Lord Howe", kLordHowe, {2026, 4, 4, 14, 59, 59}, {2026, 4, 5, 1, 59, 59}},
      {"Lord Howe", kLordHowe, {2026, 4, 4, 15, 0, 0}, {2026, 4, 5, 1, 30, 0}},
      {"Lord Howe", kLordHowe, {2026, 10, 3, 15, 29, 59}, {2026, 10, 4, 1, 59, 59}},
      {"Lord Howe", kLordHowe, {2026, 10, 3, 15, 30, 0}, {2026, 10, 4, 2, 30, 0}},
      {"Auckland", kAuckland, {2026, 4, 4, 13, 59, 59}, {2026, 4, 5, 2, 59, 59}},
      {"Auckland", kAuckland, {2026, 4, 4, 14, 0, 0}, {2026, 4, 5, 2, 0, 0}},
      {"Auckland", kAuckland, {2026, 9, 26, 13, 59, 59}, {2026, 9, 27, 1, 59, 59}},
      {"Auckland", kAuckland, {2026, 9, 26, 14, 0, 0}, {2026, 9, 27, 3, 0, 0}},
      {"Kolkata", kKolkata, {2026, 7, 1, 0, 0, 0}, {2026, 7, 1, 5, 30, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(CdrSecondsToLocal(Selected(c.rule), SecondsOf(c.utc)), DateValueOf(c.local), kOneMs)
        << c.zone << " " << c.utc.mo << "-" << c.utc.d << " " << c.utc.h << ":" << c.utc.mi;
  }
}

TEST(Conversions, LocalTimesInTheSkippedOrRepeatedHourCountAsDaylightTime) {
  struct Case {
    const char* what;
    const ZoneRule& rule;
    Moment local;
    Moment utc;
  };
  const Case cases[] = {
      {"NY before the skip", kNewYork, {2026, 3, 8, 1, 59, 59}, {2026, 3, 8, 6, 59, 59}},
      {"NY skipped hour", kNewYork, {2026, 3, 8, 2, 30, 0}, {2026, 3, 8, 6, 30, 0}},
      {"NY after the skip", kNewYork, {2026, 3, 8, 3, 0, 0}, {2026, 3, 8, 7, 0, 0}},
      {"NY repeated hour", kNewYork, {2026, 11, 1, 1, 30, 0}, {2026, 11, 1, 5, 30, 0}},
      {"NY after the repeat", kNewYork, {2026, 11, 1, 2, 0, 0}, {2026, 11, 1, 7, 0, 0}},
      {"Sydney skipped hour", kSydney, {2026, 10, 4, 2, 30, 0}, {2026, 10, 3, 15, 30, 0}},
      {"Sydney repeated hour", kSydney, {2026, 4, 5, 2, 30, 0}, {2026, 4, 4, 15, 30, 0}},
      {"Sydney after the repeat", kSydney, {2026, 4, 5, 3, 0, 0}, {2026, 4, 4, 17, 0, 0}},
      {"Lord Howe skipped half hour", kLordHowe, {2026, 10, 4, 2, 15, 0}, {2026, 10, 3, 15, 15, 0}},
      {"Lord Howe repeated half hour", kLordHowe, {2026, 4, 5, 1, 45, 0}, {2026, 4, 4, 14, 45, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(LocalToCdrSeconds(Selected(c.rule), DateValueOf(c.local)), SecondsOf(c.utc), 1e-3)
        << c.what;
  }
}

TEST(Conversions, OptionChoosesTheRule) {
  TimeZoneSettings settings;
  settings.computer_rule = kKolkata;
  settings.selected_rule = kNewYork;
  const double noon = Seconds(2026, 1, 15, 12);
  EXPECT_NEAR(CdrSecondsToLocal(settings, noon), DateValue(2026, 1, 15, 17, 30), kOneMs);
  settings.option = TimeZoneOption::kSelected;
  EXPECT_NEAR(CdrSecondsToLocal(settings, noon), DateValue(2026, 1, 15, 7), kOneMs);
  // Option 2 with no zone selected falls back on this computer's zone.
  settings.selected_rule.reset();
  EXPECT_NEAR(CdrSecondsToLocal(settings, noon), DateValue(2026, 1, 15, 17, 30), kOneMs);
  EXPECT_NEAR(LocalToCdrSeconds(settings, DateValue(2026, 1, 15, 17, 30)), noon, 1e-3);
}

TEST(TimeConverter, AgreesWithTheFreeFunctionsAcrossYears) {
  // Values that jump between years and around both transitions, so every cache slot is
  // reused; each must convert as a fresh conversion does.
  for (const ZoneRule& rule : {kNewYork, kSydney}) {
    const TimeZoneSettings settings = Selected(rule);
    const TimeConverter converter(settings);
    for (int i = 0; i < 4000; ++i) {
      const int year = 2020 + (i * 7) % 13;
      const double s = Seconds(year, 1, 1) + (i * 104729.0 * 97) - 3 * 86400.0 * (i % 5);
      EXPECT_EQ(converter.ToLocal(s), CdrSecondsToLocal(settings, s)) << s;
      const double local = DateValue(year, 1, 1) + i * 1.21;
      EXPECT_EQ(converter.ToCdrSeconds(local), LocalToCdrSeconds(settings, local)) << local;
    }
  }
}

TEST(Conversions, AbsurdValuesDoNotCrash) {
  const TimeConverter converter(Selected(kNewYork));
  EXPECT_TRUE(std::isnan(converter.ToLocal(std::nan(""))));
  EXPECT_TRUE(std::isnan(converter.ToCdrSeconds(std::nan(""))));
  EXPECT_TRUE(std::isinf(converter.ToLocal(std::numeric_limits<double>::infinity())));
  // Outside years 1..9999 the standard bias alone applies.
  EXPECT_DOUBLE_EQ(converter.ToLocal(1e15), kUnixEpochDays + (1e15 - 300 * 60) / 86400);
  EXPECT_DOUBLE_EQ(converter.ToCdrSeconds(-1e12), (-1e12 - kUnixEpochDays) * 86400 + 300 * 60);
  EXPECT_TRUE(std::isfinite(converter.ToLocal(-1e300)));
  // The first and last days the rule arithmetic answers for.
  EXPECT_NEAR(converter.ToLocal(Seconds(9999, 12, 31, 12)), DateValue(9999, 12, 31, 7), kOneMs);
  EXPECT_NEAR(converter.ToLocal(Seconds(9999, 7, 1, 12)), DateValue(9999, 7, 1, 8), kOneMs);
  const double first_noon = static_cast<double>(kFirstRuleMoment) / 1000 + 43200;
  EXPECT_NEAR(converter.ToLocal(first_noon), kUnixEpochDays + (first_noon - 18000) / 86400, kOneMs);
}

}  // namespace
}  // namespace remoteccm
