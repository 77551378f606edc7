// The selection and deletion statements of one pass, by retrieval mode, with the status texts
// and log lines that go with them. Both statements of a pass name the same window.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "profile/profile_settings.h"
#include "timezone/time_conversion.h"

namespace remoteccm {

// "New Records Only" never selects the last minute: CallManager may still be writing records
// dated in it, and a window that ended there would pass over them for good.
inline constexpr double kUnsettledSeconds = 60;

enum class StatementKind { kSelection = 0, kDeletion = 1 };

// The values of the pass a statement is built from.
struct PassValues {
  double start_value = 0;  // SQLNewRecDate at the beginning of the pass (CDR seconds)
  double now = 0;          // the pass's start moment (CDR seconds)
  double range_start = 0;  // By Date: start of the next window (CDR seconds)
  double range_end = 0;    // By Date: exclusive end of the range (CDR seconds)
  // New Records Only: the selection reaches back to here (late arrivals); the window's end
  // is still worked out from start_value.
  std::optional<double> select_from;
};

struct Statement {
  std::vector<std::string> lines;      // empty: there is no statement
  std::optional<std::string> label1;   // new text of the upper status line, when it changes
  std::optional<std::string> label2;   // new text of the lower status line, when it changes
  std::vector<std::string> log_lines;  // logged while building, in order
  double window_end = 0;               // windowed modes: exclusive end of the window
  double increment = 0;                // windowed modes: window length in seconds
};

// Seconds of one increment unit: 60, 3600 or 86400.
double IncrementSeconds(int value, IncrementMode mode);

Statement BuildStatement(StatementKind kind, const ProfileSettings& settings,
                         const PassValues& pass, const TimeConverter& converter);

// "yyyy/mm/dd hh:nn" of a CDR time value in the profile's zone.
std::string StatusTime(const TimeConverter& converter, double cdr_seconds);

}  // namespace remoteccm
