// Local date/time values (days since 1899-12-30, the time of day as the fraction) shown in
// date and time pickers: QDateTime in UTC stands for the naive local time, so that no daylight
// change of this computer shifts it.
#pragma once

#include <QDateTime>

namespace remoteccm::gui {

QDateTime LocalValueToDateTime(double value);
double DateTimeToLocalValue(const QDateTime& date_time);

}  // namespace remoteccm::gui
