#include "retrieval/engine.h"

#include <cmath>
#include <optional>

#include "platform/db/connection_string.h"
#include "platform/db/database.h"
#include "platform/db/db_error.h"
#include "retrieval/field_list.h"
#include "retrieval/line_layout.h"
#include "retrieval/pass_spool.h"
#include "retrieval/statement_builder.h"
#include "util/file_routines.h"
#include "util/ini_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

// A failing pass in the windowed modes is tried again; an unattended run must still end.
constexpr int kMaxFailedPassesInRow = 3;

// A row of an open query as the line formatter reads it.
class QueryRow : public ResultRow {
 public:
  explicit QueryRow(const DbQuery& query) : query_(query) {}
  std::string_view Text(std::size_t column) const override {
    return query_.AsString(static_cast<int>(column));
  }

 private:
  const DbQuery& query_;
};

bool Blank(std::string_view text) { return TrimView(text).empty(); }

// The destination's path with its extension replaced by ".BAK".
std::string BackupPathOf(const std::string& destination) {
  std::filesystem::path path(destination);
  path.replace_extension(".BAK");
  return path.string();
}

int Percent(double part, double span) {
  if (!(span > 0)) return part >= span ? 100 : 0;
  const double value = std::trunc(part / span * 100);
  if (!(value > 0)) return 0;
  return value > 100 ? 100 : static_cast<int>(value);
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

void Engine::AddLogLine(std::string_view line) {
  observer_.LogLine(line);
  if (companion_ != nullptr && !line.empty()) {
    std::string text(line);
    text.push_back('\n');
    companion_->Send(text);
  }
}

RunStatus Engine::RunProfile(const std::string& profile_path) {
  observer_.ClearLog();
  settings_ = LoadProfile(profile_path, env_);
  if (!settings_.use_dialup) return PollCycle();

  AddLogLine("Connect using " + settings_.phonebook_entry);
  AddLogLine("Dialing... " + dialer_.PhoneNumber(settings_.phonebook_entry));
  const int code = dialer_.Dial(DialRequest{settings_.phonebook_entry, settings_.dial_user_name,
                                            settings_.dial_password, settings_.dial_domain});
  RunStatus status = RunStatus::kConnectionFailed;
  if (code == 0) {
    while (dialer_.State() == DialState::kPending && !AbortRequested()) {
      observer_.Pump();
      clock_.Tick();
    }
    status = PollCycle();
  }
  AddLogLine("Done..." + dialer_.ErrorText(code));
  dialer_.HangUp();
  return status;
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
  const bool usable = !Blank(settings_.sql_database_name) && !Blank(settings_.sql_table_name) &&
                      !Blank(connection) && names_source;
  if (!usable) {
    connect_status_ = RunStatus::kSettingsInvalid;
    AddLogLine("Error: Invalid ODBC Connection String");
    AddLogLine(shown);
    AddLogLine("Connect Fail");
    AddLogLine("D:" + settings_.sql_database_name + " T:" + settings_.sql_table_name);
    AddLogLine("U:" + settings_.login + " S:" + settings_.profile_name);
    AddLogLine("C:" + shown);
  } else {
    try {
      database_->Connect(connection, settings_.sql_database_name, settings_.login,
                         settings_.password);
      result = 1;
    } catch (const DbError& e) {
      connect_status_ = RunStatus::kConnectionFailed;
      observer_.LogLineDirect("Error: Connection Failed.");
      observer_.ShowConnectionError(e.what());
    }
    AddLogLine("Connect");
    AddLogLine(shown);
  }
  if (result < 0) {
    AddLogLine("\r\nConnection Information:");
    AddLogLine(shown);
    AddLogLine("Cannot Connect to CCM SQL Server!");
  } else {
    AddLogLine("Connection to CCM SQL Server Successful!");
  }
  return result;
}

void Engine::Show(const Statement& statement) {
  if (statement.label1) observer_.SetStatus1(*statement.label1);
  if (statement.label2) observer_.SetStatus2(*statement.label2);
  for (const std::string& line : statement.log_lines) AddLogLine(line);
  observer_.Pump();
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
  destination_prepared_ = false;
  write_failed_ = false;
  RunStatus status = RunStatus::kSuccess;

  if (OpenCdrDatabase() <= 0) {
    AddLogLine("Quit");
    status = connect_status_;
  } else {
    const RetrievalMode mode = settings_.connect_sql_mode;
    const TimeConverter converter(ProfileTimeZone(settings_, env_.computer_rule));
    bool done = false;
    passes_done_ = false;
    range_start_ = converter.ToCdrSeconds(std::trunc(settings_.from_date_range));
    range_end_ = converter.ToCdrSeconds(std::trunc(settings_.to_date_range)) + 86400;
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
      last = clock_.Now() - 60;
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
    const double span = last - first;

    std::int64_t total = 0;
    int failed_in_row = 0;
    while (!done && !AbortRequested()) {
      const std::int64_t n = TransferPass();
      observer_.Pump();
      total += n;
      AddLogLine("Total Records Retrieved: " + std::to_string(total));
      if (pass_failed_) {
        status = RunStatus::kPassFailed;
        ++failed_in_row;
      } else {
        failed_in_row = 0;
      }
      switch (mode) {
        case RetrievalMode::kNewRecordsOnly:
        case RetrievalMode::kByDate:
          done = passes_done_;
          break;
        case RetrievalMode::kBySqlQuery:
          done = n == 0 || !settings_.poll_again;
          break;
        default:
          done = true;
      }
      if (write_failed_) {
        AddLogLine("The run ends: a file could not be written.");
        done = true;
      } else if (!done && failed_in_row >= kMaxFailedPassesInRow) {
        AddLogLine("Giving up after " + std::to_string(failed_in_row) + " failed passes in a row.");
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

// Once per run, before the first pass writes anything: the destination is discarded when the
// profile overwrites it, then the lines a killed run left behind are put into it.
bool Engine::PrepareDestination() {
  if (destination_prepared_) return true;
  destination_prepared_ = true;
  const std::string& destination = settings_.destination_file;
  if (settings_.overwrite) {
    AddLogLine("Overwrite existing file: " + destination);
    DeleteFileByName(destination);
  }
  try {
    const SpoolRecovery recovery = RecoverSpool(destination, settings_.overwrite);
    switch (recovery.kind) {
      case SpoolRecovery::Kind::kNone:
        break;
      case SpoolRecovery::Kind::kDiscarded:
        AddLogLine("Discarded the unfinished lines of an earlier run (nothing was deleted).");
        break;
      case SpoolRecovery::Kind::kAppended:
      case SpoolRecovery::Kind::kAlreadyAppended:
        AddLogLine("Appended " + std::to_string(recovery.line_count) +
                   " lines left by an earlier run to " + destination);
        if (recovery.start) {
          settings_.sql_new_rec_date = ParseDecimal(recovery.start->value);
        }
        break;
    }
  } catch (const FileError& e) {
    AddLogLine(e.what());
    write_failed_ = true;
    return false;
  }
  return true;
}

std::int64_t Engine::TransferPass() {
  passes_done_ = false;
  pass_failed_ = false;
  const double now = clock_.Now();
  const RetrievalMode mode = settings_.connect_sql_mode;
  if (!database_->Connected()) {
    pass_failed_ = true;
    return 0;
  }
  AddLogLine("Link to SQL Server");
  if (!PrepareDestination()) {
    pass_failed_ = true;
    return 0;
  }
  // Taken after the destination is prepared: a recovered spool moves the start on.
  const double start_value = settings_.sql_new_rec_date;
  const std::string& destination = settings_.destination_file;

  const FieldList fields = ReadFieldList(env_.program_home);
  if (!fields.source_log_line.empty()) AddLogLine(fields.source_log_line);
  if (fields.width_capped) AddLogLine("Field widths above 255 are cut to 255.");

  const TimeConverter converter(ProfileTimeZone(settings_, env_.computer_rule));
  const PassValues values{start_value, now, range_start_, range_end_};
  const Statement selection =
      BuildStatement(StatementKind::kSelection, settings_, values, converter);
  Show(selection);
  for (const std::string& line : selection.lines) AddLogLine(line);

  bool failed = false;
  bool marked = false;  // the spool's lines are owed to the destination
  int outcome = 0;
  std::int64_t count = 0;
  PassSpool spool(destination);
  BufferedAppendFile backup;
  std::optional<DbTransaction> transaction;
  DbQuery query(*database_);
  try {
    spool.Open();
  } catch (const FileError& e) {
    AddLogLine(e.what());
    write_failed_ = true;
    failed = true;
  }

  if (!failed) {
    try {
      if (selection.lines.empty()) throw DbError("There is no selection statement.");
      // Selection and deletion share one transaction that sees no later insert, so that the
      // deletion removes only what was read.
      if (settings_.delete_recs) transaction.emplace(*database_, IsolationLevel::kSerializable);
      for (const std::string& line : selection.lines) query.AddLine(line);
      query.Open();
    } catch (const DbError& e) {
      outcome = 1;
      AddLogLine(
          "Cannot Execute SQL Instructions. SQL Query may be invalid or returning too many "
          "records.");
      AddLogLine("Please verify query or use a query which selects less records.");
      // No selection statement at all is the "No Records" mode's normal pass.
      if (mode != RetrievalMode::kNoRecords) {
        AddLogLine(e.what());
        failed = true;
      }
    }
  }

  if (query.Active()) {
    AddLogLine("Read Records ");
    try {
      if (query.Eof()) {
        AddLogLine("No Records in Table " + settings_.sql_table_name + " Selected by SQL");
        outcome = 2;
      } else {
        AddLogLine("Get the records");
        std::vector<std::string> columns;
        for (int i = 0; i < query.FieldCount(); ++i) columns.push_back(query.FieldName(i));
        int date_column = -1;
        if (mode == RetrievalMode::kNewRecordsOnly) {
          date_column = query.FieldIndex(settings_.sql_date_time_fld_name);
          // "Field '...' not found" when the result lacks the column the windows compare.
          if (date_column < 0) query.FieldByName(settings_.sql_date_time_fld_name);
        }
        if (settings_.sql_backup) {
          const std::string backup_path = BackupPathOf(destination);
          const bool needs_header = FileSizeOf(backup_path) < 10;
          backup.Open(backup_path, false, false);
          if (needs_header) {
            const std::string header = BackupHeaderLine(columns);
            backup.WriteLine(header);
            AddLogLine("*backup fields>*: " + header);
          }
        }
        const LineFormatter formatter(fields, columns, converter);
        if (!backup.IsOpen()) {
          // Without a backup line only the columns the lines show are read: the drivers
          // convert every column read of every row, most of a wide row's cost.
          std::vector<int> read = formatter.ColumnsRead();
          if (date_column >= 0) read.push_back(date_column);
          query.ReadOnlyColumns(read);
        }
        const QueryRow row(query);
        std::string line;
        std::string tagged;  // the backup log line, its buffer reused from record to record
        while (!query.Eof()) {
          if (backup.IsOpen()) {
            FormatBackupLine(row, columns.size(), line);
            backup.WriteLine(line);
            tagged.assign("*backup>*: ").append(line);
            AddLogLine(tagged);
          }
          // A comma line is the backup line itself.
          if (!backup.IsOpen() || !formatter.IsCommaLayout()) formatter.Format(row, line);
          if (!Blank(line)) {
            if (date_column >= 0) {
              const double value = ColumnNumber(query.AsString(date_column));
              if (value > settings_.sql_new_rec_date) settings_.sql_new_rec_date = value;
            }
            spool.AddLine(line);
            AddLogLine(line);
          }
          ++count;
          query.Next();
          observer_.Pump();
          if (AbortRequested()) break;
        }
        backup.Close();
      }
    } catch (const DbError& e) {
      AddLogLine("Cannot read the records: " + std::string(e.what()));
      failed = true;
    } catch (const FileError& e) {
      AddLogLine(e.what());
      write_failed_ = true;
      failed = true;
    }
    query.Close();
  }

  // The lines are safe on disk before anything is deleted on the server.
  if (!failed) {
    try {
      spool.MakeDurable();
    } catch (const FileError& e) {
      AddLogLine(e.what());
      write_failed_ = true;
      failed = true;
    }
  }

  if (count > 0 && outcome == 0 && !failed && !AbortRequested()) {
    AddLogLine("Check whether to delete the records now!");
    if (settings_.delete_recs) {
      AddLogLine("Delete Records from SQL Server");
      const Statement deletion =
          BuildStatement(StatementKind::kDeletion, settings_, values, converter);
      Show(deletion);
      for (const std::string& line : deletion.lines) AddLogLine(line);
      if (database_->Connected() && !deletion.lines.empty()) {
        try {
          if (hooks_.before_deletion) hooks_.before_deletion(*database_);
          DbQuery remove(*database_);
          for (const std::string& line : deletion.lines) remove.AddLine(line);
          remove.Execute();
        } catch (const DbError& e) {
          failed = true;
          outcome = 1;
          AddLogLine("Delete Failed. Cannot Execute SQL Instructions. ");
          AddLogLine(e.what());
        }
      } else {
        failed = true;
      }
    }
  } else if (AbortRequested()) {
    failed = true;
  }

  if (!failed) {
    // Where the next pass starts, worked out before the lines are owed to the destination so
    // that a run killed from here on stores it with them.
    std::optional<PendingStart> start;
    double next_start = settings_.sql_new_rec_date;
    if (mode == RetrievalMode::kNewRecordsOnly) {
      if (settings_.sql_new_rec_date < selection.window_end && now - 60 > selection.window_end) {
        next_start = selection.window_end;
        passes_done_ = selection.increment == 0 || !settings_.poll_again;
      } else {
        if (count > 0) next_start = settings_.sql_new_rec_date + 1;
        passes_done_ = true;
      }
      start = PendingStart{settings_.profile_path, FormatWhole(next_start)};
    }
    try {
      spool.MarkReady(start);
      marked = true;
      if (transaction) {
        try {
          transaction->Commit();
        } catch (const DbError& e) {
          // Whether the server deleted the records is not known: keep the lines, a record
          // written twice is better than one lost.
          AddLogLine("The deletion could not be confirmed: " + std::string(e.what()));
        }
      }
      spool.AppendToDestination();
      if (start) {
        settings_.sql_new_rec_date = next_start;
        WriteProfileValue(settings_.profile_path, "Options", "SQLNewRecDate", start->value);
      }
      spool.Finish();
    } catch (const FileError& e) {
      AddLogLine(e.what());
      write_failed_ = true;
      failed = true;
    } catch (const IniWriteError& e) {
      AddLogLine(e.what());
      write_failed_ = true;
      failed = true;
    }
    if (!failed && mode == RetrievalMode::kByDate) {
      range_start_ += selection.increment;
      passes_done_ =
          range_start_ >= range_end_ || selection.increment == 0 || !settings_.poll_again;
    }
  }
  // Lines not yet owed to the destination go; owed ones stay for the next run.
  if (failed && !marked) spool.Discard();

  if (failed) {
    // The next pass starts where this one did: its records were neither written nor deleted.
    if (!marked) settings_.sql_new_rec_date = start_value;
    AddLogLine("Aborted or Failed: " + std::to_string(count) + " records ignored.");
  } else {
    AddLogLine("Retrieved: " + std::to_string(count) + " records.");
  }
  pass_failed_ = failed;
  observer_.Pump();
  return failed || AbortRequested() ? 0 : count;
}

bool Engine::DeleteAllRecords(const ProfileSettings& settings,
                              const std::function<void(std::string_view)>& report) {
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
  if (Blank(settings.login) || Blank(settings.sql_table_name) ||
      Blank(settings.sql_connection_string)) {
    say("Invalid Connection Information. Cannot Connect!");
    return false;
  }
  bool deleted = false;
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
      } catch (const DbError&) {
        say("Delete Failed");
      }
    }
  } catch (const DbError&) {
    say("Connection Failed for User Name:" + settings.login);
  }
  database_->Disconnect();
  say("Done");
  return deleted;
}

}  // namespace remoteccm
