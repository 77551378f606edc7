#include "retrieval/report/run_report.h"

#include <cstdlib>

#include "retrieval/report/metrics_file.h"
#include "retrieval/report/status_file.h"
#include "util/calendar.h"
#include "util/ini_file.h"
#include "util/text_routines.h"

namespace remoteccm {

RunSummary SummaryToReport(const RunSummary& last_run, RunKind kind,
                           const ProfileEnvironment& env) {
  RunSummary summary = last_run;
  summary.kind = kind;
  if (summary.profile_path.empty()) return summary;
  if (!summary.stored_start) {
    const std::string stored = ReadProfileValue(summary.profile_path, kProfileSection, kStartKey);
    if (!TrimView(stored).empty()) summary.stored_start = ParseDecimal(stored);
  }
  if (summary.stored_start) {
    const ProfileSettings settings = LoadProfile(summary.profile_path, env);
    const TimeConverter converter(ProfileTimeZone(settings, env.computer_rule));
    summary.stored_start_local = FormatDateTime(converter.ToLocal(*summary.stored_start));
  }
  return summary;
}

std::vector<std::string> ReportRun(const RunSummary& summary,
                                   const std::filesystem::path& metrics_folder) {
  std::vector<std::string> problems;
  // A run of no profile file (one the dialog has not named yet) has no status of its own:
  // beside an empty path, the working folder would get it.
  if (summary.profile_path.empty()) return problems;
  const std::filesystem::path status_path = StatusFilePath(summary.profile_path);
  const StatusFileRead previous = ReadStatusFile(status_path);
  std::optional<double> last_success;
  RunTotals totals;
  if (previous.record) {
    last_success = previous.record->last_success;
    totals = previous.record->totals;
  } else if (!metrics_folder.empty()) {
    last_success = LastSuccessInMetricsFile(MetricsFilePath(metrics_folder, summary.profile_name));
  }
  const RunStatusRecord record = RecordOfRun(summary, last_success, totals);

  const std::string status_error = WriteStatusFile(status_path, record);
  if (!status_error.empty()) {
    problems.push_back("Status not written to " + status_path.string() + ": " + status_error);
  }
  if (!metrics_folder.empty()) {
    const std::string metrics_error = WriteMetricsFile(metrics_folder, record);
    if (!metrics_error.empty()) {
      problems.push_back("No metrics written to " + metrics_folder.string() + ": " + metrics_error);
    }
  }
  return problems;
}

std::filesystem::path MetricsFolder(const std::filesystem::path& given) {
  if (!given.empty()) return given;
  const char* from_environment = std::getenv("REMOTECCM_METRICS_DIR");
  return from_environment != nullptr ? std::filesystem::path(from_environment)
                                     : std::filesystem::path();
}

}  // namespace remoteccm
