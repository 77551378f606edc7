// One piece: the phases of a pass, in the order they run, around the one spool they
// share.

#include "retrieval/run/transfer_pass.h"

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "platform/db/db_error.h"
#include "retrieval/layout/field_list.h"
#include "retrieval/layout/line_layout.h"
#include "retrieval/run/statement_builder.h"
#include "retrieval/spool/pass_spool.h"
#include "util/ini_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

// The unique key of the CDR table: it tells a deleted record from one still there.
constexpr std::string_view kKeyColumn = "pkid";

// A row of an open query as the line formatter reads it.
class QueryRow : public ResultRow {
 public:
  explicit QueryRow(const DbQuery& query) : query_(query) {}
  std::string_view Text(std::size_t column) const override {
    return query_.AsString(static_cast<int>(column));
  }
  double Number(std::size_t column) const override {
    // A whole number of up to 2^63 converts to the double its decimal text reads as.
    if (const auto value = query_.AsInteger(static_cast<int>(column))) {
      return static_cast<double>(*value);
    }
    return ColumnNumber(Text(column));
  }

 private:
  const DbQuery& query_;
};

// The columns of a row in another order, some missing (empty): the columns a memory's row keys
// were made from, as they stand in the table now.
class RemappedRow : public ResultRow {
 public:
  RemappedRow(const ResultRow& row, const std::vector<int>& positions)
      : row_(row), positions_(positions) {}
  std::string_view Text(std::size_t column) const override {
    const int at = positions_[column];
    return at < 0 ? std::string_view() : row_.Text(static_cast<std::size_t>(at));
  }
  double Number(std::size_t column) const override {
    const int at = positions_[column];
    return at < 0 ? 0 : row_.Number(static_cast<std::size_t>(at));
  }

 private:
  const ResultRow& row_;
  const std::vector<int>& positions_;
};

bool Blank(std::string_view text) { return TrimView(text).empty(); }

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

class Pass {
 public:
  explicit Pass(PassContext& context)
      : c_(context),
        services_(context.services),
        settings_(context.settings),
        late_(context.late),
        mode_(settings_.connect_sql_mode),
        start_value_(settings_.sql_new_rec_date),
        now_(services_.clock.Now() - context.clock_ahead),
        converter_(ProfileTimeZone(settings_, services_.env.computer_rule)),
        spool_(context.files, OwedNotePath(settings_.profile_path)),
        query_(context.database) {}

  PassResult Run() {
    if (!c_.database.Connected()) return Failed();
    Log("Link to SQL Server");
    fields_ = ReadFieldList(services_.env.program_home);
    if (!fields_.read_error.empty()) {
      LogError(fields_.read_error + " Nothing was deleted.");
      return Failed();
    }
    if (!fields_.source_log_line.empty()) Log(fields_.source_log_line);
    if (fields_.width_capped)
      LogAt(LogPriority::kWarning, "Field widths above 255 are cut to 255.");

    PassValues values{start_value_, now_, c_.range.start, c_.range.end};
    if (mode_ == RetrievalMode::kNewRecordsOnly && late_ != nullptr) {
      values.select_from = LookBackFrom(late_->memory, start_value_, late_->look_back_seconds,
                                        settings_.delete_recs);
    }
    selection_ = BuildStatement(StatementKind::kSelection, settings_, values, converter_);
    Show(selection_);
    if (!selection_.lines.empty()) services_.observer.PassStarted();

    if (!Select()) return selected_nothing_ ? Deliver() : Failed();
    if (!Read()) return Ended();
    if (!MakeDurable()) return Ended();
    if (!Delete(values)) return Ended();
    return Deliver();
  }

 private:
  // The columns of the selection, and the ones the pass reads besides those the lines show.
  struct Columns {
    std::vector<std::string> names;
    int date = -1;          // New Records Only: each record's date
    int key = -1;           // pkid: for the deletion's recovery, and for the look-back's memory
    bool remember = false;  // the look-back's memory learns the records written
    bool row_keys = false;  // without a pkid column a record is known by its columns' text
    std::vector<int> key_positions;  // the columns those row keys are made of
  };

  // What reading writes besides the spool, and the buffers reused from record to record.
  struct Output {
    BufferedAppendFile backup;
    std::string line;
    std::string tagged;  // the backup log line
    std::string row_key;
    std::int64_t blank = 0;  // records whose line is blank, which is not written
  };

