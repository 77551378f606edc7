// The status file NAME.status beside a profile: what its last run (or delete-all) did, as
// JSON, so that monitoring can watch an unattended collector without reading its log. Replaced
// atomically after every run; read back by remoteccm-cli --status and for the metrics.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "retrieval/report/run_status.h"

namespace remoteccm {

// What every run (and delete-all) of a profile did since its status file was first written,
// carried from file to file: the metrics' counters.
struct RunTotals {
  std::map<RunStatus, std::int64_t> runs;  // by result; results never had are absent
  std::int64_t records_collected = 0;
  std::int64_t records_deleted = 0;
};

// A status file's content: the run, its exit status, the end of the latest run that succeeded
// (this one or one before) and the totals, carried from file to file.
struct RunStatusRecord {
  RunSummary run;
  int exit_status = 0;
  std::optional<double> last_success;
  RunTotals totals;
};

// The result names of the file and the metrics: "success", "settings-invalid",
// "connection-failed", "pass-failed", "aborted", "locked".
std::string_view RunStatusName(RunStatus status);
std::optional<RunStatus> FindRunStatus(std::string_view name);

// "2026-11-01T10:00:05Z": whole seconds since 1970 in ISO 8601, UTC; and back (nothing for any
// other text).
std::string IsoUtcText(double seconds);
std::optional<double> ParseIsoUtc(std::string_view text);

// The status file of a profile: the profile file's path with the extension ".status".
std::filesystem::path StatusFilePath(const std::filesystem::path& profile_path);

// The record of a summary: the exit status of its outcome, last_success moved on to its end
// when it was a successful run (a delete-all collects nothing and moves nothing on), and the
// earlier totals with this run added.
RunStatusRecord RecordOfRun(const RunSummary& summary, std::optional<double> last_success,
                            const RunTotals& earlier = {});

// The JSON text of a record (UTF-8, ends with a line end).
std::string StatusFileText(const RunStatusRecord& record);

// What reading a status file gave: the record, or why there is none.
struct StatusFileRead {
  std::optional<RunStatusRecord> record;
  bool missing = false;  // no file: the profile has not run since status files were written
  std::string error;     // the file is there but cannot be read or understood
};

StatusFileRead ReadStatusFile(const std::filesystem::path& path);
// The record a status file's text holds, or why it holds none.
StatusFileRead ParseStatusFile(std::string_view content);

// Replaces the file with the record (temporary file, sync, rename, folder sync). Returns ""
// or the reason nothing was written.
std::string WriteStatusFile(const std::filesystem::path& path, const RunStatusRecord& record);

}  // namespace remoteccm
