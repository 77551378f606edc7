#include "retrieval/engine.h"

#include <cmath>
#include <optional>
#include <unordered_map>

#include "cdrfiles/cdr_file_source.h"
#include "platform/db/connection_string.h"
#include "platform/db/database.h"
#include "platform/db/db_error.h"
#include "platform/db/server_clock.h"
#include "platform/db/sql_names.h"
#include "retrieval/spool_recovery.h"
#include "retrieval/statement_builder.h"
#include "util/file_routines.h"
#include "util/ini_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

// A failing pass in the windowed modes is tried again; an unattended run must still end.
constexpr int kMaxFailedPassesInRow = 3;
// Keys asked of the database in one statement.
constexpr std::size_t kKeysPerLookup = 500;

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

}  // namespace

Engine::Engine(const ProfileEnvironment& env, EngineObserver& observer, Clock& clock,
               Dialer& dialer, CompanionLink* companion)
    : env_(env),
      observer_(observer),
      clock_(clock),
      dialer_(dialer),
      companion_(companion),
      database_(std::make_unique<DbConnection>()) {}

Engine::~Engine() = default;

void Engine::AddLogLine(std::string_view line, LogPriority priority) {
  observer_.LogLineAt(priority, line);
  if (companion_ != nullptr && !line.empty()) {
    std::string text(line);
    text.push_back('\n');
    companion_->Send(text);
  }
}

void Engine::LogError(std::string_view line) {
  summary_.last_error = std::string(line);
  AddLogLine(line, LogPriority::kError);
}

void Engine::RequestAbort() {
  abort_requested_.store(true);
  database_->Cancel();
  std::lock_guard lock(other_mutex_);
  if (other_connection_ != nullptr) other_connection_->Cancel();
}

void Engine::SetOtherConnection(DbConnection* connection) {
  std::lock_guard lock(other_mutex_);
  other_connection_ = connection;
  if (connection != nullptr && AbortRequested()) connection->Cancel();
}

RunStatus Engine::RunProfile(const std::string& profile_path) {
  abort_requested_.store(false);
  database_->ResetCancel();
  settings_ = ProfileSettings();
  files_.reset();
  summary_ = RunSummary();
  summary_.started = clock_.Now();
  summary_.profile_path = profile_path;
  summary_.profile_name = ProfileNameOf(profile_path);
  RunStatus status = RunStatus::kPassFailed;
  try {
    status = Run(profile_path);
  } catch (const std::exception& e) {
    LogError("The run failed: " + std::string(e.what()));
  } catch (...) {
    LogError("The run failed: an unexpected error.");
  }
  // Whatever happened, the database is closed, the window leaves its running state and the
  // destination is free for the next run.
  database_->Disconnect();
  observer_.SetRunning(false);
  lock_.reset();
  summary_.status = status;
  summary_.ended = clock_.Now();
  if (!settings_.profile_path.empty()) {
    const std::string stored = ReadProfileValue(settings_.profile_path, kProfileSection, kStartKey);
    if (!TrimView(stored).empty()) summary_.stored_start = ParseDecimal(stored);
    const NoteReading owed = ReadReadyNote(OwedNotePath(settings_.profile_path));
    if (owed.state == NoteReading::State::kRead) summary_.owed_at = owed.note.destination;
  }
  return status;
}

