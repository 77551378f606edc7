#include "timezone/zone_list.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "timezone/tzif_reader.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

constexpr std::string_view kUtcId = "UTC";

// Zone ids as tzdata spells them; anything else in a table file is not read as a path.
bool IsZoneId(std::string_view id) {
  if (id.empty() || id.size() > 64 || id.front() == '/' || id.back() == '/') return false;
  for (const char c : id) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '/' || c == '_' || c == '-' || c == '+';
    if (!ok) return false;
  }
  return id.find("//") == std::string_view::npos;
}

// The zone ids of zone1970.tab (one line per canonical zone, the id in the third column), or of
// zone.tab on an older tzdata.
std::vector<std::string> CanonicalZoneIds(const std::filesystem::path& dir) {
  std::vector<std::string> ids;
  for (const char* table : {"zone1970.tab", "zone.tab"}) {
    std::ifstream in(dir / table);
    if (!in) continue;
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line.front() == '#') continue;
      std::size_t start = 0;
      for (int column = 0; column < 2 && start != std::string::npos; ++column) {
        start = line.find('\t', start);
        if (start != std::string::npos) ++start;
      }
      if (start == std::string::npos) continue;
      const std::string_view id =
          TrimView(std::string_view(line).substr(start, line.find('\t', start) - start));
      if (IsZoneId(id)) ids.emplace_back(id);
    }
    return ids;
  }
  return ids;
}

// The links of tzdata.zi ("L Europe/Kyiv Europe/Kiev") as aliases of the listed zones.
void AddAliases(const std::filesystem::path& dir, std::vector<TimeZoneEntry>& zones) {
  std::ifstream in(dir / "tzdata.zi");
  std::string line;
  while (in && std::getline(in, line)) {
    if (line.size() < 2 || line[0] != 'L' || line[1] != ' ') continue;
    const std::string_view rest = TrimView(std::string_view(line).substr(2));
    const std::size_t space = rest.find(' ');
    if (space == std::string_view::npos) continue;
    const std::string_view target = rest.substr(0, space);
    const std::string_view link = TrimView(rest.substr(space + 1));
    if (!IsZoneId(link)) continue;
    for (TimeZoneEntry& zone : zones) {
      if (zone.zone_id == target) {
        zone.aliases.emplace_back(link);
        break;
      }
    }
  }
}

void AppendTwoDigits(std::string& text, int value) {
  text += static_cast<char>('0' + value / 10 % 10);
  text += static_cast<char>('0' + value % 10);
}

}  // namespace

std::filesystem::path DefaultZoneinfoDir() {
  const char* dir = std::getenv("REMOTECCM_ZONEINFO");
  if (dir != nullptr && *dir != '\0') return dir;
  return "/usr/share/zoneinfo";
}

std::string ZoneDisplayName(const ZoneRule& rule, std::string_view zone_id) {
  const long offset = -static_cast<long>(rule.bias);
  const long magnitude = std::min(offset < 0 ? -offset : offset, 99L * 60 + 59);
  std::string name = "(UTC";
  name += offset < 0 ? '-' : '+';
  AppendTwoDigits(name, static_cast<int>(magnitude / 60));
  name += ':';
  AppendTwoDigits(name, static_cast<int>(magnitude % 60));
  name += ") ";
  name += zone_id;
  return name;
}

std::vector<TimeZoneEntry> LoadTimeZones(const std::filesystem::path& zoneinfo_dir) {
  std::vector<TimeZoneEntry> zones;
  const std::vector<std::string> ids = CanonicalZoneIds(zoneinfo_dir);
  if (ids.empty()) return zones;
  zones.reserve(ids.size() + 1);
  for (const std::string& id : ids) {
    const auto rule = ReadZoneFile(zoneinfo_dir / id, nullptr);
    if (!rule) continue;
    zones.push_back({ZoneDisplayName(rule->rule, id), id, rule->rule, rule->approximated});
  }
  AddAliases(zoneinfo_dir, zones);
  const bool has_utc = std::any_of(zones.begin(), zones.end(),
                                   [](const TimeZoneEntry& z) { return z.zone_id == kUtcId; });
  if (!has_utc) {
    zones.push_back({ZoneDisplayName(ZoneRule{}, kUtcId), std::string(kUtcId), {}, false, {}});
  }
  std::sort(zones.begin(), zones.end(), [](const TimeZoneEntry& a, const TimeZoneEntry& b) {
    return a.display_name < b.display_name;
  });
  return zones;
}

int FindTimeZone(const std::vector<TimeZoneEntry>& zones, std::string_view stored_name) {
  const std::string_view name = TrimView(stored_name);
  if (name.empty()) return -1;
  const auto index_where = [&zones](auto&& matches) {
    for (std::size_t i = 0; i < zones.size(); ++i) {
      if (matches(zones[i])) return static_cast<int>(i);
    }
    return -1;
  };
  int found =
      index_where([name](const TimeZoneEntry& z) { return SameText(z.display_name, name); });
  if (found >= 0) return found;

  // The name after a "(UTC...)" or "(GMT...)" prefix: a zone id, or a Windows description.
  std::string_view rest = name;
  if (rest.front() == '(') {
    const std::size_t close = rest.find(')');
    if (close == std::string_view::npos) return -1;
    rest = TrimView(rest.substr(close + 1));
  }
  std::string_view zone_id = rest;
  for (const std::string_view utc_name :
       {"Etc/UTC", "Etc/UCT", "UCT", "Etc/Universal", "Universal", "Etc/Zulu", "Zulu"}) {
    if (SameText(zone_id, utc_name)) zone_id = kUtcId;
  }
  found = index_where([zone_id](const TimeZoneEntry& z) {
    if (SameText(z.zone_id, zone_id)) return true;
    return std::any_of(z.aliases.begin(), z.aliases.end(),
                       [zone_id](const std::string& alias) { return SameText(alias, zone_id); });
  });
  if (found >= 0) return found;

  const std::string_view windows_zone = WindowsZoneToZoneId(rest);
  if (windows_zone.empty()) return -1;
  return index_where([windows_zone](const TimeZoneEntry& z) { return z.zone_id == windows_zone; });
}

}  // namespace remoteccm