  // Where the next pass starts (New Records Only) and whether the mode wants no further pass.
  struct NextStart {
    std::optional<std::string> stored;  // the start as the profile stores it (none: it stays)
    double value = 0;
    bool passes_done = false;
  };

  void Log(std::string_view line) { services_.log(line, LogPriority::kInfo); }
  void LogAt(LogPriority priority, std::string_view line) { services_.log(line, priority); }
  void LogError(std::string_view line) { c_.log_error(line); }
  bool Aborted() const { return services_.abort.Requested(); }

  void Show(const Statement& statement) {
    if (statement.label1) services_.observer.SetStatus1(*statement.label1);
    if (statement.label2) services_.observer.SetStatus2(*statement.label2);
    for (const std::string& line : statement.log_lines) Log(line);
    services_.observer.Pump();
    for (const std::string& line : statement.lines) Log(line);
  }

  void At(PassPoint point) {
    if (services_.hooks.at_point) services_.hooks.at_point(point);
  }

  // Opens the selection: inside the transaction of the deletion, so that the deletion removes
  // only what was read.
  bool Select() {
    try {
      if (selection_.lines.empty()) throw DbError("There is no selection statement.");
      if (settings_.delete_recs) {
        transaction_.emplace(c_.database, IsolationLevel::kSerializable);
      }
      for (const std::string& line : selection_.lines) query_.AddLine(line);
      query_.ReadIntegersAsText(services_.hooks.integers_as_text);
      query_.Open();
    } catch (const DbError& e) {
      if (Aborted()) {
        outcome_ = PassOutcome::kAborted;
        return false;
      }
      LogAt(LogPriority::kWarning,
            "Cannot Execute SQL Instructions. SQL Query may be invalid or returning too many "
            "records.");
      LogAt(LogPriority::kWarning,
            "Please verify query or use a query which selects less records.");
      // No selection statement at all is the "No Records" mode's normal pass.
      if (mode_ == RetrievalMode::kNoRecords) {
        selected_nothing_ = true;
      } else {
        LogError(e.what());
      }
      return false;
    }
    Log("Read Records ");
    if (query_.Eof()) {
      Log("No Records in Table " + settings_.sql_table_name + " Selected by SQL");
      selected_nothing_ = true;
      return false;
    }
    return true;
  }

  // Reads every record into the spool (and the backup file).
  bool Read() {
    Log("Get the records");
    if (!ReadColumns()) return false;
    const LineFormatter formatter(fields_, columns_.names, converter_);
    if (!CheckFieldList(formatter, columns_.names) || !FindKeyColumns()) return false;
    Output out;
    try {
      OpenOutput(formatter, out);
      ReadRecords(formatter, out);
      out.backup.Close();
      LogPassedOver(out.blank);
    } catch (const DbError& e) {
      KeepBackup(out.backup);
      if (Aborted()) {
        outcome_ = PassOutcome::kAborted;
      } else {
        LogError("Cannot read the records: " + std::string(e.what()));
      }
      return false;
    } catch (const FileError& e) {
      KeepBackup(out.backup);
      LogError(e.what());
      outcome_ = PassOutcome::kRunMustEnd;
      return false;
    }
    query_.Close();
    if (Aborted()) {
      outcome_ = PassOutcome::kAborted;
      return false;
    }
    return true;
  }

  // The selection's columns; false when New Records Only finds no date column among them.
  bool ReadColumns() {
    columns_.names.reserve(static_cast<std::size_t>(query_.FieldCount()));
    for (int i = 0; i < query_.FieldCount(); ++i) columns_.names.push_back(query_.FieldName(i));
    if (mode_ != RetrievalMode::kNewRecordsOnly) return true;
    columns_.date = FindColumn(columns_.names, settings_.sql_date_time_fld_name);
    if (columns_.date >= 0) return true;
    LogError("Cannot read the records: Field '" + settings_.sql_date_time_fld_name + "' not found");
    return false;
  }

