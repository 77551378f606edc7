// The database layer: one ODBC connection, statements built from lines, a forward-only
// read-only cursor that reads rows in blocks into reused buffers, execution of deletions,
// transactions and the column list of a table. Every failure throws DbError with the driver's
// diagnostic text.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/db/odbc_api.h"

namespace remoteccm {

// Rows the cursor reads per fetch unless told otherwise.
inline constexpr std::size_t kDefaultRowsetSize = 100;

// How long a connect waits for the server (ADO's default connection time-out).
inline constexpr int kLoginTimeoutSeconds = 15;

// How long a statement waits for a database that another writer has locked (SQLite).
inline constexpr int kLockWaitSeconds = 100;

// Bound bytes per value; a longer value is read on its own with SQLGetData, never cut.
inline constexpr std::size_t kBoundValueBytes = 256;

// The isolation level of a transaction. kSerializable is what makes a selection followed by a
// deletion of the same window delete only the rows the selection read: PostgreSQL gives the
// transaction one snapshot (a row inserted meanwhile is invisible to the deletion), SQL Server
// holds key-range locks (an insert into the window waits for the commit), SQLite lets only one
// writer in (an insert waits or fails with "database is locked", or the deletion fails when
// the file is in WAL mode). Read committed gives none of this.
enum class IsolationLevel { kReadCommitted, kRepeatableRead, kSerializable };

// A column of a table as the catalog describes it.
struct DbColumnInfo {
  std::string name;       // as the server spells it
  std::string type_name;  // the server's type name, e.g. "VARCHAR", "int4"
  int sql_type = 0;       // the ODBC type code
  long max_length = 0;    // maximum characters of a character column; 0 for the others
};

class DbQuery;

// Whether a connect that was cancelled is still inside its driver (it waits for a server that
// never answers until the login time-out): a process that ends now must not tear down the
// libraries that connect is in, and need not wait for it either.
bool ConnectGivenUpStillWaiting();

class DbConnection {
 public:
  DbConnection() = default;
  ~DbConnection();
  DbConnection(const DbConnection&) = delete;
  DbConnection& operator=(const DbConnection&) = delete;

  // Opens the connection without any login prompt, waiting at most kLoginTimeoutSeconds for
  // the server. connection_string is a profile's string
  // (ODBC or the OLE DB forms of ResolveConnectionString); login and password, when not empty,
  // take the place of the string's user name and password. default_database becomes the
  // current catalog where the driver has catalogs; drivers without catalogs ignore it. A
  // connection that is open is closed first.
  void Connect(std::string_view connection_string, std::string_view default_database,
               std::string_view login, std::string_view password);
  // Closes every open query of the connection first; an open transaction is rolled back.
  void Disconnect() noexcept;

  // Safe from any thread (not from a signal handler): cancels the connect or the statement in
  // progress, whose caller then gets DbError, and refuses every later connect, statement and
  // fetch until ResetCancel. A connect that cannot be interrupted is left to finish on its own.
  void Cancel() noexcept;
  void ResetCancel() noexcept { cancelled_->store(false); }
  bool Cancelled() const { return cancelled_->load(); }
  bool Connected() const { return dbc_ != SQL_NULL_HDBC; }
  // Whether a thread is inside a statement's driver call right now: what Cancel would reach.
  bool InsideCall();

  // The driver's file name (SQL_DRIVER_NAME) and the server's product name (SQL_DBMS_NAME).
  std::string DriverName() const;
  std::string DbmsName() const;

  // Runs a statement that returns no rows (a deletion); returns the rows it affected (the sum
  // over a batch), -1 when the driver cannot tell.
  std::int64_t Execute(std::string_view statement);

  // The columns of a table through the ODBC catalog: the name as given first, then the table
  // whose name matches it without regard to case. The name may carry a schema
  // ("dbo.CallDetailRecord") and quotes or brackets. Empty when no such table exists.
  std::vector<DbColumnInfo> ListColumns(std::string_view table);

  // Whether the driver can read a long value of a bound block of rows (SQL_GD_BLOCK).
  bool ReadsLongValuesInBlocks() const { return block_get_data_; }
  // Whether the driver can read a long value of a bound column at all (SQL_GD_BOUND).
  bool ReadsLongBoundValues() const { return bound_get_data_; }
  // Whether the server keeps every value of an integer column an integer, so that the cursor
  // may read such a column as a number instead of text. The SQLite driver converts whatever a
  // column declared INTEGER holds without a word ('abc' to null, '12x' to 12, 3.7 to 3): there
  // every value stays text. Decided from the server's product name on connecting.
  bool KeepsIntegerTypes() const { return keeps_integer_types_; }
  // Whether the driver turns every column of a row into text at each fetch, bound or not (the
  // SQLite driver): there a cursor reads fewer columns only through a statement that selects
  // fewer. Decided from the server's product name on connecting.
  bool ConvertsEveryColumn() const { return converts_every_column_; }

