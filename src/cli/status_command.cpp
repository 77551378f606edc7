// remoteccm-cli --status [PROFILE] [--max-age DURATION] [--critical-age DURATION]
// [--check-format nagios]: what the last run of one profile, or of
// every profile of the program home, did, read from the status files. The exit status tells a
// monitoring check whether all is well, so that it can call the command as it is.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "platform/home/program_home.h"
#include "retrieval/report/status_file.h"
#include "retrieval/spool/pass_spool.h"
#include "util/clock.h"
#include "util/posix_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

// How far a run's end may lie ahead of this computer's clock before it counts as wrong.
constexpr double kClockSlackSeconds = 300;

// What each warning of a run says to the administrator.
constexpr std::pair<std::string_view, std::string_view> kWarningTexts[] = {
    {kStartInFutureWarning, "start point in the future"},
    {kRejectedCdrFilesWarning, "damaged CDR files wait in the rejected folder beside the profile"},
    {kWaitingCdrFilesWarning, "CDR files wait that cannot be imported: "},
    {kRecordsBeforeStartWarning, " records imported before the start point are not selected"},
};

// The warnings of a run as the administrator reads them, with the files and counts they name.
std::vector<std::string> WarningTexts(const RunSummary& run) {
  std::vector<std::string> texts;
  for (const auto& [warning, text] : kWarningTexts) {
    if (std::find(run.warnings.begin(), run.warnings.end(), warning) == run.warnings.end()) {
      continue;
    }
    if (warning == kWaitingCdrFilesWarning) {
      std::string files;
      for (const std::string& file : run.waiting_files) {
        files += (files.empty() ? "" : "; ") + EscapedForLog(file);
      }
      texts.push_back(std::string(text) + files);
    } else if (warning == kRecordsBeforeStartWarning) {
      texts.push_back(std::to_string(run.records_before_start) + std::string(text));
    } else {
      texts.emplace_back(text);
    }
  }
  return texts;
}

// Longer than any monitoring interval, short enough to stay far from overflow.
constexpr std::int64_t kMaxDuration = std::int64_t{100} * 366 * 86400;

// "45s", "12m", "2h05m", "3d04h".
std::string AgeText(double seconds) {
  const auto whole = static_cast<std::int64_t>(std::max(0.0, std::floor(seconds)));
  char text[48];
  if (whole < 60) {
    std::snprintf(text, sizeof text, "%llds", static_cast<long long>(whole));
  } else if (whole < 3600) {
    std::snprintf(text, sizeof text, "%lldm", static_cast<long long>(whole / 60));
  } else if (whole < 86400) {
    std::snprintf(text, sizeof text, "%lldh%02lldm", static_cast<long long>(whole / 3600),
                  static_cast<long long>(whole % 3600 / 60));
  } else {
    std::snprintf(text, sizeof text, "%lldd%02lldh", static_cast<long long>(whole / 86400),
                  static_cast<long long>(whole % 86400 / 3600));
  }
  return text;
}

std::string Shortest(double value) {
  char text[64];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : std::string("?");
}

// One profile's status as --status judges it.
struct ProfileStatus {
  std::string name;
  std::filesystem::path status_path;
  StatusFileRead read;
  // Where the profile owes lines now, by the note beside it: a run killed while it owed them
  // wrote no status file, and the one there may say success.
  std::string owed;
  std::string attention;  // why it needs attention; empty when all is well
};

std::string OwedNow(const std::filesystem::path& profile_path) {
  const std::filesystem::path path = OwedNotePath(profile_path);
  const NoteReading reading = ReadReadyNote(path);
  switch (reading.state) {
    case NoteReading::State::kNone:
      return {};
    case NoteReading::State::kRead:
      return reading.note.destination;
    default:
      return "a destination its note " + path.string() + " cannot tell";
  }
}

std::string OwedText(const std::string& where) { return "owed lines at " + EscapedForLog(where); }

