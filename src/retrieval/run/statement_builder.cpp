#include "retrieval/run/statement_builder.h"

#include "util/calendar.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

void AddNonBlankLines(const std::vector<std::string>& source, std::vector<std::string>& lines) {
  for (const std::string& line : source) {
    if (!TrimView(line).empty()) lines.push_back(line);
  }
}

Statement Windowed(StatementKind kind, const ProfileSettings& settings, double start, double end,
                   double increment, const TimeConverter& converter) {
  Statement statement;
  statement.window_end = end;
  statement.increment = increment;
  const std::string& field = settings.sql_date_time_fld_name;
  const bool select = kind == StatementKind::kSelection;
  statement.lines.push_back((select ? "SELECT * FROM " : "DELETE FROM ") + settings.sql_table_name);
  statement.lines.push_back("WHERE (" + field + " >= " + FormatWhole(start) + ") and (" + field +
                            " < " + FormatWhole(end) + ")");
  statement.label2 = (select ? "Retrieving: " : "Deleting: ") + StatusTime(converter, start) +
                     " to " + StatusTime(converter, end - 1);
  return statement;
}

}  // namespace

double IncrementSeconds(int value, IncrementMode mode) {
  switch (mode) {
    case IncrementMode::kMinutes:
      return value * 60.0;
    case IncrementMode::kHours:
      return value * 3600.0;
    case IncrementMode::kDays:
      return value * 86400.0;
  }
  return 0;
}

std::string StatusTime(const TimeConverter& converter, double cdr_seconds) {
  return FormatDateTime(converter.ToLocal(cdr_seconds), DateTimeFormat::kMinutes);
}

Statement BuildStatement(StatementKind kind, const ProfileSettings& settings,
                         const PassValues& pass, const TimeConverter& converter) {
  const bool select = kind == StatementKind::kSelection;
  switch (settings.connect_sql_mode) {
    case RetrievalMode::kAllRecords: {
      Statement statement;
      if (select) {
        statement.label2 = "Retrieving Records. Please Wait...";
        statement.lines.push_back("SELECT * FROM " + settings.sql_table_name);
      } else {
        statement.label1 = "Deleting Records..Please Wait...";
        statement.lines.push_back("DELETE FROM " + settings.sql_table_name);
      }
      return statement;
    }
    case RetrievalMode::kNewRecordsOnly: {
      const double start = pass.start_value;
      const double increment =
          IncrementSeconds(settings.new_rec_incr_value, settings.new_rec_incr_mode);
      const double end = MinFloat(pass.now - kUnsettledSeconds, start + increment);
      const double from = pass.select_from && *pass.select_from < start ? *pass.select_from : start;
      return Windowed(kind, settings, from, end, increment, converter);
    }
    case RetrievalMode::kByDate: {
      const double start = pass.range_start;
      const double increment =
          IncrementSeconds(settings.date_range_incr_value, settings.date_range_incr_mode);
      const double end = MinFloat(pass.range_end, start + increment);
      return Windowed(kind, settings, start, end, increment, converter);
    }
    case RetrievalMode::kBySqlQuery: {
      Statement statement;
      if (settings.connect_sql.empty()) return statement;
      statement.log_lines.push_back("Using Custom connect SQL strings");
      if (select) {
        statement.label2 = "Retrieving Records. Please Wait...";
        AddNonBlankLines(settings.connect_sql, statement.lines);
      } else {
        statement.label2 = "Deleting Records. Please Wait...";
        if (!settings.disconnect_sql.empty()) {
          AddNonBlankLines(settings.disconnect_sql, statement.lines);
          statement.log_lines.push_back("Using Custom disconnect SQL strings");
        }
      }
      return statement;
    }
    case RetrievalMode::kNoRecords:
      break;
  }
  Statement statement;
  statement.log_lines.push_back("No Records Collected/Deleted");
  return statement;
}

}  // namespace remoteccm