RunStatus Engine::Run(const std::string& profile_path) {
  observer_.ClearLog();
  if (const std::string why = FileReadError(profile_path); !why.empty()) {
    LogError("The profile file " + profile_path + " cannot be read: " + why + ".");
    return RunStatus::kSettingsInvalid;
  }
  settings_ = LoadProfile(profile_path, env_);
  UseCdrDatabase(settings_);
  summary_.profile_path = settings_.profile_path;
  summary_.destination = settings_.destination_file;

  // One run per destination: nothing is touched before its lock is held.
  std::string error;
  files_ = ResolveDestination(settings_.destination_file, error);
  if (!files_) {
    LogError(error);
    return RunStatus::kPassFailed;
  }
  summary_.destination = files_->destination.string();
  if (settings_.sql_backup && files_->backup == files_->destination) {
    // The backup's lines would go into the file the call-accounting program reads.
    LogError("The destination file " + files_->destination.string() +
             " would be its own backup file: name it with another extension than .BAK.");
    return RunStatus::kPassFailed;
  }
  try {
    lock_ = TakeDestinationLock(*files_);
  } catch (const FileError& e) {
    LogError(e.what());
    return RunStatus::kPassFailed;
  }
  if (!lock_) {
    LogError("Another run is writing to " + files_->destination.string() +
             ": this run changed nothing.");
    return RunStatus::kLocked;
  }
  if (UsesCdrFiles(settings_) && !ImportCdrFiles()) return RunStatus::kConnectionFailed;

  if (!settings_.use_dialup) return PollCycle();

  AddLogLine("Connect using " + settings_.phonebook_entry);
  AddLogLine("Dialing... " + dialer_.PhoneNumber(settings_.phonebook_entry));
  const DialRequest request{settings_.phonebook_entry, settings_.dial_user_name,
                            settings_.dial_password, settings_.dial_domain};
  DialParams params;
  params.user_name = request.user_name;
  params.password = request.password;
  params.domain = request.domain;
  dialer_.SetDialParams(request.entry_name, params);
  const int code = dialer_.Dial(request);
  RunStatus status = RunStatus::kConnectionFailed;
  if (code == 0) {
    DialState state = DialState::kPending;
    std::string progress;
    while ((state = dialer_.State()) == DialState::kPending && !AbortRequested()) {
      if (std::string now = dialer_.ProgressText(); now != progress) {
        progress = std::move(now);
        observer_.SetStatus1(progress);
      }
      observer_.Pump();
      clock_.Tick();
    }
    const std::string link = "The link " + settings_.phonebook_entry;
    if (dialer_.FoundAlreadyUp()) {
      AddLogLine(link + " was already up; it stays up after the run.");
    } else if (state != DialState::kConnected && dialer_.LastError() != 0) {
      AddLogLine(dialer_.ErrorText(dialer_.LastError()), LogPriority::kWarning);
    }
    status = AbortRequested() ? RunStatus::kAborted : PollCycle();
    if (state == DialState::kConnected && !AbortRequested() &&
        dialer_.State() != DialState::kConnected) {
      AddLogLine(link + " went down during the run.", LogPriority::kWarning);
    }
  }
  AddLogLine("Done..." + dialer_.ErrorText(code));
  dialer_.HangUp();
  return status;
}

// The complete files of the profile's folder into its embedded database, before the passes
// read it; false when the folder or the database cannot be used.
bool Engine::ImportCdrFiles() {
  const CdrImportOutcome outcome =
      ImportProfileCdrFiles(settings_, clock_.Now(), hooks_.at_import_point,
                            [this](std::string_view line) { AddLogLine(line); });
  summary_.rejected_files = outcome.rejected;
  if (outcome.set_aside > 0) summary_.warnings.emplace_back(kRejectedCdrFilesWarning);
  if (!outcome.usable) summary_.last_error = outcome.error;
  return outcome.usable;
}

int Engine::OpenCdrDatabase() {
  int result = -1;
  const std::string& connection = settings_.sql_connection_string;
  const std::string shown = MaskConnectionPasswords(connection);
  const std::string upper = UpperCase(connection);
  // ODBC strings naming a driver are accepted too: on Linux they are the usual form.
  const bool names_source = upper.find("PROVIDER") != std::string::npos ||
                            upper.find("DSN") != std::string::npos ||
                            upper.find("DRIVER") != std::string::npos;
  const bool usable = !TrimView(settings_.sql_database_name).empty() &&
                      !TrimView(settings_.sql_table_name).empty() &&
                      !TrimView(connection).empty() && names_source;
  // The table and its date/time column go into every statement the run builds.
  std::string name_problem = SqlNameProblem("The table name", settings_.sql_table_name);
  if (name_problem.empty()) {
    name_problem = SqlNameProblem("The date/time field name", settings_.sql_date_time_fld_name);
  }
  if (usable && !name_problem.empty()) {
    connect_status_ = RunStatus::kSettingsInvalid;
    LogError(name_problem);
    AddLogLine("Connect Fail", LogPriority::kError);
  } else if (!usable) {
    connect_status_ = RunStatus::kSettingsInvalid;
    LogError("Error: Invalid ODBC Connection String");
    AddLogLine(shown);
    AddLogLine("Connect Fail", LogPriority::kError);
    AddLogLine("D:" + settings_.sql_database_name + " T:" + settings_.sql_table_name);
    AddLogLine("U:" + settings_.login + " S:" + settings_.profile_name);
    AddLogLine("C:" + shown);
  } else {
    try {
      database_->Connect(connection, settings_.sql_database_name, settings_.login,
                         settings_.password);
      if (hooks_.connected) hooks_.connected(*database_);
      result = 1;
    } catch (const DbError& e) {
      observer_.LogLineDirect("Error: Connection Failed.");
      if (AbortRequested()) {
        connect_status_ = RunStatus::kAborted;
      } else {
        connect_status_ = RunStatus::kConnectionFailed;
        summary_.last_error = e.what();
        observer_.ShowConnectionError(e.what());
      }
    }
    AddLogLine("Connect");
    AddLogLine(shown);
  }
  if (result < 0) {
    AddLogLine("\r\nConnection Information:");
    AddLogLine(shown);
    AddLogLine("Cannot Connect to CCM SQL Server!", LogPriority::kError);
  } else {
    AddLogLine("Connection to CCM SQL Server Successful!");
  }
  return result;
}

