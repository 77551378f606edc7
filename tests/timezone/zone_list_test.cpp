// The zone list of the installed tzdata, lookups of stored zone names, and the local zone.
#include "timezone/zone_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "support/scratch_dir.h"
#include "timezone/local_zone.h"
#include "timezone/posix_tz.h"
#include "timezone/tzif_reader.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

const std::vector<TimeZoneEntry>& InstalledZones() {
  static const std::vector<TimeZoneEntry> zones = LoadTimeZones(DefaultZoneinfoDir());
  return zones;
}

int IndexOfId(std::string_view id) {
  const auto& zones = InstalledZones();
  for (std::size_t i = 0; i < zones.size(); ++i) {
    if (zones[i].zone_id == id) return static_cast<int>(i);
  }
  return -1;
}

TEST(ZoneList, OneSortedEntryPerCanonicalZone) {
  const auto& zones = InstalledZones();
  ASSERT_GT(zones.size(), 250u);
  for (std::size_t i = 1; i < zones.size(); ++i) {
    EXPECT_LT(zones[i - 1].display_name, zones[i].display_name);
  }
  std::set<std::string> names;
  for (const auto& z : zones) {
    names.insert(z.display_name);
    EXPECT_EQ(z.display_name, ZoneDisplayName(z.rule, z.zone_id));
  }
  for (const char* name :
       {"(UTC-05:00) America/New_York", "(UTC+05:30) Asia/Kolkata", "(UTC+05:45) Asia/Kathmandu",
        "(UTC-03:30) America/St_Johns", "(UTC+10:30) Australia/Lord_Howe",
        "(UTC+12:45) Pacific/Chatham", "(UTC+00:00) UTC", "(UTC+00:00) Europe/Dublin",
        "(UTC+14:00) Pacific/Kiritimati", "(UTC-09:30) Pacific/Marquesas"}) {
    EXPECT_TRUE(names.count(name)) << name;
  }
  // Links and legacy names are not listed.
  for (const char* id : {"US/Eastern", "Asia/Calcutta", "EST5EDT", "Europe/Amsterdam"}) {
    EXPECT_EQ(IndexOfId(id), -1) << id;
  }
  // "+" sorts before "-": eastern zones first, as character codes order them.
  EXPECT_EQ(zones.front().display_name.substr(0, 5), "(UTC+");
  EXPECT_EQ(zones.back().display_name.substr(0, 5), "(UTC-");
}

TEST(ZoneList, ApproximatedZonesAreMarked) {
  std::set<std::string> approximated;
  for (const auto& z : InstalledZones()) {
    if (z.approximated) approximated.insert(z.zone_id);
  }
  // Transition times the record cannot state, and tables that leave the yearly rule around
  // Ramadan.
  for (const char* id : {"Asia/Jerusalem", "America/Santiago", "Africa/Cairo", "America/Nuuk",
                         "Africa/Casablanca", "Asia/Gaza"}) {
    EXPECT_TRUE(approximated.count(id)) << id;
  }
  EXPECT_FALSE(approximated.count("America/New_York"));
  EXPECT_LT(approximated.size(), 12u);
}

TEST(FindTimeZone, DisplayNamesZoneIdsAndWindowsNames) {
  const auto& zones = InstalledZones();
  const int new_york = IndexOfId("America/New_York");
  ASSERT_GE(new_york, 0);
  EXPECT_EQ(FindTimeZone(zones, "(UTC-05:00) America/New_York"), new_york);
  EXPECT_EQ(FindTimeZone(zones, "  (utc-05:00) AMERICA/NEW_YORK "), new_york);
  EXPECT_EQ(FindTimeZone(zones, "America/New_York"), new_york);
  EXPECT_EQ(FindTimeZone(zones, "(UTC-04:00) America/New_York"), new_york);
  EXPECT_EQ(FindTimeZone(zones, "(UTC-05:00) Eastern Time (US & Canada)"), new_york);
  EXPECT_EQ(FindTimeZone(zones, "(GMT-05:00) Eastern Time (US & Canada)"), new_york);
  EXPECT_EQ(FindTimeZone(zones, "Eastern Standard Time"), new_york);
  EXPECT_EQ(FindTimeZone(zones, "(GMT) Greenwich Mean Time : Dublin, Edinburgh, Lisbon, London"),
            IndexOfId("Europe/London"));
  EXPECT_EQ(FindTimeZone(zones, "(UTC+05:30) Chennai, Kolkata, Mumbai, New Delhi"),
            IndexOfId("Asia/Kolkata"));
  EXPECT_EQ(FindTimeZone(zones, "(UTC) Coordinated Universal Time"), IndexOfId("UTC"));
  EXPECT_EQ(FindTimeZone(zones, "Etc/UTC"), IndexOfId("UTC"));
  // Links and old names: a profile saved before tzdata renamed its zone keeps it.
  EXPECT_EQ(FindTimeZone(zones, "(UTC+02:00) Europe/Kiev"), IndexOfId("Europe/Kyiv"));
  EXPECT_EQ(FindTimeZone(zones, "US/Eastern"), new_york);
  EXPECT_EQ(FindTimeZone(zones, "asia/calcutta"), IndexOfId("Asia/Kolkata"));
  for (const char* unknown : {"", "   ", "(UTC-05:00)", "(UTC-05:00 Eastern", "Nowhere/Else",
                              "(GMT+01:00) Atlantis", "Eastern"}) {
    EXPECT_EQ(FindTimeZone(zones, unknown), -1) << unknown;
  }
  EXPECT_EQ(FindTimeZone({}, "America/New_York"), -1);
}