  // The columns that name each record; false when a deletion has no pkid to name them by.
  bool FindKeyColumns() {
    // Keys name the records: for the deletion's recovery, and for the look-back's memory.
    columns_.remember = late_ != nullptr && late_->look_back_seconds > 0;
    if (settings_.delete_recs || columns_.remember) {
      columns_.key = FindColumn(columns_.names, kKeyColumn);
    }
    if (settings_.delete_recs && columns_.key < 0) {
      // A run stopped at the commit could not tell whether the deletion went through: its lines
      // would be written again, or lost.
      LogError(
          "The selection holds no pkid column: with DeleteRecs=Y every record read must carry its "
          "pkid, so that a run stopped at its commit can tell whether the records were deleted. "
          "Select pkid too (SELECT pkid, ...), or switch deletion off. Nothing was deleted.");
      return false;
    }
    // Without a pkid column a record is known by the text of the columns the memory's keys
    // were made from.
    columns_.row_keys = columns_.remember && columns_.key < 0;
    if (!columns_.row_keys) return true;
    const std::vector<std::string>& made_from = late_->memory.key_columns;
    if (made_from.empty()) key_columns_ = columns_.names;
    for (const std::string& name : made_from.empty() ? columns_.names : made_from) {
      columns_.key_positions.push_back(FindColumn(columns_.names, name));
    }
    return true;
  }

  // Opens the spool and the backup file. Throws FileError.
  void OpenOutput(const LineFormatter& formatter, Output& out) {
    spool_.Open(columns_.key >= 0 || columns_.row_keys);
    if (settings_.sql_backup) {
      const bool needs_header = FileSize(c_.files.backup) < 10;
      out.backup.Open(c_.files.backup, false, false);
      if (needs_header) {
        const std::string header = BackupHeaderLine(columns_.names);
        out.backup.WriteLine(header);
        LogAt(LogPriority::kRecord, "*backup fields>*: " + header);
      }
      At(PassPoint::kBackupOpen);
    }
    if (!out.backup.IsOpen() && !columns_.row_keys) {
      // Without a backup line only the columns the lines show are read: the drivers convert
      // every column read of every row, most of a wide row's cost.
      std::vector<int> read = formatter.ColumnsRead();
      if (columns_.date >= 0) read.push_back(columns_.date);
      if (columns_.key >= 0) read.push_back(columns_.key);
      query_.ReadOnlyColumns(read);
    }
  }

  // Reads the records until the last one or an abort. Throws DbError and FileError.
  void ReadRecords(const LineFormatter& formatter, Output& out) {
    const QueryRow row(query_);
    while (!query_.Eof()) {
      const std::string_view key = RecordKey(row, out.row_key);
      // Written by an earlier pass: the look-back selected it again.
      const bool known = columns_.remember && late_->memory.seen.contains(std::string(key));
      if (known) {
        ++known_;
      } else {
        WriteRecord(row, key, formatter, out);
        ++records_;
      }
      query_.Next();
      if (!known) services_.observer.RecordsRead(records_);
      services_.observer.Pump();
      if (Aborted()) break;
    }
  }

  // The record's key: its pkid, or the hash of the columns the memory's keys are made of;
  // empty when the pass needs none. `buffer` holds a hash.
  std::string_view RecordKey(const QueryRow& row, std::string& buffer) const {
    if (columns_.key >= 0) return query_.AsString(columns_.key);
    if (!columns_.row_keys) return {};
    FormatBackupLine(RemappedRow(row, columns_.key_positions), columns_.key_positions.size(),
                     buffer);
    buffer = RowHashKey(buffer);
    return buffer;
  }

  // The record's backup line, and its line in the spool unless that is blank.
  void WriteRecord(const QueryRow& row, std::string_view key, const LineFormatter& formatter,
                   Output& out) {
    if (out.backup.IsOpen()) {
      FormatBackupLine(row, columns_.names.size(), out.line);
      out.backup.WriteLine(out.line);
      out.tagged.assign("*backup>*: ").append(out.line);
      LogAt(LogPriority::kRecord, out.tagged);
    }
    // A comma line is the backup line itself.
    if (!out.backup.IsOpen() || !formatter.IsCommaLayout()) formatter.Format(row, out.line);
    if (Blank(out.line)) {
      ++out.blank;
      return;
    }
    double date = 0;
    if (columns_.date >= 0) {
      date = row.Number(static_cast<std::size_t>(columns_.date));
      if (date > settings_.sql_new_rec_date) settings_.sql_new_rec_date = date;
      // A late arrival from the look-back does not move the start.
      if (date >= start_value_ && (!newest_ || date > *newest_)) newest_ = date;
    }
    spool_.AddLine(out.line, key, date);
    if (columns_.remember) written_.push_back(WrittenRecord{std::string(key), date});
    LogAt(LogPriority::kRecord, out.line);
  }