// A process that ended otherwise than its run (74: the log could not be written) needs someone
// although the run itself went well.
std::string ExitedOtherwise(const RunStatusRecord& record) {
  if (record.exit_status == ExitStatusOf(record.run.status)) return {};
  return "exit status " + std::to_string(record.exit_status) + ": " +
         EscapedForLog(record.run.last_error);
}

// What the last run's status says needs someone, before what it owes and warns of.
std::string RunAttention(const StatusFileRead& read, double now,
                         std::optional<std::int64_t> max_age) {
  if (!read.error.empty()) return "status file unreadable: " + read.error;
  if (read.missing) return max_age ? "never run" : "";
  const RunStatusRecord& record = *read.record;
  if (record.run.status != RunStatus::kSuccess) return "last run failed";
  if (std::string exited = ExitedOtherwise(record); !exited.empty()) return exited;
  if (max_age && now - record.run.ended > static_cast<double>(*max_age)) {
    return "last run older than " + AgeText(static_cast<double>(*max_age));
  }
  // A status from the future would never age: the clock was wrong, or the file is.
  if (record.run.ended > now + kClockSlackSeconds) return "last run ended in the future";
  return {};
}

void AddAttention(std::string& attention, const std::string& text) {
  if (!text.empty()) attention += (attention.empty() ? "" : "; ") + text;
}

ProfileStatus Judge(const std::string& name, const std::filesystem::path& profile_path, double now,
                    const StatusChecks& checks) {
  // Either age makes an old run one that needs attention.
  std::optional<std::int64_t> max_age = checks.max_age;
  if (!max_age || (checks.critical_age && *checks.critical_age < *max_age)) {
    max_age = checks.critical_age;
  }
  ProfileStatus status;
  // Names and paths are shown escaped: a name holding LF or ESC must not forge a row or move
  // the terminal's cursor.
  status.name = EscapedForLog(name);
  status.status_path = StatusFilePath(profile_path);
  status.read = ReadStatusFile(status.status_path);
  status.owed = OwedNow(profile_path);
  status.attention = RunAttention(status.read, now, max_age);
  if (!status.read.record) {
    if (!status.owed.empty()) AddAttention(status.attention, OwedText(status.owed));
    return status;
  }
  // Lines owed somewhere, or a start nothing is collected before, need someone whatever the
  // result of the run said.
  RunSummary& run = status.read.record->run;
  if (run.owed_at.empty()) run.owed_at = status.owed;
  if (!run.owed_at.empty()) AddAttention(status.attention, OwedText(run.owed_at));
  for (const std::string& text : WarningTexts(run)) AddAttention(status.attention, text);
  return status;
}

void PrintOne(const ProfileStatus& status, double now) {
  if (!status.read.error.empty()) {
    std::printf("%s: the status file %s cannot be read: %s\n", status.name.c_str(),
                EscapedForLog(status.status_path.string()).c_str(), status.read.error.c_str());
    return;
  }
  if (status.read.missing) {
    std::printf("%s: no status file yet: the profile has not run\n", status.name.c_str());
    if (!status.attention.empty()) std::printf("Attention:    %s\n", status.attention.c_str());
    return;
  }
  const RunStatusRecord& record = *status.read.record;
  const RunSummary& run = record.run;
  std::printf("Profile:      %s\n", status.name.c_str());
  std::printf("Command:      %s\n", run.kind == RunKind::kDeleteAll ? "delete-all" : "run");
  std::printf("Started:      %s\n", IsoUtcText(run.started).c_str());
  std::printf("Ended:        %s (%s ago)\n", IsoUtcText(run.ended).c_str(),
              AgeText(now - run.ended).c_str());
  std::printf("Result:       %s (exit status %d)\n", std::string(RunStatusName(run.status)).c_str(),
              record.exit_status);
  std::printf("Records:      %lld collected, %lld deleted, %d passes\n",
              static_cast<long long>(run.records_collected),
              static_cast<long long>(run.records_deleted), run.passes);
  if (run.stored_start) {
    std::printf("Stored start: %s (%s)\n", Shortest(*run.stored_start).c_str(),
                run.stored_start_local.c_str());
  } else {
    std::printf("Stored start: none\n");
  }
  std::printf("Destination:  %s\n", EscapedForLog(run.destination).c_str());
  std::printf("Last error:   %s\n",
              run.last_error.empty() ? "none" : EscapedForLog(run.last_error).c_str());
  std::printf("Last success: %s\n",
              record.last_success ? IsoUtcText(*record.last_success).c_str() : "never");
  if (!status.attention.empty()) std::printf("Attention:    %s\n", status.attention.c_str());
}

