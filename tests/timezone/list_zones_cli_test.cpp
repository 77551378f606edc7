// remoteccm-cli --list-zones prints the zone list in its order, one display name per line.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "timezone/zone_list.h"

namespace remoteccm {
namespace {

// Standard output and exit status of a shell command.
std::pair<std::string, int> RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {"", -1};
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int status = pclose(pipe);
  return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(ListZonesCommand, PrintsTheDisplayNamesInListOrder) {
  std::string expected;
  for (const TimeZoneEntry& zone : LoadTimeZones(DefaultZoneinfoDir())) {
    expected += zone.display_name + "\n";
  }
  ASSERT_FALSE(expected.empty());
  const auto [output, status] =
      RunCommand(std::string("'") + REMOTECCM_CLI_PATH + "' --list-zones");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, expected);
}

TEST(ListZonesCommand, ReportsAMissingZoneFolderAndAFullOutput) {
  const auto [output, status] = RunCommand("REMOTECCM_ZONEINFO=/nonexistent/zoneinfo '" +
                                           std::string(REMOTECCM_CLI_PATH) + "' --list-zones 2>&1");
  EXPECT_NE(status, 0);
  EXPECT_NE(output.find("no time zones found in /nonexistent/zoneinfo"), std::string::npos);
  const auto [full_output, full_status] =
      RunCommand(std::string("'") + REMOTECCM_CLI_PATH + "' --list-zones > /dev/full");
  EXPECT_EQ(full_status, 74);
}

}  // namespace
}  // namespace remoteccm
