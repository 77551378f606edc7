// remoteccm-cli --list-zones prints the zone list in its order, one display name per line.
#include <gtest/gtest.h>

#include <string>

#include "support/run_cli.h"
#include "timezone/zone_list.h"

namespace remoteccm {
namespace {

TEST(ListZonesCommand, PrintsTheDisplayNamesInListOrder) {
  std::string expected;
  for (const TimeZoneEntry& zone : LoadTimeZones(DefaultZoneinfoDir())) {
    expected += zone.display_name + "\n";
  }
  ASSERT_FALSE(expected.empty());
  const testing::CliResult result = testing::RunCli("", "--list-zones", false);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, expected);
}

TEST(ListZonesCommand, ReportsAMissingZoneFolderAndAFullOutput) {
  const testing::CliResult missing =
      testing::RunCli("REMOTECCM_ZONEINFO=/nonexistent/zoneinfo", "--list-zones", true);
  EXPECT_NE(missing.status, 0);
  EXPECT_NE(missing.out.find("no time zones found in /nonexistent/zoneinfo"), std::string::npos);
  EXPECT_EQ(testing::RunCli("", "--list-zones > /dev/full", false).status, 74);
}

}  // namespace
}  // namespace remoteccm
