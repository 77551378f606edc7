// The Windows originals behind the interfaces, under Wine: the install area in the registry,
// the registry's zone list against tzdata's for the zones both know, and the RAS phone book.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dialup/system_dialer.h"
#include "platform/registry/reg_access.h"
#include "timezone/local_zone.h"
#include "timezone/time_conversion.h"
#include "timezone/zone_list.h"

namespace remoteccm {
namespace {

constexpr char kSection[] = "REMOTECCM-TEST.EXE";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { Remove(); }
  void TearDown() override { Remove(); }
  static void Remove() {
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE,
                    (std::string("SOFTWARE\\velmor\\Install\\") + kSection).c_str());
  }
  TRegAccess registry_{""};
};

TEST_F(RegistryTest, ReadsAndWritesTheLocalMachineHive) {
  EXPECT_EQ(registry_.GetRegistryItem(kSection, "LASTPROFILE"), "");
  HKEY key = nullptr;
  EXPECT_NE(::RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            (std::string("SOFTWARE\\velmor\\Install\\") + kSection).c_str(), 0,
                            KEY_READ, &key),
            ERROR_SUCCESS)
      << "a read created the section";

  registry_.SetRegistryItem(kSection, "lastProfile", "C:\\CCM\\SITE.CCM");
  EXPECT_EQ(registry_.GetRegistryItem(kSection, "LastProfile"), "C:\\CCM\\SITE.CCM");
  ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            (std::string("SOFTWARE\\velmor\\Install\\") + kSection).c_str(), 0,
                            KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  char value[64] = {};
  DWORD size = sizeof value;
  EXPECT_EQ(::RegQueryValueExA(key, "LASTPROFILE", nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                               &size),
            ERROR_SUCCESS)
      << "the name is stored upper-cased";
  const DWORD number = 7;
  ::RegSetValueExA(key, "PATH", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof number);
  ::RegCloseKey(key);
  EXPECT_THROW(registry_.GetRegistryItem(kSection, "PATH"), RegistryError);

  registry_.SetRegistryItem(kSection, "LASTPROFILE", std::string(300, 'x'));
  EXPECT_EQ(registry_.GetRegistryItem(kSection, "LASTPROFILE"), std::string(255, 'x'));
}

// The zones of the registry against tzdata's (the host's, which Wine shows on Z:), through the
// one conversion both builds use, at moments either side of each year's transitions.
TEST(RegistryZonesTest, ConvertAsTzdataDoesForTheZonesBothKnow) {
  const std::vector<TimeZoneEntry> registry = LoadSystemTimeZones();
  ASSERT_GT(registry.size(), 50u);
  EXPECT_TRUE(std::is_sorted(registry.begin(), registry.end(),
                             [](const TimeZoneEntry& a, const TimeZoneEntry& b) {
                               return a.display_name < b.display_name;
                             }));
  const std::vector<TimeZoneEntry> tzdata = LoadTimeZones("Z:\\usr\\share\\zoneinfo");
  ASSERT_FALSE(tzdata.empty()) << "no tzdata under Z:\\usr\\share\\zoneinfo";
  int compared = 0;
  for (const char* name :
       {"(UTC-05:00) Eastern Time (US & Canada)", "(UTC-06:00) Central Time (US & Canada)",
        "(UTC-08:00) Pacific Time (US & Canada)",
        "(UTC+01:00) Amsterdam, Berlin, Bern, Rome, Stockholm, Vienna",
        "(UTC+10:00) Canberra, Melbourne, Sydney", "(UTC+09:00) Osaka, Sapporo, Tokyo",
        "(UTC+05:30) Chennai, Kolkata, Mumbai, New Delhi"}) {
    const int in_registry = FindTimeZone(registry, name);
    const int in_tzdata = FindTimeZone(tzdata, name);
    if (in_registry < 0) continue;  // a wording this Wine does not have
    ASSERT_GE(in_tzdata, 0) << name;
    ++compared;
    TimeZoneSettings windows_zone{
        TimeZoneOption::kSelected, registry[static_cast<std::size_t>(in_registry)].rule, 0, {}};
    TimeZoneSettings linux_zone{
        TimeZoneOption::kSelected, tzdata[static_cast<std::size_t>(in_tzdata)].rule, 0, {}};
    for (std::int64_t at = 1767225600; at < 1767225600 + 365 * 86400; at += 3 * 3600 + 17) {
      const auto seconds = static_cast<double>(at);
      ASSERT_DOUBLE_EQ(CdrSecondsToLocal(windows_zone, seconds),
                       CdrSecondsToLocal(linux_zone, seconds))
          << name << " at " << at;
    }
  }
  EXPECT_GE(compared, 5);
  // The computer's zone comes from GetTimeZoneInformation: some rule, never a failure.
  TIME_ZONE_INFORMATION info{};
  ::GetTimeZoneInformation(&info);
  EXPECT_EQ(ComputerZoneRule().bias, info.Bias);
}

// Wine's RAS has no phone book: the program says so, as the Linux build says that it has no
// NetworkManager, and a dial of a named entry is refused with its own words.
TEST(RasDialerTest, SaysThatThePhoneBookHasNoEntries) {
  const auto dialer = MakeSystemDialer();
  std::vector<std::string> names;
  const int listed = dialer->ListEntries(names);
  EXPECT_NE(listed, 0);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(dialer->ErrorText(listed), "There are no dial-up entries in the Windows phone book.");
  const int dialled = dialer->Dial({"Office", "user", "secret", ""});
  EXPECT_NE(dialled, 0);
  EXPECT_EQ(dialer->ErrorText(dialled), dialer->ErrorText(listed));
  EXPECT_EQ(dialer->State(), DialState::kEnded);
}

}  // namespace
}  // namespace remoteccm