// A row of the table: the profile, its last run, result, records, age and attention.
std::vector<std::string> TableRow(const ProfileStatus& status, double now) {
  if (!status.read.record) {
    return {status.name, "-", status.read.missing ? "never run" : "unreadable",
            "-",         "-", status.attention};
  }
  const RunSummary& run = status.read.record->run;
  std::string result(RunStatusName(run.status));
  if (run.kind == RunKind::kDeleteAll) result += " (delete-all)";
  return {status.name,
          IsoUtcText(run.ended),
          result,
          std::to_string(run.records_collected),
          AgeText(now - run.ended),
          status.attention};
}

void PrintTable(const std::vector<ProfileStatus>& statuses, double now) {
  std::vector<std::vector<std::string>> rows = {
      {"PROFILE", "LAST RUN", "RESULT", "RECORDS", "AGE", "ATTENTION"}};
  for (const ProfileStatus& status : statuses) rows.push_back(TableRow(status, now));
  std::vector<std::size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      const std::size_t pad = widths[i] - row[i].size();
      if (i == 3) line.append(pad, ' ');  // counts are right-justified
      line += row[i];
      if (i + 1 < row.size()) line.append(i == 3 ? 2 : pad + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::printf("%s\n", line.c_str());
  }
}

// Why the program home cannot be looked into (listed too, when `listed`): empty when it can.
// A mistyped --home must not read as a home without profiles.
std::string HomeProblem(const std::filesystem::path& home, bool listed) {
  const std::string shown = "the program home " + EscapedForLog(home.string());
  std::error_code error;
  const std::filesystem::file_status state = std::filesystem::status(home, error);
  if (state.type() == std::filesystem::file_type::not_found) return shown + " does not exist";
  if (error) return shown + " cannot be looked at: " + error.message();
  if (state.type() != std::filesystem::file_type::directory) return shown + " is not a folder";
  if (listed) {
    const std::filesystem::directory_iterator listing(home, error);
    if (error) return shown + " cannot be read: " + error.message();
  }
  return {};
}

// Why the profile file cannot be used for --status: empty when it is there. A profile named
// without a folder is looked for in the home, whose own problem is said first.
std::string ProfileProblem(const std::string& profile, const std::string& path,
                           const std::filesystem::path& home) {
  std::error_code error;
  const std::filesystem::file_status state = std::filesystem::status(path, error);
  if (state.type() == std::filesystem::file_type::regular) return {};
  if (profile.find_first_of(kFolderSeparators) == std::string::npos) {
    if (std::string problem = HomeProblem(home, false); !problem.empty()) return problem;
  }
  if (state.type() == std::filesystem::file_type::none && error) {
    return "the profile file " + path + " cannot be looked at: " + error.message();
  }
  return "there is no profile file " + path;
}

// "45 s", "3 min", "5 h", "2 d": as a monitoring line says an age.
std::string CheckAgeText(double seconds) {
  const auto whole = static_cast<long long>(std::max(0.0, std::floor(seconds)));
  if (whole < 60) return std::to_string(whole) + " s";
  if (whole < 2LL * 3600) return std::to_string(whole / 60) + " min";
  if (whole < 2LL * 86400) return std::to_string(whole / 3600) + " h";
  return std::to_string(whole / 86400) + " d";
}

