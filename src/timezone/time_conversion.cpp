// Stand-in until the zone-rule arithmetic lands: plain UTC (manual offset honoured).
#include "timezone/time_conversion.h"

namespace remoteccm {

double CdrSecondsToLocal(const TimeZoneSettings& settings, double seconds) {
  const double u = kUnixEpochDays + seconds / 86400.0;
  if (settings.option == TimeZoneOption::kManual) return u + settings.offset_hours / 24.0;
  return u;
}

double LocalToCdrSeconds(const TimeZoneSettings& settings, double local) {
  double v = local;
  if (settings.option == TimeZoneOption::kManual) v = local - settings.offset_hours / 24.0;
  return (v - kUnixEpochDays) * 86400.0;
}

TimeConverter::TimeConverter(const TimeZoneSettings& settings) : settings_(settings) {}
double TimeConverter::ToLocal(double cdr_seconds) const {
  return CdrSecondsToLocal(settings_, cdr_seconds);
}
double TimeConverter::ToCdrSeconds(double local) const {
  return LocalToCdrSeconds(settings_, local);
}

}  // namespace remoteccm
