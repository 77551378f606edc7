#include "retrieval/transfer_pass.h"

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "platform/db/db_error.h"
#include "retrieval/field_list.h"
#include "retrieval/line_layout.h"
#include "retrieval/pass_spool.h"
#include "retrieval/statement_builder.h"
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
        settings_(context.settings),
        mode_(settings_.connect_sql_mode),
        start_value_(settings_.sql_new_rec_date),
        now_(context.clock.Now() - context.clock_ahead),
        converter_(ProfileTimeZone(settings_, context.env.computer_rule)),
        spool_(context.files, OwedNotePath(settings_.profile_path)),
        query_(context.database) {}

  PassResult Run() {
    if (!c_.database.Connected()) return Failed();
    c_.log("Link to SQL Server");
    fields_ = ReadFieldList(c_.env.program_home);
    if (!fields_.read_error.empty()) {
      c_.log_error(fields_.read_error + " Nothing was deleted.");
      return Failed();
    }
    if (!fields_.source_log_line.empty()) c_.log(fields_.source_log_line);
    if (fields_.width_capped)
      c_.log_at(LogPriority::kWarning, "Field widths above 255 are cut to 255.");

    PassValues values{start_value_, now_, c_.range_start, c_.range_end};
    if (mode_ == RetrievalMode::kNewRecordsOnly && c_.late != nullptr) {
      values.select_from =
          LookBackFrom(*c_.late, start_value_, c_.look_back_seconds, settings_.delete_recs);
    }
    selection_ = BuildStatement(StatementKind::kSelection, settings_, values, converter_);
    Show(selection_);

    if (!Select()) return selected_nothing_ ? Deliver() : Failed();
    if (!Read()) return Ended();
    if (!MakeDurable()) return Ended();
    if (!Delete(values)) return Ended();
    return Deliver();
  }

 private:
  void Show(const Statement& statement) {
    if (statement.label1) c_.observer.SetStatus1(*statement.label1);
    if (statement.label2) c_.observer.SetStatus2(*statement.label2);
    for (const std::string& line : statement.log_lines) c_.log(line);
    c_.observer.Pump();
    for (const std::string& line : statement.lines) c_.log(line);
  }

  void At(PassPoint point) {
    if (c_.hooks.at_point) c_.hooks.at_point(point);
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
      query_.ReadIntegersAsText(c_.hooks.integers_as_text);
      query_.Open();
    } catch (const DbError& e) {
      if (c_.aborted()) {
        outcome_ = PassOutcome::kAborted;
        return false;
      }
      c_.log_at(LogPriority::kWarning,
                "Cannot Execute SQL Instructions. SQL Query may be invalid or returning too many "
                "records.");
      c_.log_at(LogPriority::kWarning,
                "Please verify query or use a query which selects less records.");
      // No selection statement at all is the "No Records" mode's normal pass.
      if (mode_ == RetrievalMode::kNoRecords) {
        selected_nothing_ = true;
      } else {
        c_.log_error(e.what());
      }
      return false;
    }
    c_.log("Read Records ");
    if (query_.Eof()) {
      c_.log("No Records in Table " + settings_.sql_table_name + " Selected by SQL");
      selected_nothing_ = true;
      return false;
    }
    return true;
  }

  // Reads every record into the spool (and the backup file).
  bool Read() {
    c_.log("Get the records");
    std::vector<std::string> columns;
    columns.reserve(static_cast<std::size_t>(query_.FieldCount()));
    for (int i = 0; i < query_.FieldCount(); ++i) columns.push_back(query_.FieldName(i));
    int date_column = -1;
    if (mode_ == RetrievalMode::kNewRecordsOnly) {
      date_column = FindColumn(columns, settings_.sql_date_time_fld_name);
      if (date_column < 0) {
        c_.log_error("Cannot read the records: Field '" + settings_.sql_date_time_fld_name +
                     "' not found");
        return false;
      }
    }
    const LineFormatter formatter(fields_, columns, converter_);
    if (!CheckFieldList(formatter, columns)) return false;
    // Keys name the records: for the deletion's recovery, and for the look-back's memory.
    const bool remember = c_.late != nullptr && c_.look_back_seconds > 0;
    const int key_column = settings_.delete_recs || remember ? FindColumn(columns, kKeyColumn) : -1;
    if (settings_.delete_recs && key_column < 0) {
      // A run stopped at the commit could not tell whether the deletion went through: its lines
      // would be written again, or lost.
      c_.log_error(
          "The selection holds no pkid column: with DeleteRecs=Y every record read must carry its "
          "pkid, so that a run stopped at its commit can tell whether the records were deleted. "
          "Select pkid too (SELECT pkid, ...), or switch deletion off. Nothing was deleted.");
      return false;
    }
    // Without a pkid column a record is known by the text of the columns the memory's keys
    // were made from.
    const bool row_keys = remember && key_column < 0;
    std::vector<int> key_positions;
    if (row_keys) {
      if (c_.late->key_columns.empty()) key_columns_ = columns;
      const std::vector<std::string>& from =
          c_.late->key_columns.empty() ? columns : c_.late->key_columns;
      for (const std::string& name : from) key_positions.push_back(FindColumn(columns, name));
    }

    BufferedAppendFile backup;
    try {
      spool_.Open(key_column >= 0 || row_keys);
      if (settings_.sql_backup) {
        const bool needs_header = FileSize(c_.files.backup) < 10;
        backup.Open(c_.files.backup, false, false);
        if (needs_header) {
          const std::string header = BackupHeaderLine(columns);
          backup.WriteLine(header);
          c_.log_at(LogPriority::kRecord, "*backup fields>*: " + header);
        }
      }
      if (!backup.IsOpen() && !row_keys) {
        // Without a backup line only the columns the lines show are read: the drivers convert
        // every column read of every row, most of a wide row's cost.
        std::vector<int> read = formatter.ColumnsRead();
        if (date_column >= 0) read.push_back(date_column);
        if (key_column >= 0) read.push_back(key_column);
        query_.ReadOnlyColumns(read);
      }
      const QueryRow row(query_);
      std::string line;
      std::string tagged;  // the backup log line, its buffer reused from record to record
      std::string row_key;
      std::int64_t blank = 0;
      while (!query_.Eof()) {
        std::string_view key;
        if (key_column >= 0) {
          key = query_.AsString(key_column);
        } else if (row_keys) {
          FormatBackupLine(RemappedRow(row, key_positions), key_positions.size(), row_key);
          row_key = RowHashKey(row_key);
          key = row_key;
        }
        if (remember && c_.late->seen.contains(std::string(key))) {
          // Written by an earlier pass: the look-back selected it again.
          ++known_;
          query_.Next();
          c_.observer.Pump();
          if (c_.aborted()) break;
          continue;
        }
        if (backup.IsOpen()) {
          FormatBackupLine(row, columns.size(), line);
          backup.WriteLine(line);
          tagged.assign("*backup>*: ").append(line);
          c_.log_at(LogPriority::kRecord, tagged);
        }
        // A comma line is the backup line itself.
        if (!backup.IsOpen() || !formatter.IsCommaLayout()) formatter.Format(row, line);
        if (!Blank(line)) {
          double date = 0;
          if (date_column >= 0) {
            date = row.Number(static_cast<std::size_t>(date_column));
            if (date > settings_.sql_new_rec_date) settings_.sql_new_rec_date = date;
            // A late arrival from the look-back does not move the start.
            if (date >= start_value_ && (!newest_ || date > *newest_)) newest_ = date;
          }
          spool_.AddLine(line, key, date);
          if (remember) written_.push_back(WrittenRecord{std::string(key), date});
          c_.log_at(LogPriority::kRecord, line);
        } else {
          ++blank;
        }
        ++records_;
        query_.Next();
        c_.observer.RecordsRead(records_);
        c_.observer.Pump();
        if (c_.aborted()) break;
      }
      backup.Close();
      if (known_ > 0) {
        c_.log(std::to_string(known_) + (known_ == 1 ? " record" : " records") +
               " of the look-back for late arrivals had been written before and " +
               (known_ == 1 ? "is" : "are") + " not written again.");
      }
      if (blank > 0) {
        c_.log_at(LogPriority::kWarning, std::to_string(blank) +
                                             (blank == 1 ? " record gave" : " records gave") +
                                             " a blank line, which is not written.");
      }
    } catch (const DbError& e) {
      KeepBackup(backup);
      if (c_.aborted()) {
        outcome_ = PassOutcome::kAborted;
      } else {
        c_.log_error("Cannot read the records: " + std::string(e.what()));
      }
      return false;
    } catch (const FileError& e) {
      KeepBackup(backup);
      c_.log_error(e.what());
      outcome_ = PassOutcome::kRunMustEnd;
      return false;
    }
    query_.Close();
    if (c_.aborted()) {
      outcome_ = PassOutcome::kAborted;
      return false;
    }
    return true;
  }

  // What was read before a failure stays in the backup file.
  void KeepBackup(BufferedAppendFile& backup) {
    try {
      backup.Close();
    } catch (const FileError& e) {
      c_.log_error(e.what());
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
        c_.log_error(
            "None of the columns of the default line is in the selection: every line would be "
            "blank. Nothing was deleted.");
      } else {
        c_.log_error("The field list names no column of the selection (" + Joined(missing) +
                     "): every line would be blank. Nothing was deleted.");
      }
      return false;
    }
    if (!missing.empty() && fields_.layout != LineLayout::kComma) {
      c_.log_at(LogPriority::kWarning,
                "Field list entries that name no column of the selection are left blank: " +
                    Joined(missing));
    }
    return true;
  }

  bool MakeDurable() {
    try {
      spool_.MakeDurable();
    } catch (const FileError& e) {
      c_.log_error(e.what());
      outcome_ = PassOutcome::kRunMustEnd;
      return false;
    }
    At(PassPoint::kSpoolDurable);
    return true;
  }

  // Deletes on the server what the pass read, inside the transaction of the selection.
  bool Delete(const PassValues& values) {
    if (records_ == 0) return true;
    c_.log("Check whether to delete the records now!");
    if (!settings_.delete_recs) return true;
    c_.log("Delete Records from SQL Server");
    const Statement deletion =
        BuildStatement(StatementKind::kDeletion, settings_, values, converter_);
    Show(deletion);
    if (!c_.database.Connected() || deletion.lines.empty()) return false;
    // Nothing is deleted that could not then be written.
    if (const std::string why = CheckAppendable(c_.files.destination); !why.empty()) {
      c_.log_error(why + " Nothing was deleted.");
      return false;
    }
    std::int64_t removed = -1;
    try {
      if (c_.hooks.before_deletion) c_.hooks.before_deletion(c_.database);
      DbQuery remove(c_.database);
      for (const std::string& line : deletion.lines) remove.AddLine(line);
      removed = remove.Execute();
    } catch (const DbError& e) {
      if (c_.aborted()) {
        outcome_ = PassOutcome::kAborted;
        return false;
      }
      c_.log_at(LogPriority::kError, "Delete Failed. Cannot Execute SQL Instructions. ");
      c_.log_error(e.what());
      return false;
    }
    // The modes' own deletion covers exactly the rows of the selection; one that removes fewer
    // (a trigger, a view, a right to select but not to delete) would leave records that the
    // next pass writes again. The profile's own statements may delete by other rules.
    const std::int64_t read = records_ + known_;
    if (mode_ != RetrievalMode::kBySqlQuery && removed >= 0 && removed != read) {
      c_.log_error("The deletion removed " + std::to_string(removed) + " of the " +
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
    std::optional<std::string> start;
    double next_start = settings_.sql_new_rec_date;
    bool passes_done = false;
    if (mode_ == RetrievalMode::kNewRecordsOnly) {
      if (settings_.sql_new_rec_date < selection_.window_end &&
          now_ - kUnsettledSeconds > selection_.window_end) {
        next_start = selection_.window_end;
        passes_done = selection_.increment == 0 || !settings_.poll_again;
        if (!newest_) NextAfterEmptyWindow(next_start, passes_done);
      } else {
        // One second after the newest record of the window; late arrivals do not count.
        if (newest_) next_start = *newest_ + 1;
        passes_done = true;
      }
      start = FormatWhole(next_start);
    }

    ReadyNote note;
    note.profile_name = std::filesystem::path(settings_.profile_path).stem().string();
    note.profile_file = FileIdentity(settings_.profile_path);
    note.table = settings_.sql_table_name;
    note.deleted = deleting_;
    note.start = start;
    if (c_.late != nullptr) {
      note.late_memory = true;
      note.late_look_back = static_cast<std::int64_t>(c_.look_back_seconds);
    }
    try {
      if (records_ == 0) spool_.Open(false);  // nothing was selected: an empty spool
      spool_.MarkReady(note, [this] { At(PassPoint::kOwedNoted); });
    } catch (const FileError& e) {
      c_.log_error(e.what());
      outcome_ = PassOutcome::kRunMustEnd;
      return Ended();
    }
    marked_ = true;
    At(PassPoint::kReadyNoted);

    if (deleting_) {
      try {
        transaction_->Commit();
      } catch (const DbError& e) {
        c_.log_error("The deletion could not be confirmed: " + std::string(e.what()) +
                     " The lines of " + std::to_string(records_) + " records are kept in " +
                     c_.files.spool.string() +
                     "; the next run asks the database whether they were deleted.");
        return MustEnd();
      }
      At(PassPoint::kCommitted);
    }
    try {
      spool_.AppendToDestination([this] { At(PassPoint::kMidAppend); });
    } catch (const FileError& e) {
      c_.log_error(std::string(e.what()) + ". The lines are kept in " + c_.files.spool.string() +
                   " for the next run.");
      return MustEnd();
    }
    At(PassPoint::kAppended);
    if (c_.late != nullptr && start) {
      // The memory matches the lines in the destination before the start moves on.
      LateArrivalMemory updated = *c_.late;
      if (!key_columns_.empty()) updated.key_columns = key_columns_;
      AfterLinesAreIn(updated, written_, ParseDecimal(*start), c_.look_back_seconds,
                      spool_.line_count() == 0 || spool_.keys_usable());
      try {
        WriteLateArrivals(c_.late_path, updated);
      } catch (const FileError& e) {
        c_.log_error(std::string(e.what()) + ": the memory of late arrivals could not be " +
                     "written. The lines are in " + c_.files.destination.string() +
                     "; the next run brings the memory up to date.");
        return MustEnd();
      }
      *c_.late = std::move(updated);
    }
    if (start) {
      try {
        WriteProfileValue(settings_.profile_path, kProfileSection, kStartKey, *start);
      } catch (const IniWriteError& e) {
        c_.log_error(std::string(e.what()) + ": the lines are in " + c_.files.destination.string() +
                     (deleting_ ? " and their records were deleted" : "") +
                     ", but the new start point " + *start +
                     " could not be stored. The next run stores it.");
        return MustEnd();
      }
      settings_.sql_new_rec_date = next_start;
    }
    At(PassPoint::kStartStored);
    try {
      spool_.Finish([this] { At(PassPoint::kUnmarked); });
    } catch (const FileError& e) {
      c_.log_error(std::string(e.what()) + ": the lines are in " + c_.files.destination.string() +
                   "; the next run finds them there.");
      return MustEnd();
    }

    if (mode_ == RetrievalMode::kByDate) {
      c_.range_start += selection_.increment;
      passes_done =
          c_.range_start >= c_.range_end || selection_.increment == 0 || !settings_.poll_again;
    }
    c_.log("Retrieved: " + std::to_string(records_) + " records.");
    c_.observer.Pump();
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
      c_.log("Cannot look for the next record after the empty window (" + statement +
             "): " + e.what());
      return;
    }
    const double increment = selection_.increment;
    if (!oldest) {
      next_start = start_value_;
      passes_done = true;
      c_.log("No records from " + StatusTime(converter_, start_value_) + " on (" + statement +
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
    c_.log("No records from " + StatusTime(converter_, start_value_) + " to " +
           StatusTime(converter_, jump) + " (" + statement + "): the next window starts there.");
  }

  // The lines are owed and stay beside the destination; the run ends.
  PassResult MustEnd() {
    c_.log_at(LogPriority::kWarning, "The lines of this pass are kept for the next run.");
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
    if (c_.aborted() && outcome_ == PassOutcome::kFailed) outcome_ = PassOutcome::kAborted;
    c_.log_at(LogPriority::kError,
              "Aborted or Failed: " + std::to_string(records_) + " records ignored.");
    c_.observer.Pump();
    PassResult result;
    result.outcome = outcome_;
    result.records = records_;
    return result;
  }

  PassContext& c_;
  ProfileSettings& settings_;
  const RetrievalMode mode_;
  const double start_value_;
  const double now_;
  const TimeConverter converter_;
  FieldList fields_;
  Statement selection_;
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
