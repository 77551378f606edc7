// Tells monitoring what a run (or delete-all) did: the status file beside the profile and, when
// a metrics folder is given, the Prometheus textfile. Neither changes how the run ended.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "profile/profile_file.h"
#include "retrieval/report/run_status.h"

namespace remoteccm {

// The engine's summary of its last run with what it leaves to its caller: the kind of command,
// and the stored start (read back from the profile when the summary has none) with its local
// time in the profile's zone.
RunSummary SummaryToReport(const RunSummary& last_run, RunKind kind, const ProfileEnvironment& env);

// The metrics folder: the one given, else $REMOTECCM_METRICS_DIR, else none (empty).
std::filesystem::path MetricsFolder(const std::filesystem::path& given);

// Writes the status file and, when metrics_folder is not empty, the metrics file; the time of
// the last successful run is carried over from the previous status file (or metrics file).
// Returns the log lines that say what could not be written: none when everything was.
std::vector<std::string> ReportRun(const RunSummary& summary,
                                   const std::filesystem::path& metrics_folder);

}  // namespace remoteccm