// Resolves what an earlier run left beside the destination of `files`, logging what happened;
// false when it could not be resolved safely (everything is kept).
bool Engine::Recover(const DestinationFiles& files, SpoolRecovery::Kind* kind) {
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
      AddLogLine(recovery.log_lines[i]);
    }
  }
  if (kind != nullptr) *kind = recovery.kind;
  if (recovery.kind == SpoolRecovery::Kind::kFailed) return false;
  if (recovery.stored_start && SameProfile(recovery.profile_path, settings_.profile_path)) {
    settings_.sql_new_rec_date = ParseDecimal(*recovery.stored_start);
  }
  return true;
}

// Lines this profile owes to the destination it had before: delivered there first, under that
// destination's lock, since with deletion they exist nowhere else.
bool Engine::RecoverEarlierDestination() {
  const std::optional<std::string> elsewhere = OwedElsewhere(settings_.profile_path, *files_);
  if (!elsewhere) return true;
  AddLogLine("This profile owes lines to " + *elsewhere +
             ", its destination before; they go there first.");
  std::string error;
  const std::optional<DestinationFiles> files = ResolveDestination(*elsewhere, error);
  if (!files) {
    LogError(error + " The lines owed there are kept (" +
             OwedNotePath(settings_.profile_path).string() + ").");
    return false;
  }
  std::optional<LockFile> lock;
  try {
    lock = TakeDestinationLock(*files);
  } catch (const FileError& e) {
    LogError(e.what());
    return false;
  }
  if (!lock) {
    LogError("Another run is writing to " + files->destination.string() +
             ", where this profile owes lines: they stay owed for the next run.");
    return false;
  }
  return Recover(*files, nullptr);
}

// Once per run, before the first pass: the lines an earlier run owes put in (or discarded when
// they were never committed), the destination discarded when the profile overwrites it, and
// proof that the destination can be written before anything is deleted.
bool Engine::PrepareDestination() {
  const std::filesystem::path& destination = files_->destination;
  const auto appendable = [&] {
    const std::string why = CheckAppendable(destination);
    if (!why.empty()) LogError(why + " Nothing was collected.");
    return why.empty();
  };
  if (settings_.overwrite) AddLogLine("Overwrite existing file: " + settings_.destination_file);
  // Before anything beside it is touched: a pipe or device in its place would hold the run.
  if (!appendable()) return false;
  if (!RecoverEarlierDestination()) return false;
  SpoolRecovery::Kind kind = SpoolRecovery::Kind::kNone;
  if (!Recover(*files_, &kind)) return false;
  // Lines an earlier run appended in full went with the file as it was then; lines put in just
  // now complete that file, which is then kept for its reader instead of discarded.
  if (settings_.overwrite) {
    if (kind == SpoolRecovery::Kind::kAppended) {
      AddLogLine("The lines left by an earlier run completed " + destination.string() +
                 ", so it is not discarded this time.");
    } else {
      DeleteFileByName(destination.string());
    }
  }
  return appendable();
}

ProfileSettings Engine::LoadSourceProfile(const std::filesystem::path& path) const {
  ProfileSettings settings = LoadProfile(path, env_);
  UseCdrDatabase(settings);
  return settings;
}