  SQLHDBC Handle() const { return dbc_; }

 private:
  friend class DbTransaction;
  friend class DbQuery;
  friend class BusyCall;
  void SetAutoCommit(bool on);
  void EndTransaction(bool commit);
  void SetIsolation(IsolationLevel level);
  // Runs call again while the database refuses it as locked (the driver's wait being a short
  // step), until kLockWaitSeconds passed or the connection is cancelled.
  void RetryWhileLocked(const std::function<void()>& call);

  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool block_get_data_ = false;
  bool bound_get_data_ = false;
  bool keeps_integer_types_ = false;
  bool converts_every_column_ = false;
  bool in_transaction_ = false;
  bool retry_while_locked_ = false;
  // The SQLite driver reads a whole result into memory before the first row whenever
  // autocommit is off (its step-by-step reading is for autocommit only): there a transaction is
  // begun and ended by statements, and the driver stays in autocommit.
  bool statement_transactions_ = false;
  // Queries with an open statement: closed before the connection goes.
  std::vector<DbQuery*> open_queries_;
  // What Cancel reaches from another thread: the statement inside a driver call right now.
  std::mutex busy_mutex_;
  SQLHSTMT busy_stmt_ = SQL_NULL_HSTMT;
  // A cancel that reaches the server before the statement does is lost there (PostgreSQL
  // cancels only what runs): this thread sends it again until the call has ended, and the call
  // joins it on its way out.
  std::condition_variable call_ended_;
  std::thread canceller_;
  // Whether Cancel may call the driver's SQLCancel while another thread is inside a call. The
  // SQLite driver's SQLCancel also closes the statement, freeing the row the other thread is
  // filling: there the statement watches the flag itself (SqliteCancelWatch).
  bool cancel_through_driver_ = true;
  // A SQLite driver out of the watch's reach (on Windows, one with SQLite built in): its
  // SQLCancel still stops a statement being executed, but inside a fetch that copies its row it
  // would free the row being filled. A fetch is given the canceller's repeat to end by itself
  // (the next one is refused); one still running then is inside SQLite, and is cancelled.
  bool cancel_closes_statement_ = false;
  bool busy_fetching_ = false;
  // Shared with a connect still running on its own thread, whose driver may read it after
  // this connection has given up on it.
  std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
};

// A transaction on a connection: autocommit off with the chosen isolation level until Commit;
// the destructor rolls back when Commit was not reached (or failed).
class DbTransaction {
 public:
  DbTransaction(DbConnection& connection, IsolationLevel level);
  ~DbTransaction();
  DbTransaction(const DbTransaction&) = delete;
  DbTransaction& operator=(const DbTransaction&) = delete;

  void Commit();
  void Rollback();

 private:
  void Finish(bool commit);
  DbConnection& connection_;
  bool open_ = true;
};

// One column of the query's current row: a light handle, valid while the query stays open.
class DbField {
 public:
  DbField(const DbQuery& query, int index) : query_(query), index_(index) {}
  const std::string& FieldName() const;
  // The value as text; null reads as "". Points into the query's buffers until the next row.
  std::string_view AsString() const;
  // The value as a number; null or empty reads as 0. Throws DbError for text that is no number.
  double AsFloat() const;
  bool IsNull() const;

 private:
  const DbQuery& query_;
  int index_;
};

// A statement built from lines and, for a selection, its open result read forward once.
class DbQuery {
 public:
  explicit DbQuery(DbConnection& connection, std::size_t rowset_size = kDefaultRowsetSize);
  ~DbQuery();
  DbQuery(const DbQuery&) = delete;
  DbQuery& operator=(const DbQuery&) = delete;

  // The statement: lines joined with "\n".
  void ClearLines();
  void AddLine(std::string_view line);
  const std::vector<std::string>& Lines() const { return lines_; }
  std::string Text() const;

  // Runs the statement as a forward-only read-only selection positioned on its first row.
  // A failure leaves the query closed (Active false) and throws DbError.
  void Open();
  // Runs the statement without reading a result (a deletion); returns the rows it affected
  // (the sum over a batch), -1 when the driver cannot tell.
  std::int64_t Execute();
  void Close() noexcept;

  bool Active() const { return active_; }
  bool Eof() const { return eof_; }
  void Next();

