#include "gui/options/local_time.h"

#include <QTimeZone>
#include <cmath>

namespace remoteccm::gui {
namespace {

constexpr double kMsPerDay = 86'400'000.0;
const QDate kDayZero(1899, 12, 30);

}  // namespace

QDateTime LocalValueToDateTime(double value) {
  if (!std::isfinite(value)) value = 0;
  // Whole milliseconds, so that 0.5 s does not round differently for the date and the time.
  const double ms = std::round(value * kMsPerDay);
  const double days = std::floor(ms / kMsPerDay);
  const auto time_ms = static_cast<int>(ms - days * kMsPerDay);
  return QDateTime(kDayZero.addDays(static_cast<qint64>(days)), QTime(0, 0).addMSecs(time_ms),
                   QTimeZone::utc());
}

double DateTimeToLocalValue(const QDateTime& date_time) {
  const double days = static_cast<double>(kDayZero.daysTo(date_time.date()));
  return days + static_cast<double>(date_time.time().msecsSinceStartOfDay()) / kMsPerDay;
}

}  // namespace remoteccm::gui