  // The records read but not written, and why.
  void LogPassedOver(std::int64_t blank) {
    if (known_ > 0) {
      Log(std::to_string(known_) + (known_ == 1 ? " record" : " records") +
          " of the look-back for late arrivals had been written before and " +
          (known_ == 1 ? "is" : "are") + " not written again.");
    }
    if (blank > 0) {
      LogAt(LogPriority::kWarning, std::to_string(blank) +
                                       (blank == 1 ? " record gave" : " records gave") +
                                       " a blank line, which is not written.");
    }
  }

  // What was read before a failure stays in the backup file.
  void KeepBackup(BufferedAppendFile& backup) {
    try {
      backup.Close();
    } catch (const FileError& e) {
      LogError(e.what());
    }
  }

  // A field list whose entries name no column of the selection would make every line blank:
  // the records would be deleted, or passed over, with nothing written.
  bool CheckFieldList(const LineFormatter& formatter, const std::vector<std::string>& columns) {
    std::vector<std::string> missing;
    for (const FieldEntry& entry : fields_.entries) {
      if (FindColumn(columns, entry.name) < 0) missing.push_back(entry.name);
    }
    if (formatter.ColumnsRead().empty()) {
      if (fields_.layout == LineLayout::kDefault) {
        LogError(
            "None of the columns of the default line is in the selection: every line would be "
            "blank. Nothing was deleted.");
      } else {
        LogError("The field list names no column of the selection (" + Joined(missing) +
                 "): every line would be blank. Nothing was deleted.");
      }
      return false;
    }
    if (!missing.empty() && fields_.layout != LineLayout::kComma) {
      LogAt(LogPriority::kWarning,
            "Field list entries that name no column of the selection are left blank: " +
                Joined(missing));
    }
    return true;
  }

  bool MakeDurable() {
    try {
      spool_.MakeDurable();
    } catch (const FileError& e) {
      LogError(e.what());
      outcome_ = PassOutcome::kRunMustEnd;
      return false;
    }
    At(PassPoint::kSpoolDurable);
    return true;
  }

  // Deletes on the server what the pass read, inside the transaction of the selection.
  bool Delete(const PassValues& values) {
    if (records_ == 0) return true;
    Log("Check whether to delete the records now!");
    if (!settings_.delete_recs) return true;
    Log("Delete Records from SQL Server");
    const Statement deletion =
        BuildStatement(StatementKind::kDeletion, settings_, values, converter_);
    Show(deletion);
    if (!c_.database.Connected() || deletion.lines.empty()) return false;
    // Nothing is deleted that could not then be written.
    if (const std::string why = CheckAppendable(c_.files.destination); !why.empty()) {
      LogError(why + " Nothing was deleted.");
      return false;
    }
    std::int64_t removed = -1;
    try {
      if (services_.hooks.before_deletion) services_.hooks.before_deletion(c_.database);
      DbQuery remove(c_.database);
      for (const std::string& line : deletion.lines) remove.AddLine(line);
      removed = remove.Execute();
    } catch (const DbError& e) {
      if (Aborted()) {
        outcome_ = PassOutcome::kAborted;
        return false;
      }
      LogAt(LogPriority::kError, "Delete Failed. Cannot Execute SQL Instructions. ");
      LogError(e.what());
      return false;
    }
    // The modes' own deletion covers exactly the rows of the selection; one that removes fewer
    // (a trigger, a view, a right to select but not to delete) would leave records that the
    // next pass writes again. The profile's own statements may delete by other rules.
    const std::int64_t read = records_ + known_;
    if (mode_ != RetrievalMode::kBySqlQuery && removed >= 0 && removed != read) {
      LogError("The deletion removed " + std::to_string(removed) + " of the " +
               std::to_string(read) +
               " records the pass read: it is rolled back and nothing is written.");
      return false;
    }
    deleting_ = true;
    At(PassPoint::kDeleted);
    return true;
  }

  // Owes the lines to the destination, commits the deletion, appends, moves the start on.
  PassResult Deliver() {
    const NextStart next = FindNextStart();
    if (!MarkOwed(next.stored)) return Ended();
    if (!Commit() || !Append() || !RememberLateArrivals(next.stored) || !StoreStart(next) ||
        !ForgetSpool()) {
      return MustEnd();
    }
    return Completed(next.passes_done);
  }

