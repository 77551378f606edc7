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

}  // namespace

std::vector<std::string> ProfileSettingsLines(const ProfileSettings& settings,
                                              const ZoneRule& computer_rule) {
  const TimeZoneSettings zone = ProfileTimeZone(settings, computer_rule);
  std::vector<std::string> lines;
  for (const ProfileKey& key : ProfileKeys()) {
    if (key.file_source && settings.cdr_file_folder.empty()) continue;
    const std::string prefix = std::string(key.name) + "=";
    std::visit(
        [&](auto member) {
          const auto& field = settings.*member;
          using Field = std::decay_t<decltype(field)>;
          if constexpr (std::is_same_v<Field, std::string>) {
            const bool hidden = key.name == "Password" || key.name == "DialPassword";
            lines.push_back(prefix +
                            (hidden && !field.empty() ? std::string(kHiddenPassword) : field));
          } else if constexpr (std::is_same_v<Field, bool>) {
            lines.push_back(prefix + (field ? "Y" : "N"));
          } else if constexpr (std::is_same_v<Field, int>) {
            lines.push_back(prefix + FormatWhole(field));
          } else if constexpr (std::is_same_v<Field, double>) {
            if (key.kind == KeyKind::kCdrSeconds) {
              const double whole = std::round(field);
              lines.push_back(prefix + TimeText(whole, CdrSecondsToLocal(zone, whole)));
            } else {
              lines.push_back(prefix + TimeText(LocalToCdrSeconds(zone, field), field));
            }
          } else if constexpr (std::is_same_v<Field, RetrievalMode>) {
            lines.push_back(prefix + std::string(RetrievalModeText(field)));
          } else if constexpr (std::is_same_v<Field, IncrementMode>) {
            lines.push_back(prefix + std::string(IncrementModeText(field)));
          } else if constexpr (std::is_same_v<Field, TimeZoneOption>) {
            lines.push_back(prefix + FormatWhole(static_cast<int>(field)));
          } else {
            for (std::size_t i = 0; i < field.size(); ++i) {
              lines.push_back(std::string(key.name) + std::to_string(i) + "=" + field[i]);
            }
          }
        },
        key.field);
  }
  return lines;
}

}  // namespace remoteccm
