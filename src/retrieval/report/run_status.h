// How a run (or a delete-all) ended, and the exit status both programs give for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace remoteccm {

enum class RunStatus {
  kSuccess,           // the database was reached and every pass succeeded
  kSettingsInvalid,   // the connection settings are unusable
  kConnectionFailed,  // dial-up or database connection failed
  kPassFailed,        // a pass failed (selection, deletion, writing a file, storing the start)
  kAborted,           // the user (or a signal) asked to stop
  kLocked,            // another run holds the destination: nothing was touched
};

// What a summary is of: a run of the profile, or the command that deletes all records.
enum class RunKind { kRun, kDeleteAll };

// What one run (or delete-all) did, for the status file and the metrics that monitoring reads.
// The warnings of a run: a start point later than now (nothing before it is collected), and
// damaged CDR files waiting in rejected/ (their records are collected by nobody).
inline constexpr std::string_view kStartInFutureWarning = "start-in-future";
inline constexpr std::string_view kRejectedCdrFilesWarning = "rejected-cdr-files";
// CDR files that cannot be imported have waited too long (waiting_files says which and why).
inline constexpr std::string_view kWaitingCdrFilesWarning = "cdr-files-waiting";
// Records imported from CDR files dated before what New Records Only still selects.
inline constexpr std::string_view kRecordsBeforeStartWarning = "records-before-start";

struct RunSummary {
  RunKind kind = RunKind::kRun;
  std::string profile_name;
  std::string profile_path;
  std::string destination;
  double started = 0;  // seconds since 1970-01-01 00:00 UTC
  double ended = 0;
  RunStatus status = RunStatus::kSuccess;
  std::int64_t records_collected = 0;  // lines owed to the destination by the passes that succeeded
  std::int64_t records_deleted = 0;    // records whose deletion was committed on the server
  int passes = 0;
  std::string last_error;              // the last log line that told of a failure
  std::optional<double> stored_start;  // SQLNewRecDate in the profile after the run
  std::string stored_start_local;      // stored_start in local time, "yyyy/mm/dd hh:nn:ss"
  // Conditions that need an administrator although the run went on (the names below).
  std::vector<std::string> warnings;
  // CDR files set aside as damaged: "NAME line N: why", the names escaped.
  std::vector<std::string> rejected_files;
  // CDR files that cannot be imported and have waited too long: "NAME: why", names escaped.
  std::vector<std::string> waiting_files;
  // Records the import brought dated before what New Records Only still selects.
  std::int64_t records_before_start = 0;
  // Where the profile still owes lines after the run (its note's destination), empty when none.
  std::string owed_at;
  // The exit status of the process when it is not the run's own (74: the log did not reach
  // standard output); the status file gives what the process gave.
  std::optional<int> exit_status;
};

// Exit statuses of remoteccm-cli and remoteccm.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNoProfile = 2;         // the named profile file does not exist
inline constexpr int kExitSettingsInvalid = 3;   // the connection settings are unusable
inline constexpr int kExitConnectionFailed = 4;  // dial-up or database connection failed
inline constexpr int kExitPassFailed = 5;        // a pass failed or a file could not be written
inline constexpr int kExitAborted = 6;           // SIGINT, SIGTERM or Abort stopped the run
inline constexpr int kExitUsage = 64;            // unknown option or missing argument
inline constexpr int kExitUnavailable = 70;      // a command this build does not provide
inline constexpr int kExitIoError = 74;          // standard output could not be written
inline constexpr int kExitLocked = 75;           // another run holds the destination (EX_TEMPFAIL)

constexpr int ExitStatusOf(RunStatus status) {
  switch (status) {
    case RunStatus::kSuccess:
      return kExitOk;
    case RunStatus::kSettingsInvalid:
      return kExitSettingsInvalid;
    case RunStatus::kConnectionFailed:
      return kExitConnectionFailed;
    case RunStatus::kPassFailed:
      return kExitPassFailed;
    case RunStatus::kAborted:
      return kExitAborted;
    case RunStatus::kLocked:
      return kExitLocked;
  }
  return kExitPassFailed;
}

}  // namespace remoteccm