  NextStart FindNextStart() {
    NextStart next;
    next.value = settings_.sql_new_rec_date;
    if (mode_ != RetrievalMode::kNewRecordsOnly) return next;
    if (settings_.sql_new_rec_date < selection_.window_end &&
        now_ - kUnsettledSeconds > selection_.window_end) {
      next.value = selection_.window_end;
      next.passes_done = selection_.increment == 0 || !settings_.poll_again;
      if (!newest_) NextAfterEmptyWindow(next.value, next.passes_done);
    } else {
      // One second after the newest record of the window; late arrivals do not count.
      if (newest_) next.value = *newest_ + 1;
      next.passes_done = true;
    }
    next.stored = FormatWhole(next.value);
    return next;
  }

  // The lines are owed: noted beside the profile, then beside the destination.
  bool MarkOwed(const std::optional<std::string>& start) {
    ReadyNote note;
    note.profile_name = std::filesystem::path(settings_.profile_path).stem().string();
    note.profile_file = FileIdentity(settings_.profile_path);
    note.table = settings_.sql_table_name;
    note.deleted = deleting_;
    note.start = start;
    if (late_ != nullptr) {
      note.late_memory = true;
      note.late_look_back = static_cast<std::int64_t>(late_->look_back_seconds);
    }
    try {
      if (records_ == 0) spool_.Open(false);  // nothing was selected: an empty spool
      spool_.MarkReady(note, [this] { At(PassPoint::kOwedNoted); });
    } catch (const FileError& e) {
      LogError(e.what());
      outcome_ = PassOutcome::kRunMustEnd;
      return false;
    }
    marked_ = true;
    At(PassPoint::kReadyNoted);
    return true;
  }

  bool Commit() {
    if (!deleting_) return true;
    try {
      transaction_->Commit();
    } catch (const DbError& e) {
      LogError("The deletion could not be confirmed: " + std::string(e.what()) + " The lines of " +
               std::to_string(records_) + " records are kept in " + c_.files.spool.string() +
               "; the next run asks the database whether they were deleted.");
      return false;
    }
    At(PassPoint::kCommitted);
    return true;
  }

  bool Append() {
    try {
      spool_.AppendToDestination([this] { At(PassPoint::kMidAppend); });
    } catch (const FileError& e) {
      LogError(std::string(e.what()) + ". The lines are kept in " + c_.files.spool.string() +
               " for the next run.");
      return false;
    }
    At(PassPoint::kAppended);
    return true;
  }

  // The memory matches the lines in the destination before the start moves on.
  bool RememberLateArrivals(const std::optional<std::string>& start) {
    if (late_ == nullptr || !start) return true;
    LateArrivalMemory updated = late_->memory;
    if (!key_columns_.empty()) updated.key_columns = key_columns_;
    AfterLinesAreIn(updated, written_, ParseDecimal(*start), late_->look_back_seconds,
                    spool_.line_count() == 0 || spool_.keys_usable());
    try {
      WriteLateArrivals(late_->path, updated);
    } catch (const FileError& e) {
      LogError(std::string(e.what()) + ": the memory of late arrivals could not be " +
               "written. The lines are in " + c_.files.destination.string() +
               "; the next run brings the memory up to date.");
      return false;
    }
    late_->memory = std::move(updated);
    return true;
  }

  bool StoreStart(const NextStart& next) {
    if (next.stored) {
      try {
        WriteProfileValue(settings_.profile_path, kProfileSection, kStartKey, *next.stored);
      } catch (const IniWriteError& e) {
        LogError(std::string(e.what()) + ": the lines are in " + c_.files.destination.string() +
                 (deleting_ ? " and their records were deleted" : "") +
                 ", but the new start point " + *next.stored +
                 " could not be stored. The next run stores it.");
        return false;
      }
      settings_.sql_new_rec_date = next.value;
    }
    At(PassPoint::kStartStored);
    return true;
  }

  // The lines are no longer owed; the spool goes.
  bool ForgetSpool() {
    try {
      spool_.Finish([this] { At(PassPoint::kUnmarked); });
    } catch (const FileError& e) {
      LogError(std::string(e.what()) + ": the lines are in " + c_.files.destination.string() +
               "; the next run finds them there.");
      return false;
    }
    return true;
  }

