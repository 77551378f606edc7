#include "profile/profile_text.h"

#include <cmath>
#include <type_traits>

#include "util/calendar.h"
#include "util/text_routines.h"

namespace remoteccm {

namespace {

std::string TimeText(double cdr_seconds, double local) {
  return FormatWhole(cdr_seconds) + " (" + FormatDateTime(local) + ")";
}

// A setting's value as the profile's lines show it.
struct ShownValue {
  std::string operator()(const std::string& value) const {
    const bool hidden = key.name == "Password" || key.name == "DialPassword";
    return hidden && !value.empty() ? std::string(kHiddenPassword) : value;
  }
  std::string operator()(bool value) const { return value ? "Y" : "N"; }
  std::string operator()(int value) const { return FormatWhole(value); }
  std::string operator()(double value) const {
    if (key.kind != KeyKind::kCdrSeconds) return TimeText(LocalToCdrSeconds(zone, value), value);
    const double whole = std::round(value);
    return TimeText(whole, CdrSecondsToLocal(zone, whole));
  }
  std::string operator()(RetrievalMode value) const {
    return std::string(RetrievalModeText(value));
  }
  std::string operator()(IncrementMode value) const {
    return std::string(IncrementModeText(value));
  }
  std::string operator()(TimeZoneOption value) const {
    return FormatWhole(static_cast<int>(value));
  }

  const ProfileKey& key;
  const TimeZoneSettings& zone;
};

}  // namespace

std::vector<std::string> ProfileSettingsLines(const ProfileSettings& settings,
                                              const ZoneRule& computer_rule) {
  const TimeZoneSettings zone = ProfileTimeZone(settings, computer_rule);
  std::vector<std::string> lines;
  for (const ProfileKey& key : ProfileKeys()) {
    if (key.file_source && settings.cdr_file_folder.empty()) continue;
    const ShownValue shown{key, zone};
    std::visit(
        [&](auto member) {
          const auto& field = settings.*member;
          using Field = std::decay_t<decltype(field)>;
          if constexpr (std::is_same_v<Field, std::vector<std::string>>) {
            for (std::size_t i = 0; i < field.size(); ++i) {
              lines.push_back(std::string(key.name) + std::to_string(i) + "=" + field[i]);
            }
          } else {
            lines.push_back(std::string(key.name) + "=" + shown(field));
          }
        },
        key.field);
  }
  return lines;
}

}  // namespace remoteccm