  int FieldCount() const { return static_cast<int>(columns_.size()); }
  const std::string& FieldName(int index) const;
  DbField Field(int index) const;
  // Throws DbError "Field 'name' not found" when the result has no such column.
  DbField FieldByName(std::string_view name) const;
  // The position of the column named so without regard to case, or -1.
  int FieldIndex(std::string_view name) const;

  std::string_view AsString(int index) const;
  double AsFloat(int index) const;
  bool IsNull(int index) const;
  // The value of a column read as a number (see ReadIntegersAsText); nullopt for a null, and
  // for a column read as text, whose caller then reads AsString.
  std::optional<std::int64_t> AsInteger(int index) const;

  // Narrows an open result to the columns at these positions: the driver converts no other
  // column of the rows still to come (most of the cost of a wide row), and reading any other
  // column then throws DbError. For a caller that needs only a few columns of SELECT *. Where
  // the driver converts every column whatever is bound (ConvertsEveryColumn), a result not yet
  // read past its first row is selected again through a statement that selects only these
  // columns of it, in the same order, when the statement allows it.
  void ReadOnlyColumns(const std::vector<int>& positions);

  // Reads every value on its own with SQLGetData, one row per fetch, as for drivers that
  // cannot read a bound column again (no SQL_GD_BOUND); from the next Open on.
  void ReadValuesSeparately(bool on) { values_separately_ = on; }

  // Where the connection keeps integer types, integer columns are read as 64-bit numbers (no
  // text conversion in the driver; AsString formats the value only when asked). On: every
  // column is read as text, as on any other driver; from the next Open on.
  void ReadIntegersAsText(bool on) { integers_as_text_ = on; }

  // Rows per fetch actually used for the open result (1 when the driver cannot read long
  // values of a block).
  std::size_t EffectiveRowsetSize() const { return rowset_; }

 private:
  struct Column {
    std::string name;
    SQLUSMALLINT ordinal = 0;  // its number in the statement's result, from 1
    // As the driver described it; the statement that selects fewer columns must agree.
    SQLSMALLINT sql_type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    std::size_t width = 0;           // bytes per bound value, terminator included
    std::vector<char> data;          // rowset × width
    bool integer = false;            // read as a number into `numbers` instead of `data`
    std::vector<SQLBIGINT> numbers;  // rowset
    mutable std::array<char, 20> number_text{};  // the current number as text (AsString)
    std::vector<SQLLEN> indicators;              // rowset
    std::string long_value;                      // the current row's value when it did not fit
    bool long_current = false;                   // long_value holds the current row's value
    bool long_null = false;                      // ... and that value is null
    bool skipped = false;                        // not read (ReadOnlyColumns)
  };

  void OpenOnce();
  // The steps of OpenOnce: a forward-only cursor with its row block set up, the statement run,
  // the first result that has columns, and each column described and bound.
  void AllocateCursor();
  // The cursor's attributes: forward-only, read-only, rows in blocks of rowset_.
  void SetUpCursor(SQLHSTMT stmt);
  void ExecuteStatement();
  SQLSMALLINT FirstResultWithColumns();
  void BindColumn(SQLUSMALLINT index);
  void BindBuffers(SQLHSTMT stmt, Column& column);
  // Selects the open result again with only the kept columns; false (and the result as it was)
  // when the statement cannot be narrowed or the driver describes the narrowed columns
  // otherwise.
  bool SelectOnly(const std::vector<bool>& kept);
  // The statement that selects only the kept columns of this one, where one can be made.
  std::optional<std::string> NarrowedText(const std::vector<bool>& kept) const;
  // Whether a prepared statement's columns are the kept ones, as this result describes them.
  bool DescribesKeptColumns(SQLHSTMT narrowed, const std::vector<bool>& kept) const;
  std::int64_t ExecuteOnce(const std::string& text);
  void CheckColumn(int index) const;
  const Column& ReadColumn(int index) const;
  void FetchBlock();
  void ReadLongValues();
  // The columns read as text: only their values can be too long for the bound buffer.
  void FindTextColumns();
  void CheckHandle(SQLRETURN rc, const std::string& context);

  DbConnection& connection_;
  std::size_t requested_rowset_;
  std::size_t rowset_ = 1;
  std::vector<std::string> lines_;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  std::vector<Column> columns_;
  std::vector<std::size_t> text_columns_;
  std::vector<SQLUSMALLINT> row_status_;
  SQLULEN rows_fetched_ = 0;
  std::size_t row_ = 0;
  bool values_separately_ = false;
  bool integers_as_text_ = false;
  bool unbound_ = false;  // every value read with SQLGetData
  bool moved_ = false;    // the result was read past its first row
  bool active_ = false;
  bool eof_ = true;
};

}  // namespace remoteccm
