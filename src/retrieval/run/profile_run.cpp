// One piece: the phases of a run, in the order they run, and what each leaves to the
// next.

#include "retrieval/run/profile_run.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "cdrfiles/cdr_file_source.h"
#include "platform/db/connection_string.h"
#include "platform/db/db_error.h"
#include "platform/db/server_clock.h"
#include "platform/db/sql_names.h"
#include "retrieval/run/statement_builder.h"
#include "util/file_routines.h"
#include "util/ini_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

// A failing pass in the windowed modes is tried again; an unattended run must still end.
constexpr int kMaxFailedPassesInRow = 3;
// Keys asked of the database in one statement.
constexpr std::size_t kKeysPerLookup = 500;
// How a run that was asked to stop ends, as the status line says it.
constexpr std::string_view kAbortedLine = "Operation Aborted.";

int Percent(double part, double span) {
  if (!(span > 0)) return part >= span ? 100 : 0;
  const double value = std::trunc(part / span * 100);
  if (!(value > 0)) return 0;
  return value > 100 ? 100 : static_cast<int>(value);
}

// Whether two profile paths name the same file.
bool SameProfile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  return a == b;
}

std::string NormalizedKey(std::string_view key) { return UpperCase(std::string(TrimView(key))); }

std::string QuotedKey(std::string_view key) {
  std::string quoted = "'";
  for (const char c : key) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

// Which of `keys` are in `table`, asked over `connection` a slice of keys at a time.
std::vector<bool> KeysPresent(DbConnection& connection, const std::string& table,
                              const std::vector<std::string>& keys) {
  std::unordered_map<std::string, std::vector<std::size_t>> positions;
  for (std::size_t i = 0; i < keys.size(); ++i) positions[NormalizedKey(keys[i])].push_back(i);
  std::vector<bool> present(keys.size(), false);
  for (std::size_t first = 0; first < keys.size(); first += kKeysPerLookup) {
    std::string list;
    for (std::size_t i = first; i < std::min(keys.size(), first + kKeysPerLookup); ++i) {
      list += (list.empty() ? "" : ",") + QuotedKey(keys[i]);
    }
    DbQuery query(connection);
    std::string statement = "SELECT pkid FROM ";
    statement.append(table).append(" WHERE pkid IN (").append(list).append(")");
    query.AddLine(statement);
    query.Open();
    for (; !query.Eof(); query.Next()) {
      const auto found = positions.find(NormalizedKey(query.AsString(0)));
      if (found == positions.end()) continue;
      for (const std::size_t i : found->second) present[i] = true;
    }
  }
  return present;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ProfileRun: the run as a whole

ProfileRun::ProfileRun(const RunServices& services, const std::string& profile_path)
    : services_(services), profile_path_(profile_path) {
  summary_.started = services_.clock.Now();
  summary_.profile_path = profile_path;
  summary_.profile_name = ProfileNameOf(profile_path);
}

void ProfileRun::Log(std::string_view line, LogPriority priority) { services_.log(line, priority); }

void ProfileRun::LogError(std::string_view line) {
  summary_.last_error = std::string(line);
  Log(line, LogPriority::kError);
}

RunStatus ProfileRun::Execute() {
  RunStatus status = RunStatus::kPassFailed;
  try {
    status = Run();
  } catch (const std::exception& e) {
    LogError("The run failed: " + std::string(e.what()));
  } catch (...) {
    LogError("The run failed: an unexpected error.");
  }
  // Whatever happened, the database is closed, the window leaves its running state and the
  // destination is free for the next run.
  database_.Disconnect();
  services_.observer.SetRunning(false);
  lock_.reset();
  SayLateRecords(true);
  summary_.status = status;
  summary_.ended = services_.clock.Now();
  NoteWhatIsStored();
  return status;
}

RunStatus ProfileRun::Run() {
  switch (ClaimDestination()) {
    case Claim::kHeld:
      break;
    case Claim::kProfileUnreadable:
      return RunStatus::kSettingsInvalid;
    case Claim::kDestinationUnusable:
      return RunStatus::kPassFailed;
    case Claim::kLocked:
      return RunStatus::kLocked;
  }
  switch (UsesCdrFiles(settings_) ? ImportCdrFiles() : Import::kImported) {
    case Import::kImported:
      break;
    case Import::kFolderUnusable:
      return RunStatus::kConnectionFailed;
    case Import::kDatabaseUnusable:
      return RunStatus::kPassFailed;
    case Import::kRefused:
      return RunStatus::kSettingsInvalid;
    case Import::kStopped:
      return RunStatus::kAborted;
  }
  return settings_.use_dialup ? DialAndPoll() : PollCycle();
}

// The summary's view of the profile after the run: the start it stores, where it owes lines.
void ProfileRun::NoteWhatIsStored() {
  if (settings_.profile_path.empty()) return;
  const std::string stored = ReadProfileValue(settings_.profile_path, kProfileSection, kStartKey);
  if (!TrimView(stored).empty()) summary_.stored_start = ParseDecimal(stored);
  const NoteReading owed = ReadReadyNote(OwedNotePath(settings_.profile_path));
  if (owed.state == NoteReading::State::kRead) summary_.owed_at = owed.note.destination;
}

// ---------------------------------------------------------------------------------------------
// Claiming the destination

// Reads the profile and takes its destination's lock: one run per destination, and nothing is
// touched before its lock is held.
ProfileRun::Claim ProfileRun::ClaimDestination() {
  services_.observer.ClearLog();
  if (const std::string why = FileReadError(profile_path_); !why.empty()) {
    LogError("The profile file " + profile_path_ + " cannot be read: " + why + ".");
    return Claim::kProfileUnreadable;
  }
  settings_ = LoadProfile(profile_path_, services_.env);
  UseCdrDatabase(settings_);
  summary_.profile_path = settings_.profile_path;
  summary_.destination = settings_.destination_file;

  std::string error;
  files_ = ResolveDestination(settings_.destination_file, error);
  if (!files_) {
    LogError(error);
    return Claim::kDestinationUnusable;
  }
  summary_.destination = files_->destination.string();
  if (settings_.sql_backup && files_->backup == files_->destination) {
    // The backup's lines would go into the file the call-accounting program reads.
    LogError("The destination file " + files_->destination.string() +
             " would be its own backup file: name it with another extension than .BAK.");
    return Claim::kDestinationUnusable;
  }
  try {
    if (!TakeLock()) return Claim::kLocked;
  } catch (const FileError& e) {
    LogError(e.what());
    return Claim::kDestinationUnusable;
  }
  return Claim::kHeld;
}

// False when another run holds the destination. Throws FileError.
bool ProfileRun::TakeLock() {
  lock_ = TakeDestinationLock(*files_);
  if (lock_) return true;
  // Not an error: the run that holds it collects, and the next one runs (the unit counts 75 a
  // success).
  summary_.last_error =
      "Another run is writing to " + files_->destination.string() + ": this run changed nothing.";
  Log(summary_.last_error, LogPriority::kWarning);
  return false;
}

// ---------------------------------------------------------------------------------------------
// Importing the CDR files

// The complete files of the profile's folder into its embedded database, under the
// destination's lock and before the passes read it.
ProfileRun::Import ProfileRun::ImportCdrFiles() {
  CdrImportHooks hooks;
  hooks.stop = [this] { return Aborted(); };
  hooks.at_point = services_.hooks.at_import_point;
  hooks.log = [this](std::string_view line, ImportLogLevel level) {
    Log(line, level == ImportLogLevel::kWarning ? LogPriority::kWarning : LogPriority::kInfo);
  };
  if (settings_.connect_sql_mode == RetrievalMode::kNewRecordsOnly) {
    // What is dated before the start is selected only by the look-back, and only when the
    // memory of earlier runs holds: the passes tell, and then the count is said.
    hooks.selects_from = settings_.sql_new_rec_date;
    hooks.look_back_seconds = settings_.late_arrival_minutes * 60.0;
  }
  const CdrImportOutcome outcome = ImportProfileCdrFiles(settings_, services_.clock.Now(), hooks);
  summary_.rejected_files = outcome.rejected;
  summary_.waiting_files = outcome.waiting;
  late_records_ = {outcome.late, outcome.late_past_look_back};
  if (outcome.set_aside > 0) summary_.warnings.emplace_back(kRejectedCdrFilesWarning);
  if (!outcome.waiting.empty()) summary_.warnings.emplace_back(kWaitingCdrFilesWarning);
  if (outcome.stopped) {
    LogError("The run stopped during the import of the CDR files, as it was asked to.");
    return Import::kStopped;
  }
  if (outcome.refused) {
    summary_.last_error = outcome.error;
    return Import::kRefused;
  }
  if (!outcome.usable) {
    summary_.last_error = outcome.error;
    return outcome.folder_unusable ? Import::kFolderUnusable : Import::kDatabaseUnusable;
  }
  return Import::kImported;
}

// ---------------------------------------------------------------------------------------------
// Dialing and hanging up

// The link comes up before the database is reached; the passes run even when it did not come
// up (the database may be reachable without it).
RunStatus ProfileRun::DialAndPoll() {
  const DialResult dial = Dial();
  RunStatus status = RunStatus::kConnectionFailed;
  if (dial.code == 0) {
    if (Aborted()) {
      LogError(kAbortedLine);
      status = RunStatus::kAborted;
    } else {
      status = PollCycle();
    }
    if (dial.connected && !Aborted() && services_.dialer.State() != DialState::kConnected) {
      Log("The link " + settings_.phonebook_entry + " went down during the run.",
          LogPriority::kWarning);
    }
  }
  HangUp(dial.code);
  return status;
}

ProfileRun::DialResult ProfileRun::Dial() {
  Dialer& dialer = services_.dialer;
  Log("Connect using " + settings_.phonebook_entry);
  Log("Dialing... " + dialer.PhoneNumber(settings_.phonebook_entry));
  const DialRequest request{settings_.phonebook_entry, settings_.dial_user_name,
                            settings_.dial_password, settings_.dial_domain};
  DialParams params;
  params.user_name = request.user_name;
  params.password = request.password;
  params.domain = request.domain;
  dialer.SetDialParams(request.entry_name, params);
  DialResult result;
  result.code = dialer.Dial(request);
  if (result.code != 0) return result;
  WaitForLink();
  const DialState state = dialer.State();
  result.connected = state == DialState::kConnected;
  if (dialer.FoundAlreadyUp()) {
    Log("The link " + settings_.phonebook_entry + " was already up; it stays up after the run.");
  } else if (!result.connected && dialer.LastError() != 0) {
    Log(dialer.ErrorText(dialer.LastError()), LogPriority::kWarning);
  }
  return result;
}

// Until the dialer no longer waits for the link, or the run is aborted.
void ProfileRun::WaitForLink() {
  std::string progress;
  while (services_.dialer.State() == DialState::kPending && !Aborted()) {
    if (std::string now = services_.dialer.ProgressText(); now != progress) {
      progress = std::move(now);
      services_.observer.SetStatus1(progress);
    }
    services_.observer.Pump();
    services_.clock.Tick();
  }
}

void ProfileRun::HangUp(int code) {
  Log("Done..." + services_.dialer.ErrorText(code));
  services_.dialer.HangUp();
}

// ---------------------------------------------------------------------------------------------
// The poll cycle: connect, recover, the passes

RunStatus ProfileRun::PollCycle() {
  EngineObserver& observer = services_.observer;
  observer.ClearLog();
  observer.Pump();
  observer.SetRunning(true);
  RunStatus status = RunStatus::kSuccess;
  if (const Connect connected = ConnectDatabase(); connected != Connect::kConnected) {
    Log("Quit");
    status = connected == Connect::kSettingsInvalid ? RunStatus::kSettingsInvalid
             : connected == Connect::kAborted       ? RunStatus::kAborted
                                                    : RunStatus::kConnectionFailed;
  } else if (PrepareDestination() != Ready::kReady) {
    status = Aborted() ? RunStatus::kAborted : RunStatus::kPassFailed;
  } else {
    status = RunPasses();
  }
  // The journal's errors say why the run failed its unit, a stop between passes too.
  if (status == RunStatus::kAborted) LogError(kAbortedLine);
  Log("Close");
  database_.Disconnect();
  observer.SetRunning(false);
  return status;
}

// ---------------------------------------------------------------------------------------------
// Connecting

ProfileRun::Connect ProfileRun::ConnectDatabase() {
  const std::string shown = MaskConnectionPasswords(settings_.sql_connection_string);
  Connect outcome = Connect::kSettingsInvalid;
  if (ConnectionSettingsUsable(shown)) {
    outcome = OpenConnection();
    Log("Connect");
    Log(shown);
  }
  if (outcome != Connect::kConnected) {
    Log("\r\nConnection Information:");
    Log(shown);
    Log("Cannot Connect to CCM SQL Server!", LogPriority::kError);
  } else {
    Log("Connection to CCM SQL Server Successful!");
  }
  // After the lines that led to it: an unattended run logs it there.
  if (outcome == Connect::kFailed) services_.observer.ShowConnectionError(summary_.last_error);
  return outcome;
}

// Whether the settings name a database, a table and a connection, and names fit to go into
// a statement; logs what is wrong with them. `shown` is the connection string without its
// passwords.
bool ProfileRun::ConnectionSettingsUsable(const std::string& shown) {
  const std::string& connection = settings_.sql_connection_string;
  const std::string upper = UpperCase(connection);
  // ODBC strings naming a driver are accepted too: on Linux they are the usual form.
  const bool names_source = upper.find("PROVIDER") != std::string::npos ||
                            upper.find("DSN") != std::string::npos ||
                            upper.find("DRIVER") != std::string::npos;
  if (TrimView(settings_.sql_database_name).empty() || TrimView(settings_.sql_table_name).empty() ||
      TrimView(connection).empty() || !names_source) {
    LogError("Error: Invalid ODBC Connection String");
    Log(shown);
    Log("Connect Fail", LogPriority::kError);
    Log("D:" + settings_.sql_database_name + " T:" + settings_.sql_table_name);
    Log("U:" + settings_.login + " S:" + settings_.profile_name);
    Log("C:" + shown);
    return false;
  }
  // The table and its date/time column go into every statement the run builds.
  std::string name_problem = SqlNameProblem("The table name", settings_.sql_table_name);
  if (name_problem.empty()) {
    name_problem = SqlNameProblem("The date/time field name", settings_.sql_date_time_fld_name);
  }
  if (name_problem.empty()) return true;
  LogError(name_problem);
  Log("Connect Fail", LogPriority::kError);
  return false;
}

ProfileRun::Connect ProfileRun::OpenConnection() {
  try {
    database_.Connect(settings_.sql_connection_string, settings_.sql_database_name, settings_.login,
                      settings_.password);
    if (services_.hooks.connected) services_.hooks.connected(database_);
    return Connect::kConnected;
  } catch (const DbError& e) {
    services_.observer.LogLineDirect("Error: Connection Failed.");
    if (Aborted()) return Connect::kAborted;
    summary_.last_error = e.what();
    return Connect::kFailed;
  }
}

// ---------------------------------------------------------------------------------------------
// Recovering what an earlier run owes

// Once per run, before the first pass: the lines an earlier run owes put in (or discarded when
// they were never committed), the destination discarded when the profile overwrites it, and
// proof that the destination can be written before anything is deleted.
ProfileRun::Ready ProfileRun::PrepareDestination() {
  const std::filesystem::path& destination = files_->destination;
  const auto appendable = [&] {
    const std::string why = CheckAppendable(destination);
    if (!why.empty()) LogError(why + " Nothing was collected.");
    return why.empty() ? Ready::kReady : Ready::kStopped;
  };
  if (settings_.overwrite) Log("Overwrite existing file: " + settings_.destination_file);
  // Before anything beside it is touched: a pipe or device in its place would hold the run.
  if (appendable() != Ready::kReady) return Ready::kStopped;
  if (RecoverEarlierDestination() != Ready::kReady) return Ready::kStopped;
  const SpoolRecovery::Kind kind = Recover(*files_);
  if (kind == SpoolRecovery::Kind::kFailed) return Ready::kStopped;
  // Lines an earlier run appended in full went with the file as it was then; lines put in just
  // now complete that file, which is then kept for its reader instead of discarded.
  if (settings_.overwrite) {
    if (kind == SpoolRecovery::Kind::kAppended) {
      Log("The lines left by an earlier run completed " + destination.string() +
          ", so it is not discarded this time.");
    } else {
      DeleteFileByName(destination.string());
    }
  }
  return appendable();
}

// Lines this profile owes to the destination it had before: delivered there first, under that
// destination's lock, since with deletion they exist nowhere else.
ProfileRun::Ready ProfileRun::RecoverEarlierDestination() {
  const std::optional<std::string> elsewhere = OwedElsewhere(settings_.profile_path, *files_);
  if (!elsewhere) return Ready::kReady;
  Log("This profile owes lines to " + *elsewhere +
      ", its destination before; they go there first.");
  std::string error;
  const std::optional<DestinationFiles> files = ResolveDestination(*elsewhere, error);
  if (!files) {
    LogError(error + " The lines owed there are kept (" +
             OwedNotePath(settings_.profile_path).string() + ").");
    return Ready::kStopped;
  }
  std::optional<LockFile> lock;
  try {
    lock = TakeDestinationLock(*files);
  } catch (const FileError& e) {
    LogError(e.what());
    return Ready::kStopped;
  }
  if (!lock) {
    LogError("Another run is writing to " + files->destination.string() +
             ", where this profile owes lines: they stay owed for the next run.");
    return Ready::kStopped;
  }
  return Recover(*files) == SpoolRecovery::Kind::kFailed ? Ready::kStopped : Ready::kReady;
}

// Resolves what an earlier run left beside the destination of `files`, logging what happened;
// kFailed when it could not be resolved safely (everything is kept).
SpoolRecovery::Kind ProfileRun::Recover(const DestinationFiles& files) {
  const RecoveryRequest request{
      files, settings_.profile_path,
      [this](const std::filesystem::path& path) { return ReadOwingProfile(path); },
      [this](const std::filesystem::path& path, const std::vector<std::string>& keys) {
        return LookUpKeys(path, keys);
      }};
  const SpoolRecovery recovery = RecoverSpool(request);
  for (std::size_t i = 0; i < recovery.log_lines.size(); ++i) {
    const bool last = i + 1 == recovery.log_lines.size();
    if (last && recovery.kind == SpoolRecovery::Kind::kFailed) {
      LogError(recovery.log_lines[i]);
    } else {
      Log(recovery.log_lines[i]);
    }
  }
  if (recovery.kind != SpoolRecovery::Kind::kFailed && recovery.stored_start &&
      SameProfile(recovery.profile_path, settings_.profile_path)) {
    settings_.sql_new_rec_date = ParseDecimal(*recovery.stored_start);
  }
  return recovery.kind;
}

ProfileSettings ProfileRun::LoadSourceProfile(const std::filesystem::path& path) const {
  ProfileSettings settings = LoadProfile(path.string(), services_.env);
  UseCdrDatabase(settings);
  return settings;
}

std::optional<OwingProfile> ProfileRun::ReadOwingProfile(const std::filesystem::path& path) {
  if (!ProfileFileExists(path) || !FileReadError(path).empty()) return std::nullopt;
  const ProfileSettings owner =
      SameProfile(path.string(), settings_.profile_path) ? settings_ : LoadSourceProfile(path);
  std::string error;
  const std::optional<DestinationFiles> files = ResolveDestination(owner.destination_file, error);
  return OwingProfile{owner.sql_table_name, files ? files->destination.string() : std::string()};
}

// Asked over the owing profile's own connection, of its own table: both come from its file,
// never from a file beside the destination.
std::vector<bool> ProfileRun::LookUpKeys(const std::filesystem::path& owner_path,
                                         const std::vector<std::string>& keys) {
  if (SameProfile(owner_path.string(), settings_.profile_path)) {
    return KeysPresent(database_, settings_.sql_table_name, keys);
  }
  const ProfileSettings owner = LoadSourceProfile(owner_path);
  if (const std::string problem = SqlNameProblem("The table name", owner.sql_table_name);
      !problem.empty()) {
    throw DbError(problem);
  }
  // Another profile's database: an abort must reach this connection too.
  DbConnection other;
  const AbortPath::Reach reach(services_.abort, other);
  other.Connect(owner.sql_connection_string, owner.sql_database_name, owner.login, owner.password);
  return KeysPresent(other, owner.sql_table_name, keys);
}

// ---------------------------------------------------------------------------------------------
// The passes

RunStatus ProfileRun::RunPasses() {
  const double clock_ahead = ClockAheadOfServer();
  const TimeConverter converter(ProfileTimeZone(settings_, services_.env.computer_rule));
  range_.start = converter.ToCdrSeconds(std::trunc(settings_.from_date_range));
  range_.end = converter.ToCdrSeconds(std::trunc(settings_.to_date_range)) + 86400;
  const double now = services_.clock.Now() - clock_ahead;
  std::optional<LateArrivals> late;
  if (settings_.connect_sql_mode == RetrievalMode::kNewRecordsOnly) {
    // The memory keeps the start this program stored, with or without a look-back.
    const std::filesystem::path late_path = LateArrivalPath(settings_.profile_path);
    late = LateArrivals{LoadLateArrivals(late_path, now), late_path,
                        settings_.late_arrival_minutes * 60.0};
    WarnStartInFuture(converter, now);
  }
  SayLateRecords(late && late->look_back_seconds > 0 && looks_back_);
  const Span span = ShowSelection(converter, now);
  PassContext context{services_, [this](std::string_view line) { LogError(line); },
                      settings_, database_,
                      *files_,   clock_ahead,
                      range_,    late ? &*late : nullptr};
  RunStatus status = PassLoop(context, span);
  if (Aborted()) {
    services_.observer.SetStatus2("Operation Aborted.");
    status = RunStatus::kAborted;
  } else {
    services_.observer.SetStatus2("Operation Completed.");
  }
  services_.observer.SetProgress(100);
  return status;
}

// The memory of what this profile wrote, for this run's passes; a fresh one, which looks back
// nothing, when there is none to trust.
LateArrivalMemory ProfileRun::LoadLateArrivals(const std::filesystem::path& path, double now) {
  const double start = settings_.sql_new_rec_date;
  const TimeConverter converter(ProfileTimeZone(settings_, services_.env.computer_rule));
  const LateArrivalReading reading =
      ReadLateArrivals(path, settings_.profile_path, settings_.sql_table_name);
  std::string why;
  switch (reading.state) {
    case LateArrivalReading::State::kRead: {
      const double stored = reading.memory.stored_start;
      looks_back_ = true;
      if (std::llround(stored) == std::llround(start)) return reading.memory;
      if (stored > start && stored <= now) {
        // An old copy of the profile saved over the one this program updated: the start it
        // stored last holds, or the records since would be written again.
        Log("The start point " + StatusTime(converter, start) +
                " of the profile is older than the one this program stored last (" +
                StatusTime(converter, stored) +
                "), which is used: the profile was saved from an old copy. To collect again "
                "from an earlier point, remove " +
                path.string() + " with the start set.",
            LogPriority::kWarning);
        settings_.sql_new_rec_date = stored;
        return reading.memory;
      }
      looks_back_ = false;
      why = stored > now ? "the memory " + path.string() + " holds a start point in the future"
                         : "the start point was set anew since the last run";
      break;
    }
    case LateArrivalReading::State::kMissing:
      why = "there is no memory of earlier runs yet (" + path.string() + ")";
      break;
    case LateArrivalReading::State::kDamaged:
      why = "the memory " + path.string() + " is damaged";
      break;
    case LateArrivalReading::State::kOtherProfile:
      why = "the memory " + path.string() + " belongs to another profile or table";
      break;
  }
  if (settings_.late_arrival_minutes > 0) {
    Log("Late arrivals: " + why + ", so this run looks back nothing before " +
            StatusTime(converter, start) + ".",
        LogPriority::kWarning);
  }
  return FreshLateArrivals(settings_.profile_path, settings_.sql_table_name, start);
}

// The records the import brought that no pass selects: dated before the start, and before the
// look-back too when the memory lets it look back. Said once; a run that ends before its
// passes says those no look-back reaches.
void ProfileRun::SayLateRecords(bool looks_back) {
  const std::int64_t count = looks_back ? late_records_.past_look_back : late_records_.before_start;
  late_records_ = {};
  if (count <= 0) return;
  summary_.records_before_start = count;
  summary_.warnings.emplace_back(kRecordsBeforeStartWarning);
  Log(std::to_string(count) +
          " records imported before the start point are not selected by New Records Only; All "
          "Records with deletion collects every file whenever it comes",
      LogPriority::kWarning);
}

// Nothing is collected until the start: a typing error, or a clock that was ahead when it was
// stored.
void ProfileRun::WarnStartInFuture(const TimeConverter& converter, double now) {
  if (settings_.sql_new_rec_date <= now) return;
  summary_.warnings.emplace_back(kStartInFutureWarning);
  Log("The start point " + StatusTime(converter, settings_.sql_new_rec_date) +
          " lies in the future: nothing is collected until then. Set SQLNewRecDate to the first "
          "moment to collect.",
      LogPriority::kWarning);
}

// Shows what the mode selects, and the progress bar when it has a stretch of time to show.
ProfileRun::Span ProfileRun::ShowSelection(const TimeConverter& converter, double now) {
  EngineObserver& observer = services_.observer;
  observer.SetStatus2("");
  observer.SetProgress(0);
  observer.ShowProgress(false);
  Span span;
  progress_shown_ = false;
  switch (settings_.connect_sql_mode) {
    case RetrievalMode::kAllRecords:
      observer.SetStatus1("Selected All Records");
      break;
    case RetrievalMode::kNewRecordsOnly:
      span = {settings_.sql_new_rec_date, now - kUnsettledSeconds};
      progress_shown_ = true;
      observer.SetStatus1("Selected: " + StatusTime(converter, span.first) + " to " +
                          StatusTime(converter, span.last));
      break;
    case RetrievalMode::kByDate:
      span = {range_.start, range_.end};
      progress_shown_ = true;
      observer.SetStatus1("Selected: " + StatusTime(converter, span.first) + " to " +
                          StatusTime(converter, span.last - 1));
      break;
    default:
      observer.SetStatus1("Selected Records by SQL Statement");
  }
  observer.ShowProgress(progress_shown_);
  return span;
}

// How far the collector's clock is ahead of the database server's, asked once per run: the
// windows then end where the server's time does (an NTP step or a restored virtual machine
// would otherwise move the start ahead of every record for good).
double ProfileRun::ClockAheadOfServer() {
  const std::optional<double> server = ServerUnixTime(database_);
  if (!server) return 0;
  const double ahead = services_.clock.Now() - *server;
  // A few seconds are the time between the two readings, not a wrong clock.
  constexpr double kTolerance = 5;
  if (ahead <= kTolerance) return 0;
  Log("This computer's clock is " + std::to_string(std::llround(ahead)) +
          " seconds ahead of the database server's: the windows end by the server's time.",
      LogPriority::kWarning);
  return ahead;
}

// Passes until the mode is done, the run must end, too many fail in a row, or an abort.
RunStatus ProfileRun::PassLoop(PassContext& context, const Span& span) {
  Tally tally;
  bool done = false;
  while (!done && !Aborted()) {
    const PassResult pass = TransferPass(context);
    done = AfterPass(pass, tally);
    if (!Aborted() && !done && settings_.poll_again) {
      if (settings_.wait_before_polling_again > 0) Pause(settings_.wait_before_polling_again);
      if (!Aborted()) Log("Polling More Records");
    }
    UpdateProgress(span);
  }
  return tally.any_failed ? RunStatus::kPassFailed : RunStatus::kSuccess;
}

// Counts the pass; whether it was the last one.
bool ProfileRun::AfterPass(const PassResult& pass, Tally& tally) {
  ++summary_.passes;
  services_.observer.Pump();
  const bool completed = pass.outcome == PassOutcome::kCompleted;
  if (completed) {
    summary_.records_collected += pass.records;
    if (pass.deleted) summary_.records_deleted += pass.records;
  }
  const std::int64_t records = completed && !Aborted() ? pass.records : 0;
  tally.total += records;
  Log("Total Records Retrieved: " + std::to_string(tally.total));
  if (completed) {
    tally.failed_in_row = 0;
  } else {
    tally.any_failed = true;
    ++tally.failed_in_row;
  }
  const bool done = ModeDone(pass, records);
  if (pass.outcome == PassOutcome::kRunMustEnd) {
    Log("The run ends: what the pass owes is kept for the next run.", LogPriority::kWarning);
    return true;
  }
  if (!done && tally.failed_in_row >= kMaxFailedPassesInRow) {
    LogError("Giving up after " + std::to_string(tally.failed_in_row) + " failed passes in a row.");
    return true;
  }
  return done;
}

// Whether the mode wants no pass after this one, which read `records` (0 when it failed).
bool ProfileRun::ModeDone(const PassResult& pass, std::int64_t records) const {
  switch (settings_.connect_sql_mode) {
    case RetrievalMode::kNewRecordsOnly:
    case RetrievalMode::kByDate:
      return pass.outcome == PassOutcome::kCompleted && pass.passes_done;
    case RetrievalMode::kBySqlQuery:
      return records == 0 || !settings_.poll_again;
    default:
      return true;
  }
}

void ProfileRun::Pause(int seconds) {
  EngineObserver& observer = services_.observer;
  observer.SetProgress(0);
  const bool was_shown = progress_shown_;
  observer.ShowProgress(true);
  observer.SetStatus2("Pause: " + std::to_string(seconds) + " Seconds");
  const long long ticks = static_cast<long long>(seconds) * 10;
  for (long long tick = 0; tick < ticks && !Aborted(); ++tick) {
    observer.Pump();
    services_.clock.Tick();
    observer.SetProgress(Percent(static_cast<double>(tick + 1), static_cast<double>(ticks)));
  }
  observer.ShowProgress(was_shown);
}

void ProfileRun::UpdateProgress(const Span& span) {
  const double length = span.last - span.first;
  if (settings_.connect_sql_mode == RetrievalMode::kNewRecordsOnly) {
    services_.observer.SetProgress(Percent(settings_.sql_new_rec_date - span.first, length));
  } else if (settings_.connect_sql_mode == RetrievalMode::kByDate) {
    services_.observer.SetProgress(Percent(range_.start - span.first, length));
  }
}

}  // namespace remoteccm