// What a monitoring plugin says of a profile: its state, its text and the performance data.
struct CheckVerdict {
  int state = kCheckOk;
  std::string text;
  std::string performance;
};

// The state the last run calls for, with the reasons for it.
int LastRunConcerns(const RunStatusRecord& record, double age, double now,
                    const StatusChecks& checks, std::vector<std::string>& reasons) {
  const RunSummary& run = record.run;
  int state = kCheckOk;
  const auto raise = [&state](int to) { state = std::max(state, to); };
  if (run.status == RunStatus::kLocked) {
    raise(kCheckWarning);
    reasons.emplace_back("another run held the destination");
  } else if (run.status != RunStatus::kSuccess) {
    raise(kCheckCritical);
    reasons.push_back("last run " + std::string(RunStatusName(run.status)) + " (exit status " +
                      std::to_string(record.exit_status) + ")");
  }
  if (checks.critical_age && age > static_cast<double>(*checks.critical_age)) {
    raise(kCheckCritical);
    reasons.push_back("older than " + AgeText(static_cast<double>(*checks.critical_age)));
  } else if (checks.max_age && age > static_cast<double>(*checks.max_age)) {
    raise(kCheckWarning);
    reasons.push_back("older than " + AgeText(static_cast<double>(*checks.max_age)));
  }
  if (run.ended > now + kClockSlackSeconds) {
    raise(kCheckWarning);
    reasons.emplace_back("last run ended in the future");
  }
  if (const std::string exited = ExitedOtherwise(record);
      !exited.empty() && run.status == RunStatus::kSuccess) {
    raise(kCheckWarning);
    reasons.push_back(exited);
  }
  if (!run.owed_at.empty()) {
    raise(kCheckWarning);
    reasons.push_back(OwedText(run.owed_at));
  }
  for (const std::string& reason : WarningTexts(run)) {
    raise(kCheckWarning);
    reasons.push_back(reason);
  }
  return state;
}

CheckVerdict CheckLastRun(const RunStatusRecord& record, double now, const StatusChecks& checks) {
  const RunSummary& run = record.run;
  const double run_age = std::max(0.0, now - run.ended);
  // The age is that of the last success: behind a run that hangs for days, every later run
  // ends "locked" minutes ago. Without any success, the last run's is all there is.
  const double age = record.last_success ? std::max(0.0, now - *record.last_success) : run_age;
  std::vector<std::string> reasons;
  CheckVerdict verdict;
  verdict.state = LastRunConcerns(record, age, now, checks, reasons);
  verdict.text = std::to_string(run.records_collected) + " records, last run " +
                 CheckAgeText(run_age) + " ago";
  if (!record.last_success) {
    verdict.text += ", no success yet";
  } else if (*record.last_success != run.ended) {
    verdict.text += ", last success " + CheckAgeText(age) + " ago";
  }
  for (const std::string& reason : reasons) verdict.text += "; " + reason;
  const auto threshold = [](const std::optional<std::int64_t>& seconds) {
    return seconds ? std::to_string(*seconds) : std::string();
  };
  verdict.performance = " | records=" + std::to_string(run.records_collected) +
                        " age=" + std::to_string(static_cast<long long>(std::floor(age))) + "s;" +
                        threshold(checks.max_age) + ";" + threshold(checks.critical_age);
  return verdict;
}