  PassResult Completed(bool passes_done) {
    if (mode_ == RetrievalMode::kByDate) {
      c_.range.start += selection_.increment;
      passes_done =
          c_.range.start >= c_.range.end || selection_.increment == 0 || !settings_.poll_again;
    }
    Log("Retrieved: " + std::to_string(records_) + " records.");
    services_.observer.Pump();
    PassResult result;
    result.outcome = PassOutcome::kCompleted;
    result.records = records_;
    result.lines = static_cast<std::int64_t>(spool_.line_count());
    result.deleted = deleting_;
    result.passes_done = passes_done;
    return result;
  }

  // A full window without a record of its own: the start jumps to the window of the oldest record
  // after it, so that a start far in the past does not walk years of empty windows one by one.
  // When no record lies after it, the start stays where it is (it never moves ahead of the
  // records, whatever the clock says) and the passes end.
  void NextAfterEmptyWindow(double& next_start, bool& passes_done) {
    const std::string& field = settings_.sql_date_time_fld_name;
    const std::string statement = "SELECT MIN(" + field + ") FROM " + settings_.sql_table_name +
                                  " WHERE " + field + " >= " + FormatWhole(selection_.window_end);
    std::optional<double> oldest;
    try {
      DbQuery query(c_.database);
      query.AddLine(statement);
      query.Open();
      if (!query.Eof() && !query.IsNull(0)) oldest = ColumnNumber(query.AsString(0));
    } catch (const DbError& e) {
      Log("Cannot look for the next record after the empty window (" + statement +
          "): " + e.what());
      return;
    }
    const double increment = selection_.increment;
    if (!oldest) {
      next_start = start_value_;
      passes_done = true;
      Log("No records from " + StatusTime(converter_, start_value_) + " on (" + statement +
          "): the start point stays.");
      return;
    }
    // The window of the oldest record, on the windows' own steps, never past the window that
    // holds the last minute.
    const auto window_of = [&](double moment) {
      return start_value_ + std::floor((moment - start_value_) / increment) * increment;
    };
    const double jump = std::min(window_of(*oldest), window_of(now_ - kUnsettledSeconds));
    if (jump <= next_start) return;
    next_start = jump;
    Log("No records from " + StatusTime(converter_, start_value_) + " to " +
        StatusTime(converter_, jump) + " (" + statement + "): the next window starts there.");
  }

  // The lines are owed and stay beside the destination; the run ends.
  PassResult MustEnd() {
    LogAt(LogPriority::kWarning, "The lines of this pass are kept for the next run.");
    PassResult result;
    result.outcome = PassOutcome::kRunMustEnd;
    result.records = records_;
    return result;
  }

  PassResult Failed() {
    outcome_ = PassOutcome::kFailed;
    return Ended();
  }

  // A pass that ends before its lines were owed: nothing was deleted, nothing is kept.
  PassResult Ended() {
    if (marked_) return MustEnd();
    query_.Close();
    transaction_.reset();  // rolls back
    spool_.Discard();
    // The next pass starts where this one did: its records were neither written nor deleted.
    settings_.sql_new_rec_date = start_value_;
    if (Aborted() && outcome_ == PassOutcome::kFailed) outcome_ = PassOutcome::kAborted;
    LogAt(LogPriority::kError,
          "Aborted or Failed: " + std::to_string(records_) + " records ignored.");
    services_.observer.Pump();
    PassResult result;
    result.outcome = outcome_;
    result.records = records_;
    return result;
  }

  PassContext& c_;
  const RunServices& services_;
  ProfileSettings& settings_;
  LateArrivals* const late_;
  const RetrievalMode mode_;
  const double start_value_;
  const double now_;
  const TimeConverter converter_;
  FieldList fields_;
  Statement selection_;
  Columns columns_;
  PassSpool spool_;
  std::optional<DbTransaction> transaction_;
  DbQuery query_;
  PassOutcome outcome_ = PassOutcome::kFailed;
  std::int64_t records_ = 0;
  std::int64_t known_ = 0;  // records of the look-back written before, read and passed over
  std::vector<std::string> key_columns_;  // the columns of new row keys, for the memory
  std::optional<double> newest_;          // the newest date of the window's records written
  std::vector<WrittenRecord> written_;    // records written, for the look-back's memory
  bool selected_nothing_ = false;
  bool deleting_ = false;
  bool marked_ = false;
};

}  // namespace

PassResult TransferPass(PassContext& context) { return Pass(context).Run(); }

}  // namespace remoteccm