TEST(FindTimeZone, EveryWindowsZoneNamesAListedZone) {
  // Every tzdata zone the Windows table names must exist in the installed list, or a profile
  // made on Windows would silently lose its zone.
  const auto& zones = InstalledZones();
  ASSERT_GT(WindowsZones().size(), 100u);
  for (const WindowsZone& w : WindowsZones()) {
    const int index = IndexOfId(w.zone_id);
    EXPECT_GE(index, 0) << w.description << " -> " << w.zone_id;
    EXPECT_EQ(WindowsZoneToZoneId(w.windows_id).empty(), false);
    // The stored form is found whatever its prefix; the first row of a description wins.
    if (WindowsZoneToZoneId(w.description) == w.zone_id) {
      EXPECT_EQ(FindTimeZone(zones, "(UTC+01:00) " + std::string(w.description)), index);
      EXPECT_EQ(FindTimeZone(zones, "(GMT) " + std::string(w.description)), index);
    }
  }
}

class ZoneFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "Area");
    const fs::path real = DefaultZoneinfoDir();
    fs::copy_file(real / "America/New_York", dir_ / "Area/East");
    fs::copy_file(real / "Asia/Kolkata", dir_ / "Area/India");
    std::ofstream(dir_ / "Area/Broken") << "TZif2 but nothing else";
  }
  testing::ScratchDir dir_;
};

TEST_F(ZoneFolder, ReadsTheTableAndSkipsWhatItCannotUse) {
  std::ofstream(dir_ / "tzdata.zi")
      << "# version\nZ Area/East -5 - E%sT\nL Area/East Old/East\n"
         "L Area/Nowhere Old/Nowhere\nL Area/India\nL Area/India ../x\n";
  std::ofstream(dir_ / "zone1970.tab") << "# comment\n"
                                          "US\t+404251-0740023\tArea/East\tEastern\n"
                                          "IN\t+2232+08822\tArea/India\n"
                                          "XX\t+00+000\tArea/Broken\n"
                                          "XX\t+00+000\tArea/Missing\n"
                                          "XX\t+00+000\t../../etc/passwd\n"
                                          "short line\n"
                                          "\n";
  const auto zones = LoadTimeZones(dir_);
  ASSERT_EQ(zones.size(), 3u);
  EXPECT_EQ(zones[0].display_name, "(UTC+00:00) UTC");
  EXPECT_EQ(zones[1].display_name, "(UTC+05:30) Area/India");
  EXPECT_EQ(zones[2].display_name, "(UTC-05:00) Area/East");
  EXPECT_EQ(zones[2].aliases, std::vector<std::string>{"Old/East"});
  EXPECT_TRUE(zones[1].aliases.empty());
  EXPECT_EQ(FindTimeZone(zones, "(UTC-04:00) old/east"), 2);
}

TEST_F(ZoneFolder, MissingTableOrFolderGivesAnEmptyList) {
  EXPECT_TRUE(LoadTimeZones(dir_).empty());
  EXPECT_TRUE(LoadTimeZones(dir_ / "nowhere").empty());
}

TEST_F(ZoneFolder, ZoneRuleFromTz) {
  const fs::path localtime = dir_ / "Area/India";
  EXPECT_EQ(ZoneRuleFromTz(nullptr, dir_, localtime).bias, -330);
  EXPECT_EQ(ZoneRuleFromTz(nullptr, dir_, dir_ / "missing"), ZoneRule{});
  EXPECT_EQ(ZoneRuleFromTz("", dir_, localtime), ZoneRule{});
  EXPECT_EQ(ZoneRuleFromTz(":Area/East", dir_, localtime).bias, 300);
  EXPECT_EQ(ZoneRuleFromTz("Area/East", dir_, localtime).bias, 300);
  EXPECT_EQ(ZoneRuleFromTz((":" + (dir_ / "Area/India").string()).c_str(), dir_, localtime).bias,
            -330);
  EXPECT_EQ(ZoneRuleFromTz("CET-1CEST,M3.5.0,M10.5.0/3", dir_, localtime).bias, -60);
  EXPECT_EQ(ZoneRuleFromTz("Area/Broken", dir_, localtime), ZoneRule{});
  EXPECT_EQ(ZoneRuleFromTz(":../Area/East", dir_ / "Area", localtime), ZoneRule{});
  EXPECT_EQ(ZoneRuleFromTz("garbage!", dir_, localtime), ZoneRule{});
}

TEST(DefaultZoneinfoDir, EnvironmentVariableWins) {
  const char* saved = std::getenv("REMOTECCM_ZONEINFO");
  const std::string saved_value = saved ? saved : "";
  setenv("REMOTECCM_ZONEINFO", "/tmp/zones", 1);
  EXPECT_EQ(DefaultZoneinfoDir(), fs::path("/tmp/zones"));
  unsetenv("REMOTECCM_ZONEINFO");
  EXPECT_EQ(DefaultZoneinfoDir(), fs::path("/usr/share/zoneinfo"));
  if (saved) setenv("REMOTECCM_ZONEINFO", saved_value.c_str(), 1);
}

}  // namespace
}  // namespace remoteccm