// The one line of a monitoring plugin, "REMOTECCM OK - SITE1: 1234 records, last run 3 min ago
// | records=1234 age=180s;7200;14400", and its exit status.
int PrintCheckLine(const std::string& name, const std::string& profile_problem,
                   const ProfileStatus& status, double now, const StatusChecks& checks) {
  static constexpr const char* kStateNames[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
  CheckVerdict verdict;
  if (!profile_problem.empty()) {
    verdict.state = kCheckUnknown;
    verdict.text = profile_problem;
  } else if (!status.read.error.empty()) {
    verdict.state = kCheckUnknown;
    verdict.text =
        "the status file " + status.status_path.string() + " cannot be read: " + status.read.error;
  } else if (status.read.missing) {
    verdict.state = kCheckUnknown;
    verdict.text = status.owed.empty() ? "no status file yet: the profile has not run"
                                       : "no status file yet; " + OwedText(status.owed);
  } else {
    verdict = CheckLastRun(*status.read.record, now, checks);
  }
  // The plugin line has no room for line ends, and "|" starts the performance data.
  std::string line =
      "REMOTECCM " + std::string(kStateNames[verdict.state]) + " - " + name + ": " + verdict.text;
  std::replace(line.begin(), line.end(), '\n', ' ');
  std::replace(line.begin(), line.end(), '|', '/');
  std::printf("%s%s\n", line.c_str(), verdict.performance.c_str());
  return verdict.state;
}

}  // namespace

std::optional<std::int64_t> ParseDuration(std::string_view text) {
  std::int64_t total = 0;
  bool first = true;
  std::string_view rest = text;
  if (rest.empty()) return std::nullopt;
  while (!rest.empty()) {
    std::int64_t count = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), count);
    if (error != std::errc() || end == rest.data() || count < 0 || count > kMaxDuration) {
      return std::nullopt;
    }
    rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
    std::int64_t unit = 0;
    if (rest.empty()) {
      // A bare number is seconds, but only alone: "1h30" is a mistake, not 1h and 30s.
      if (!first) return std::nullopt;
      unit = 1;
    } else {
      switch (rest.front()) {
        case 's':
          unit = 1;
          break;
        case 'm':
          unit = 60;
          break;
        case 'h':
          unit = 3600;
          break;
        case 'd':
          unit = 86400;
          break;
        default:
          return std::nullopt;
      }
      rest.remove_prefix(1);
    }
    if (count > (kMaxDuration - total) / unit) return std::nullopt;
    total += count * unit;
    first = false;
  }
  if (total <= 0) return std::nullopt;
  return total;
}

int StatusCommand(const std::string& profile, const StatusChecks& checks) {
  const std::filesystem::path home = ProgramHomeLocation();
  const double now = TheSystemClock().Now();
  std::vector<ProfileStatus> statuses;
  if (checks.nagios) {
    const std::string path = ProfilePathFor(profile, home);
    const std::string problem = ProfileProblem(profile, path, home);
    const ProfileStatus status = Judge(ProfileNameOf(path), path, now, checks);
    const int state = PrintCheckLine(ProfileNameOf(path), problem, status, now, checks);
    return std::fflush(stdout) != 0 ? kCheckUnknown : state;
  }
  if (!profile.empty()) {
    const std::string path = ProfilePathFor(profile, home);
    if (const std::string problem = ProfileProblem(profile, path, home); !problem.empty()) {
      std::fprintf(stderr, "remoteccm-cli: %s\n", problem.c_str());
      return kExitNoProfile;
    }
    statuses.push_back(Judge(ProfileNameOf(path), path, now, checks));
    PrintOne(statuses.front(), now);
  } else {
    if (const std::string problem = HomeProblem(home, true); !problem.empty()) {
      std::fprintf(stderr, "remoteccm-cli: %s\n", problem.c_str());
      return kExitNoProfile;
    }
    for (const std::string& name : ListProfiles(home, "").names) {
      statuses.push_back(Judge(name, ProfilePathFor(name, home), now, checks));
    }
    if (statuses.empty()) {
      std::printf("No profiles in %s\n", EscapedForLog(home.string()).c_str());
    } else {
      PrintTable(statuses, now);
    }
  }
  if (std::fflush(stdout) != 0) return kExitIoError;
  const bool attention = std::any_of(statuses.begin(), statuses.end(),
                                     [](const ProfileStatus& s) { return !s.attention.empty(); });
  return attention ? kExitNeedsAttention : kExitOk;
}

}  // namespace remoteccm
