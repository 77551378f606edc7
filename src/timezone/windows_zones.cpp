// Windows zone names as profiles made on Windows store them, and the tzdata zone each stands for.
#include <string_view>

#include "timezone/zone_list.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

struct WindowsZone {
  std::string_view windows_id;
  std::string_view description;  // the display name without its "(UTC+hh:mm) " prefix
  std::string_view zone_id;
};

// Descriptions of current Windows versions first, then the older wordings of the same zones.
constexpr WindowsZone kWindowsZones[] = {
    {"UTC-11", "Coordinated Universal Time-11", "Pacific/Pago_Pago"},
    {"Samoa Standard Time", "Midway Island, Samoa", "Pacific/Pago_Pago"},
    {"Hawaiian Standard Time", "Hawaii", "Pacific/Honolulu"},
    {"Alaskan Standard Time", "Alaska", "America/Anchorage"},
    {"Pacific Standard Time (Mexico)", "Baja California", "America/Tijuana"},
    {"Pacific Standard Time", "Pacific Time (US & Canada)", "America/Los_Angeles"},
    {"Pacific Standard Time", "Pacific Time (US & Canada); Tijuana", "America/Los_Angeles"},
    {"US Mountain Standard Time", "Arizona", "America/Phoenix"},
    {"Mountain Standard Time (Mexico)", "Chihuahua, La Paz, Mazatlan", "America/Mazatlan"},
    {"Mountain Standard Time (Mexico)", "La Paz, Mazatlan", "America/Mazatlan"},
    {"Mountain Standard Time", "Mountain Time (US & Canada)", "America/Denver"},
    {"Central America Standard Time", "Central America", "America/Guatemala"},
    {"Central Standard Time", "Central Time (US & Canada)", "America/Chicago"},
    {"Central Standard Time (Mexico)", "Guadalajara, Mexico City, Monterrey",
     "America/Mexico_City"},
    {"Canada Central Standard Time", "Saskatchewan", "America/Regina"},
    {"SA Pacific Standard Time", "Bogota, Lima, Quito, Rio Branco", "America/Bogota"},
    {"SA Pacific Standard Time", "Bogota, Lima, Quito", "America/Bogota"},
    {"Eastern Standard Time (Mexico)", "Chetumal", "America/Cancun"},
    {"Eastern Standard Time", "Eastern Time (US & Canada)", "America/New_York"},
    {"US Eastern Standard Time", "Indiana (East)", "America/Indiana/Indianapolis"},
    {"Cuba Standard Time", "Havana", "America/Havana"},
    {"Haiti Standard Time", "Haiti", "America/Port-au-Prince"},
    {"Venezuela Standard Time", "Caracas", "America/Caracas"},
    {"Paraguay Standard Time", "Asuncion", "America/Asuncion"},
    {"Atlantic Standard Time", "Atlantic Time (Canada)", "America/Halifax"},
    {"Central Brazilian Standard Time", "Cuiaba", "America/Cuiaba"},
    {"SA Western Standard Time", "Georgetown, La Paz, Manaus, San Juan", "America/La_Paz"},
    {"SA Western Standard Time", "Caracas, La Paz", "America/La_Paz"},
    {"Pacific SA Standard Time", "Santiago", "America/Santiago"},
    {"Newfoundland Standard Time", "Newfoundland", "America/St_Johns"},
    {"Newfoundland Standard Time", "Newfoundland and Labrador", "America/St_Johns"},
    {"E. South America Standard Time", "Brasilia", "America/Sao_Paulo"},
    {"Argentina Standard Time", "Buenos Aires", "America/Argentina/Buenos_Aires"},
    {"SA Eastern Standard Time", "Buenos Aires, Georgetown", "America/Argentina/Buenos_Aires"},
    {"SA Eastern Standard Time", "Cayenne, Fortaleza", "America/Cayenne"},
    {"Greenland Standard Time", "Greenland", "America/Nuuk"},
    {"Montevideo Standard Time", "Montevideo", "America/Montevideo"},
    {"Bahia Standard Time", "Salvador", "America/Bahia"},
    {"Saint Pierre Standard Time", "Saint Pierre and Miquelon", "America/Miquelon"},
    {"UTC-02", "Coordinated Universal Time-02", "America/Noronha"},
    {"Mid-Atlantic Standard Time", "Mid-Atlantic", "America/Noronha"},
    {"Azores Standard Time", "Azores", "Atlantic/Azores"},
    {"Cape Verde Standard Time", "Cabo Verde Is.", "Atlantic/Cape_Verde"},
    {"Cape Verde Standard Time", "Cape Verde Is.", "Atlantic/Cape_Verde"},
    {"UTC", "Coordinated Universal Time", "UTC"},
    {"GMT Standard Time", "Dublin, Edinburgh, Lisbon, London", "Europe/London"},
    {"GMT Standard Time", "Greenwich Mean Time : Dublin, Edinburgh, Lisbon, London",
     "Europe/London"},
    {"Greenwich Standard Time", "Monrovia, Reykjavik", "Africa/Abidjan"},
    {"Greenwich Standard Time", "Casablanca, Monrovia", "Africa/Abidjan"},
    {"Greenwich Standard Time", "Casablanca, Monrovia, Reykjavik", "Africa/Abidjan"},
    {"Morocco Standard Time", "Casablanca", "Africa/Casablanca"},
    {"W. Europe Standard Time", "Amsterdam, Berlin, Bern, Rome, Stockholm, Vienna",
     "Europe/Berlin"},
    {"Central Europe Standard Time", "Belgrade, Bratislava, Budapest, Ljubljana, Prague",
     "Europe/Budapest"},
    {"Romance Standard Time", "Brussels, Copenhagen, Madrid, Paris", "Europe/Paris"},
    {"Central European Standard Time", "Sarajevo, Skopje, Warsaw, Zagreb", "Europe/Warsaw"},
    {"W. Central Africa Standard Time", "West Central Africa", "Africa/Lagos"},
    {"Namibia Standard Time", "Windhoek", "Africa/Windhoek"},
    {"Jordan Standard Time", "Amman", "Asia/Amman"},
    {"GTB Standard Time", "Athens, Bucharest", "Europe/Bucharest"},
    {"GTB Standard Time", "Athens, Bucharest, Istanbul", "Europe/Bucharest"},
    {"GTB Standard Time", "Athens, Beirut, Istanbul, Minsk", "Europe/Athens"},
    {"Middle East Standard Time", "Beirut", "Asia/Beirut"},
    {"Egypt Standard Time", "Cairo", "Africa/Cairo"},
    {"E. Europe Standard Time", "Chisinau", "Europe/Chisinau"},
    {"E. Europe Standard Time", "Bucharest", "Europe/Bucharest"},
    {"Syria Standard Time", "Damascus", "Asia/Damascus"},
    {"South Africa Standard Time", "Harare, Pretoria", "Africa/Johannesburg"},
    {"FLE Standard Time", "Helsinki, Kyiv, Riga, Sofia, Tallinn, Vilnius", "Europe/Kyiv"},
    {"FLE Standard Time", "Helsinki, Kiev, Riga, Sofia, Tallinn, Vilnius", "Europe/Kyiv"},
    {"Israel Standard Time", "Jerusalem", "Asia/Jerusalem"},
    {"Kaliningrad Standard Time", "Kaliningrad", "Europe/Kaliningrad"},
    {"Libya Standard Time", "Tripoli", "Africa/Tripoli"},
    {"Turkey Standard Time", "Istanbul", "Europe/Istanbul"},
    {"Arabic Standard Time", "Baghdad", "Asia/Baghdad"},
    {"Arab Standard Time", "Kuwait, Riyadh", "Asia/Riyadh"},
    {"Belarus Standard Time", "Minsk", "Europe/Minsk"},
    {"Russian Standard Time", "Moscow, St. Petersburg", "Europe/Moscow"},
    {"Russian Standard Time", "Moscow, St. Petersburg, Volgograd", "Europe/Moscow"},
    {"E. Africa Standard Time", "Nairobi", "Africa/Nairobi"},
    {"Iran Standard Time", "Tehran", "Asia/Tehran"},
    {"Arabian Standard Time", "Abu Dhabi, Muscat", "Asia/Dubai"},
    {"Azerbaijan Standard Time", "Baku", "Asia/Baku"},
    {"Caucasus Standard Time", "Baku, Tbilisi, Yerevan", "Asia/Baku"},
    {"Caucasus Standard Time", "Yerevan", "Asia/Yerevan"},
    {"Georgian Standard Time", "Tbilisi", "Asia/Tbilisi"},
    {"Mauritius Standard Time", "Port Louis", "Indian/Mauritius"},
    {"Afghanistan Standard Time", "Kabul", "Asia/Kabul"},
    {"West Asia Standard Time", "Ashgabat, Tashkent", "Asia/Tashkent"},
    {"West Asia Standard Time", "Islamabad, Karachi, Tashkent", "Asia/Karachi"},
    {"Ekaterinburg Standard Time", "Ekaterinburg", "Asia/Yekaterinburg"},
    {"Pakistan Standard Time", "Islamabad, Karachi", "Asia/Karachi"},
    {"India Standard Time", "Chennai, Kolkata, Mumbai, New Delhi", "Asia/Kolkata"},
    {"India Standard Time", "Calcutta, Chennai, Mumbai, New Delhi", "Asia/Kolkata"},
    {"Sri Lanka Standard Time", "Sri Jayawardenepura", "Asia/Colombo"},
    {"Nepal Standard Time", "Kathmandu", "Asia/Kathmandu"},
    {"Central Asia Standard Time", "Astana", "Asia/Almaty"},
    {"Central Asia Standard Time", "Astana, Dhaka", "Asia/Dhaka"},
    {"Bangladesh Standard Time", "Dhaka", "Asia/Dhaka"},
    {"N. Central Asia Standard Time", "Novosibirsk", "Asia/Novosibirsk"},
    {"N. Central Asia Standard Time", "Almaty, Novosibirsk", "Asia/Novosibirsk"},
    {"Myanmar Standard Time", "Yangon (Rangoon)", "Asia/Yangon"},
    {"Myanmar Standard Time", "Rangoon", "Asia/Yangon"},
    {"SE Asia Standard Time", "Bangkok, Hanoi, Jakarta", "Asia/Bangkok"},
    {"North Asia Standard Time", "Krasnoyarsk", "Asia/Krasnoyarsk"},
    {"China Standard Time", "Beijing, Chongqing, Hong Kong, Urumqi", "Asia/Shanghai"},
    {"North Asia East Standard Time", "Irkutsk", "Asia/Irkutsk"},
    {"North Asia East Standard Time", "Irkutsk, Ulaan Bataar", "Asia/Irkutsk"},
    {"Singapore Standard Time", "Kuala Lumpur, Singapore", "Asia/Singapore"},
    {"W. Australia Standard Time", "Perth", "Australia/Perth"},
    {"Taipei Standard Time", "Taipei", "Asia/Taipei"},
    {"Ulaanbaatar Standard Time", "Ulaanbaatar", "Asia/Ulaanbaatar"},
    {"Tokyo Standard Time", "Osaka, Sapporo, Tokyo", "Asia/Tokyo"},
    {"Korea Standard Time", "Seoul", "Asia/Seoul"},
    {"Yakutsk Standard Time", "Yakutsk", "Asia/Yakutsk"},
    {"Cen. Australia Standard Time", "Adelaide", "Australia/Adelaide"},
    {"AUS Central Standard Time", "Darwin", "Australia/Darwin"},
    {"E. Australia Standard Time", "Brisbane", "Australia/Brisbane"},
    {"AUS Eastern Standard Time", "Canberra, Melbourne, Sydney", "Australia/Sydney"},
    {"West Pacific Standard Time", "Guam, Port Moresby", "Pacific/Port_Moresby"},
    {"Tasmania Standard Time", "Hobart", "Australia/Hobart"},
    {"Vladivostok Standard Time", "Vladivostok", "Asia/Vladivostok"},
    {"Lord Howe Standard Time", "Lord Howe Island", "Australia/Lord_Howe"},
    {"Magadan Standard Time", "Magadan", "Asia/Magadan"},
    {"Central Pacific Standard Time", "Solomon Is., New Caledonia", "Pacific/Guadalcanal"},
    {"Central Pacific Standard Time", "Magadan, Solomon Is., New Caledonia", "Pacific/Guadalcanal"},
    {"New Zealand Standard Time", "Auckland, Wellington", "Pacific/Auckland"},
    {"Fiji Standard Time", "Fiji", "Pacific/Fiji"},
    {"Fiji Standard Time", "Fiji, Kamchatka, Marshall Is.", "Pacific/Fiji"},
    {"Chatham Islands Standard Time", "Chatham Islands", "Pacific/Chatham"},
    {"Tonga Standard Time", "Nuku'alofa", "Pacific/Tongatapu"},
    {"Samoa Standard Time", "Samoa", "Pacific/Apia"},
    {"Line Islands Standard Time", "Kiritimati Island", "Pacific/Kiritimati"},
};

}  // namespace

std::string_view WindowsZoneToZoneId(std::string_view description_or_id) {
  const std::string_view name = TrimView(description_or_id);
  if (name.empty()) return {};
  for (const WindowsZone& zone : kWindowsZones) {
    if (SameText(zone.description, name)) return zone.zone_id;
  }
  for (const WindowsZone& zone : kWindowsZones) {
    if (SameText(zone.windows_id, name)) return zone.zone_id;
  }
  return {};
}

}  // namespace remoteccm
