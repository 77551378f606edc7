// The list of time zones a profile can name: one entry per canonical tzdata zone, each with a
// display name like "(UTC-05:00) America/New_York" and its current rule.
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "timezone/zone_rule.h"

namespace remoteccm {

struct TimeZoneEntry {
  std::string display_name;  // "(UTC±hh:mm) Area/City"
  std::string zone_id;       // "Area/City"
  ZoneRule rule;
  bool approximated = false;  // the rule is the nearest the record can state (see posix_tz.h)
  std::vector<std::string> aliases;  // other names of the zone (tzdata links: "US/Eastern")
};

// The tzdata folder: $REMOTECCM_ZONEINFO if set, else /usr/share/zoneinfo.
std::filesystem::path DefaultZoneinfoDir();

// "(UTC+05:30) Asia/Kolkata": the standard offset of the rule and the zone id.
std::string ZoneDisplayName(const ZoneRule& rule, std::string_view zone_id);

// Every canonical zone of the folder, sorted by display name comparing character codes.
// A missing or unreadable folder gives an empty list.
std::vector<TimeZoneEntry> LoadTimeZones(const std::filesystem::path& zoneinfo_dir);

// The zone list of the system the program runs on (the platform's side). POSIX: the zones of
// tzdata (LoadTimeZones of DefaultZoneinfoDir). Win32: the registry's Time Zones key, each
// zone's "Display" name and "TZI" rule, sorted as LoadTimeZones sorts.
std::vector<TimeZoneEntry> LoadSystemTimeZones();

// Where LoadSystemTimeZones looks, for a message when it finds nothing.
std::string SystemTimeZonesSource();

// Index of the entry a stored SQLTimeZoneName names (its display name compared without regard
// to case; a zone id or one of its aliases, bare or after any "(UTC...)" prefix, so that a name
// stored before tzdata renamed the zone or changed its offset is still found; or the Windows
// display name of a common zone, in its "(UTC..." or older "(GMT..." form), or -1 when it names
// none.
int FindTimeZone(const std::vector<TimeZoneEntry>& zones, std::string_view stored_name);

// One Windows zone name as profiles made on Windows store it, and the tzdata zone it stands for.
struct WindowsZone {
  std::string_view windows_id;   // "Eastern Standard Time"
  std::string_view description;  // the display name without its "(UTC-05:00) " prefix
  std::string_view zone_id;      // "America/New_York"
};

// The Windows zones this program recognises, current wordings and older ones.
std::span<const WindowsZone> WindowsZones();

// The tzdata zone of a Windows zone description (the text after the "(UTC...)" prefix) or
// Windows zone id, compared without regard to case; empty when the name is not a known one.
std::string_view WindowsZoneToZoneId(std::string_view description_or_id);

}  // namespace remoteccm
