// The Windows zone list: the registry's Time Zones key, one sub-key per zone with its display
// name and its rule as a 44-byte TZI record; and the computer's zone from
// GetTimeZoneInformation. The zone arithmetic is the one every build uses.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "timezone/local_zone.h"
#include "timezone/zone_list.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

constexpr char kZonesKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones";
constexpr char kOlderZonesKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Time Zones";

ZoneDate DateOf(const SYSTEMTIME& time) {
  return {time.wYear, time.wMonth,  time.wDayOfWeek, time.wDay,
          time.wHour, time.wMinute, time.wSecond,    time.wMilliseconds};
}

// A zone's key, read-only: under the older key first, as Windows 9x kept them, then under the
// Windows NT key.
HKEY OpenZone(const std::string& name) {
  HKEY key = nullptr;
  for (const char* root : {kOlderZonesKey, kZonesKey}) {
    const std::string path = std::string(root) + "\\" + name;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
      return key;
    }
  }
  return nullptr;
}

bool ReadZone(HKEY key, TimeZoneEntry& entry) {
  char display[256] = {};
  DWORD size = sizeof display - 1;
  DWORD type = 0;
  if (::RegQueryValueExA(key, "Display", nullptr, &type, reinterpret_cast<BYTE*>(display), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return false;
  }
  TziBytes tzi{};
  size = static_cast<DWORD>(tzi.size());
  if (::RegQueryValueExA(key, "TZI", nullptr, &type, tzi.data(), &size) != ERROR_SUCCESS ||
      type != REG_BINARY || size != tzi.size()) {
    return false;
  }
  entry.display_name = display;
  entry.rule = DecodeTzi(tzi);
  return true;
}

}  // namespace

std::vector<TimeZoneEntry> LoadSystemTimeZones() {
  std::vector<TimeZoneEntry> zones;
  HKEY list = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kZonesKey, 0, KEY_READ, &list) != ERROR_SUCCESS) {
    return zones;
  }
  std::vector<std::string> names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name;
    if (::RegEnumKeyExA(list, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.push_back(Trim(std::string_view(name, length)));
  }
  ::RegCloseKey(list);
  for (const std::string& zone_name : names) {
    const HKEY key = OpenZone(zone_name);
    if (key == nullptr) continue;
    TimeZoneEntry entry;
    entry.zone_id = zone_name;
    if (ReadZone(key, entry)) zones.push_back(std::move(entry));
    ::RegCloseKey(key);
  }
  std::sort(zones.begin(), zones.end(), [](const TimeZoneEntry& a, const TimeZoneEntry& b) {
    return a.display_name < b.display_name;
  });
  return zones;
}

std::string SystemTimeZonesSource() { return std::string("HKEY_LOCAL_MACHINE\\") + kZonesKey; }

ZoneRule ComputerZoneRule() {
  TIME_ZONE_INFORMATION info{};
  if (::GetTimeZoneInformation(&info) == TIME_ZONE_ID_INVALID) return {};
  ZoneRule rule;
  rule.bias = static_cast<std::int32_t>(info.Bias);
  rule.standard_bias = static_cast<std::int32_t>(info.StandardBias);
  rule.daylight_bias = static_cast<std::int32_t>(info.DaylightBias);
  rule.standard_date = DateOf(info.StandardDate);
  rule.daylight_date = DateOf(info.DaylightDate);
  return rule;
}

}  // namespace remoteccm