std::optional<OwingProfile> Engine::ReadOwingProfile(const std::filesystem::path& path) {
  if (!ProfileFileExists(path) || !FileReadError(path).empty()) return std::nullopt;
  const ProfileSettings owner =
      SameProfile(path.string(), settings_.profile_path) ? settings_ : LoadSourceProfile(path);
  std::string error;
  const std::optional<DestinationFiles> files = ResolveDestination(owner.destination_file, error);
  return OwingProfile{owner.sql_table_name, files ? files->destination.string() : std::string()};
}

// The memory of what this profile wrote, for this run's passes; a fresh one, which looks back
// nothing, when there is none to trust.
LateArrivalMemory Engine::LoadLateArrivals(const std::filesystem::path& path, double now) {
  const double start = settings_.sql_new_rec_date;
  const TimeConverter converter(ProfileTimeZone(settings_, env_.computer_rule));
  const LateArrivalReading reading =
      ReadLateArrivals(path, settings_.profile_path, settings_.sql_table_name);
  std::string why;
  switch (reading.state) {
    case LateArrivalReading::State::kRead: {
      const double stored = reading.memory.stored_start;
      if (std::llround(stored) == std::llround(start)) return reading.memory;
      if (stored > start && stored <= now) {
        // An old copy of the profile saved over the one this program updated: the start it
        // stored last holds, or the records since would be written again.
        AddLogLine("The start point " + StatusTime(converter, start) +
                       " of the profile is older than the one this program stored last (" +
                       StatusTime(converter, stored) +
                       "), which is used: the profile was saved from an old copy. To collect again "
                       "from an earlier point, remove " +
                       path.string() + " with the start set.",
                   LogPriority::kWarning);
        settings_.sql_new_rec_date = stored;
        return reading.memory;
      }
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
    AddLogLine("Late arrivals: " + why + ", so this run looks back nothing before " +
                   StatusTime(converter, start) + ".",
               LogPriority::kWarning);
  }
  return FreshLateArrivals(settings_.profile_path, settings_.sql_table_name, start);
}

// Asked over the owing profile's own connection, of its own table: both come from its file,
// never from a file beside the destination.
std::vector<bool> Engine::LookUpKeys(const std::filesystem::path& owner_path,
                                     const std::vector<std::string>& keys) {
  DbConnection* connection = database_.get();
  std::string table = settings_.sql_table_name;
  std::unique_ptr<DbConnection> other;
  struct Forget {
    Engine* engine;
    ~Forget() { engine->SetOtherConnection(nullptr); }
  } forget{this};
  if (!SameProfile(owner_path.string(), settings_.profile_path)) {
    const ProfileSettings owner = LoadSourceProfile(owner_path);
    if (const std::string problem = SqlNameProblem("The table name", owner.sql_table_name);
        !problem.empty()) {
      throw DbError(problem);
    }
    table = owner.sql_table_name;
    other = std::make_unique<DbConnection>();
    SetOtherConnection(other.get());
    other->Connect(owner.sql_connection_string, owner.sql_database_name, owner.login,
                   owner.password);
    connection = other.get();
  }
  std::unordered_map<std::string, std::vector<std::size_t>> positions;
  for (std::size_t i = 0; i < keys.size(); ++i) positions[NormalizedKey(keys[i])].push_back(i);
  std::vector<bool> present(keys.size(), false);
  for (std::size_t first = 0; first < keys.size(); first += kKeysPerLookup) {
    std::string list;
    for (std::size_t i = first; i < std::min(keys.size(), first + kKeysPerLookup); ++i) {
      list += (list.empty() ? "" : ",") + QuotedKey(keys[i]);
    }
    DbQuery query(*connection);
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

// How far the collector's clock is ahead of the database server's, asked once per run: the
// windows then end where the server's time does (an NTP step or a restored virtual machine
// would otherwise move the start ahead of every record for good).
double Engine::ClockAheadOfServer() {
  const std::optional<double> server = ServerUnixTime(*database_);
  if (!server) return 0;
  const double ahead = clock_.Now() - *server;
  // A few seconds are the time between the two readings, not a wrong clock.
  constexpr double kTolerance = 5;
  if (ahead <= kTolerance) return 0;
  AddLogLine("This computer's clock is " + std::to_string(std::llround(ahead)) +
                 " seconds ahead of the database server's: the windows end by the server's time.",
             LogPriority::kWarning);
  return ahead;
}

void Engine::Pause(int seconds) {
  observer_.SetProgress(0);
  const bool was_shown = progress_shown_;
  observer_.ShowProgress(true);
  observer_.SetStatus2("Pause: " + std::to_string(seconds) + " Seconds");
  const long long ticks = static_cast<long long>(seconds) * 10;
  for (long long tick = 0; tick < ticks && !AbortRequested(); ++tick) {
    observer_.Pump();
    clock_.Tick();
    observer_.SetProgress(Percent(static_cast<double>(tick + 1), static_cast<double>(ticks)));
  }
  observer_.ShowProgress(was_shown);
}

void Engine::UpdateProgress(double first, double span) {
  if (settings_.connect_sql_mode == RetrievalMode::kNewRecordsOnly) {
    observer_.SetProgress(Percent(settings_.sql_new_rec_date - first, span));
  } else if (settings_.connect_sql_mode == RetrievalMode::kByDate) {
    observer_.SetProgress(Percent(range_start_ - first, span));
  }
}

RunStatus Engine::PollCycle() {
  observer_.ClearLog();
  observer_.Pump();
  observer_.SetRunning(true);
  connect_status_ = RunStatus::kSuccess;
  RunStatus status = RunStatus::kSuccess;

  if (OpenCdrDatabase() <= 0) {
    AddLogLine("Quit");
    status = connect_status_;
  } else if (!PrepareDestination()) {
    status = AbortRequested() ? RunStatus::kAborted : RunStatus::kPassFailed;
  } else {
    const RetrievalMode mode = settings_.connect_sql_mode;
    const double clock_ahead = ClockAheadOfServer();
    const TimeConverter converter(ProfileTimeZone(settings_, env_.computer_rule));
    range_start_ = converter.ToCdrSeconds(std::trunc(settings_.from_date_range));
    range_end_ = converter.ToCdrSeconds(std::trunc(settings_.to_date_range)) + 86400;
    const double now = clock_.Now() - clock_ahead;
    std::optional<LateArrivalMemory> late;
    const std::filesystem::path late_path = LateArrivalPath(settings_.profile_path);
    if (mode == RetrievalMode::kNewRecordsOnly) {
      // The memory keeps the start this program stored, with or without a look-back.
      late = LoadLateArrivals(late_path, now);
      if (settings_.sql_new_rec_date > now) {
        // Nothing is collected until that moment: a typing error, or a clock that was ahead
        // when it was stored.
        summary_.warnings.emplace_back(kStartInFutureWarning);
        AddLogLine("The start point " + StatusTime(converter, settings_.sql_new_rec_date) +
                       " lies in the future: nothing is collected until then. Set SQLNewRecDate to "
                       "the first moment to collect.",
                   LogPriority::kWarning);
      }
    }
    observer_.SetStatus2("");
    observer_.SetProgress(0);
    observer_.ShowProgress(false);
    double first = 0;
    double last = 0;
    progress_shown_ = false;
    if (mode == RetrievalMode::kAllRecords) {
      observer_.SetStatus1("Selected All Records");
    } else if (mode == RetrievalMode::kNewRecordsOnly) {
      first = settings_.sql_new_rec_date;
      last = now - kUnsettledSeconds;
      progress_shown_ = true;
      observer_.SetStatus1("Selected: " + StatusTime(converter, first) + " to " +
                           StatusTime(converter, last));
    } else if (mode == RetrievalMode::kByDate) {
      first = range_start_;
      last = range_end_;
      progress_shown_ = true;
      observer_.SetStatus1("Selected: " + StatusTime(converter, first) + " to " +
                           StatusTime(converter, last - 1));
    } else {
      observer_.SetStatus1("Selected Records by SQL Statement");
    }
    observer_.ShowProgress(progress_shown_);

    PassContext context{
        env_,
        settings_,
        *database_,
        *files_,
        observer_,
        clock_,
        clock_ahead,
        hooks_,
        [this] { return AbortRequested(); },
        [this](std::string_view line) { AddLogLine(line); },
        [this](std::string_view line) { LogError(line); },
        [this](LogPriority priority, std::string_view line) { AddLogLine(line, priority); },
        range_start_,
        range_end_};
    if (late) {
      context.late_path = late_path;
      context.late = &*late;
      context.look_back_seconds = settings_.late_arrival_minutes * 60.0;
    }
    const double span = last - first;
    std::int64_t total = 0;
    int failed_in_row = 0;
    bool done = false;
    while (!done && !AbortRequested()) {
      const PassResult pass = TransferPass(context);
      ++summary_.passes;
      observer_.Pump();
      const bool completed = pass.outcome == PassOutcome::kCompleted;
      if (completed) {
        summary_.records_collected += pass.records;
        if (pass.deleted) summary_.records_deleted += pass.records;
      }
      const std::int64_t n = completed && !AbortRequested() ? pass.records : 0;
      total += n;
      AddLogLine("Total Records Retrieved: " + std::to_string(total));
      if (completed) {
        failed_in_row = 0;
      } else {
        status = RunStatus::kPassFailed;
        ++failed_in_row;
      }
      switch (mode) {
        case RetrievalMode::kNewRecordsOnly:
        case RetrievalMode::kByDate:
          done = completed && pass.passes_done;
          break;
        case RetrievalMode::kBySqlQuery:
          done = n == 0 || !settings_.poll_again;
          break;
        default:
          done = true;
      }
      if (pass.outcome == PassOutcome::kRunMustEnd) {
        AddLogLine("The run ends: what the pass owes is kept for the next run.",
                   LogPriority::kWarning);
        done = true;
      } else if (!done && failed_in_row >= kMaxFailedPassesInRow) {
        LogError("Giving up after " + std::to_string(failed_in_row) + " failed passes in a row.");
        done = true;
      }
      if (!AbortRequested() && !done && settings_.poll_again) {
        if (settings_.wait_before_polling_again > 0) Pause(settings_.wait_before_polling_again);
        if (!AbortRequested()) AddLogLine("Polling More Records");
      }
      UpdateProgress(first, span);
    }
    if (AbortRequested()) {
      observer_.SetStatus2("Operation Aborted.");
      status = RunStatus::kAborted;
    } else {
      observer_.SetStatus2("Operation Completed.");
    }
    observer_.SetProgress(100);
  }
  AddLogLine("Close");
  database_->Disconnect();
  observer_.SetRunning(false);
  return status;
}

bool Engine::DeleteAllRecords(const ProfileSettings& given,
                              const std::function<void(std::string_view)>& report) {
  ProfileSettings settings = given;
  UseCdrDatabase(settings);
  abort_requested_.store(false);
  database_->ResetCancel();
  summary_ = RunSummary();
  summary_.started = clock_.Now();
  summary_.profile_path = settings.profile_path;
  summary_.profile_name = settings.profile_name;
  summary_.destination = settings.destination_file;
  summary_.status = RunStatus::kPassFailed;
  const auto say = [&](std::string_view line) {
    if (report) {
      report(line);
    } else {
      AddLogLine(line);
    }
  };
  say("User Name:" + settings.login);
  say("Table Name:" + settings.sql_table_name);
  say("SQL Connection String:" + MaskConnectionPasswords(settings.sql_connection_string));
  bool deleted = false;
  const std::string name_problem = SqlNameProblem("The table name", settings.sql_table_name);
  if ((TrimView(settings.login).empty() && !UsesCdrFiles(settings)) ||
      TrimView(settings.sql_table_name).empty() ||
      TrimView(settings.sql_connection_string).empty()) {
    summary_.last_error = "Invalid Connection Information. Cannot Connect!";
    summary_.status = RunStatus::kSettingsInvalid;
    say(summary_.last_error);
  } else if (!name_problem.empty()) {
    summary_.last_error = name_problem;
    summary_.status = RunStatus::kSettingsInvalid;
    say(name_problem);
  } else {
    database_->Disconnect();
    try {
      DbQuery remove(*database_);
      remove.AddLine("DELETE FROM " + settings.sql_table_name);
      database_->Connect(settings.sql_connection_string, settings.sql_database_name, settings.login,
                         settings.password);
      say("Open Connection " + settings.login);
      if (database_->Connected()) {
        try {
          remove.Execute();
          say("Deleted Records");
          deleted = true;
          summary_.status = RunStatus::kSuccess;
        } catch (const DbError& e) {
          summary_.last_error = e.what();
          say("Delete Failed");
        }
      }
    } catch (const DbError& e) {
      summary_.last_error = e.what();
      summary_.status = RunStatus::kConnectionFailed;
      say("Connection Failed for User Name:" + settings.login);
    }
    database_->Disconnect();
    say("Done");
  }
  summary_.ended = clock_.Now();
  return deleted;
}

}  // namespace remoteccm
