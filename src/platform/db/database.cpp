// One piece: the connection and its cursors share the driver's handles, the rules for a
// database that another writer has locked and the reading of values: apart, each half would
// reach into the other's state.

#include "platform/db/database.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/db/connection_string.h"
#include "platform/db/db_error.h"
#include "platform/db/driver_words.h"
#include "platform/db/odbc_api.h"
#include "platform/db/odbc_environment.h"
#include "platform/db/sqlite_library.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

std::string GetInfoText(SQLHDBC dbc, SQLUSMALLINT info) {
  std::array<char, 256> buffer{};
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetInfo(dbc, info, buffer.data(), buffer.size(), &length))) return {};
  return buffer.data();
}

SQLUINTEGER GetInfoMask(SQLHDBC dbc, SQLUSMALLINT info) {
  SQLUINTEGER mask = 0;
  if (!SQL_SUCCEEDED(SQLGetInfo(dbc, info, &mask, sizeof mask, nullptr))) return 0;
  return mask;
}

// A statement handle freed when it goes out of scope.
class StatementHandle {
 public:
  explicit StatementHandle(SQLHDBC dbc) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt_))) {
      ThrowOdbcError(SQL_HANDLE_DBC, dbc, "Cannot create a statement");
    }
  }
  ~StatementHandle() { SQLFreeHandle(SQL_HANDLE_STMT, stmt_); }
  StatementHandle(const StatementHandle&) = delete;
  StatementHandle& operator=(const StatementHandle&) = delete;
  SQLHSTMT get() const { return stmt_; }

 private:
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

// Reads a whole text value of the current row of a catalog result ("" for null).
std::string CatalogText(SQLHSTMT stmt, SQLUSMALLINT column) {
  std::array<char, 1024> buffer{};
  SQLLEN indicator = 0;
  const SQLRETURN rc =
      SQLGetData(stmt, column, SQL_C_CHAR, buffer.data(), buffer.size(), &indicator);
  if (!SQL_SUCCEEDED(rc)) ThrowOdbcError(SQL_HANDLE_STMT, stmt, "Cannot read the column list");
  if (indicator == SQL_NULL_DATA) return {};
  return buffer.data();
}

long CatalogNumber(SQLHSTMT stmt, SQLUSMALLINT column) {
  SQLINTEGER value = 0;
  SQLLEN indicator = 0;
  const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_SLONG, &value, sizeof value, &indicator);
  if (!SQL_SUCCEEDED(rc)) ThrowOdbcError(SQL_HANDLE_STMT, stmt, "Cannot read the column list");
  return indicator == SQL_NULL_DATA ? 0 : value;
}

// Servers that refuse a value an integer column cannot hold, so that every value of such a
// column reaches the driver as an integer. Only those whose output was compared byte for byte
// with the text path are named: SQL Server would qualify but has not been compared.
bool ServerKeepsIntegerTypes(std::string_view dbms) { return dbms == "PostgreSQL"; }

// Whether every value of the result column fits a signed 64-bit number.
bool IsSignedIntegerColumn(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT type) {
  switch (type) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
      return true;
    case SQL_BIGINT: {
      SQLLEN is_unsigned = SQL_TRUE;
      return SQL_SUCCEEDED(SQLColAttribute(stmt, column, SQL_DESC_UNSIGNED, nullptr, 0, nullptr,
                                           &is_unsigned)) &&
             is_unsigned == SQL_FALSE;
    }
    default:
      return false;
  }
}

// A column's name as a quoted identifier.
std::string QuotedName(std::string_view name) {
  std::string quoted = "\"";
  for (const char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

// What the driver says of a result's column; none when it says nothing.
struct DescribedColumn {
  std::string name;
  SQLSMALLINT type = 0;
  SQLULEN size = 0;
  SQLSMALLINT digits = 0;
};

std::optional<DescribedColumn> DescribeColumn(SQLHSTMT stmt, SQLUSMALLINT ordinal) {
  std::array<SQLCHAR, 512> name{};
  SQLSMALLINT name_length = 0;
  SQLSMALLINT nullable = 0;
  DescribedColumn column;
  if (!SQL_SUCCEEDED(SQLDescribeCol(stmt, ordinal, name.data(), name.size(), &name_length,
                                    &column.type, &column.size, &column.digits, &nullable))) {
    return std::nullopt;
  }
  column.name.assign(reinterpret_cast<const char*>(name.data()));
  return column;
}

bool IsCharacterType(SQLSMALLINT type) {
  switch (type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
      return true;
    default:
      return false;
  }
}

// Reads the whole value of a column of the current row with SQLGetData into value; false for
// null.
bool GetWholeValue(SQLHSTMT stmt, SQLUSMALLINT column, std::string& value) {
  if (value.capacity() < 1024) value.reserve(1024);
  value.resize(value.capacity());
  std::size_t filled = 0;
  for (;;) {
    SQLLEN indicator = 0;
    const std::size_t room = value.size() - filled;
    const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_CHAR, value.data() + filled,
                                    static_cast<SQLLEN>(room), &indicator);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) {
      ThrowOdbcError(SQL_HANDLE_STMT, stmt,
                     "Cannot read the value of column " + std::to_string(column));
    }
    if (indicator == SQL_NULL_DATA) {
      value.clear();
      return false;
    }
    if (indicator != SQL_NO_TOTAL && static_cast<std::size_t>(indicator) < room) {
      filled += static_cast<std::size_t>(indicator);
      break;
    }
    // The buffer was filled up to its terminator; more follows.
    filled += room - 1;
    const std::size_t wanted = indicator == SQL_NO_TOTAL
                                   ? value.size() * 2
                                   : filled + static_cast<std::size_t>(indicator) - (room - 1) + 1;
    value.resize(std::max(wanted, value.size() + 1));
  }
  value.resize(filled);
  return true;
}

SQLINTEGER IsolationCode(IsolationLevel level) {
  switch (level) {
    case IsolationLevel::kReadCommitted:
      return SQL_TXN_READ_COMMITTED;
    case IsolationLevel::kRepeatableRead:
      return SQL_TXN_REPEATABLE_READ;
    case IsolationLevel::kSerializable:
      return SQL_TXN_SERIALIZABLE;
  }
  return SQL_TXN_SERIALIZABLE;
}

// The connects given up on that are still inside their driver.
std::atomic<int> connects_given_up_waiting{0};

// A connect that runs on a thread of its own so that Cancel can give up waiting for it. The
// thread owns the handle once the waiter has given up, and frees it when the driver returns.
struct PendingConnect {
  std::shared_ptr<const std::atomic<bool>> cancelled;
  std::mutex mutex;
  std::condition_variable finished_cv;
  bool finished = false;
  bool abandoned = false;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLRETURN rc = SQL_ERROR;
  std::vector<SQLCHAR> text;

  void Run() {
    std::array<SQLCHAR, 2048> completed{};
    SQLSMALLINT completed_length = 0;
    const SqliteCancelWatch watch(*cancelled);
    const SQLRETURN result =
        SQLDriverConnect(dbc, nullptr, text.data(), SQL_NTS, completed.data(), completed.size(),
                         &completed_length, SQL_DRIVER_NOPROMPT);
    std::fill(completed.begin(), completed.end(), 0);
    std::fill(text.begin(), text.end(), 0);
    std::lock_guard lock(mutex);
    rc = result;
    finished = true;
    if (abandoned) {
      if (SQL_SUCCEEDED(result)) SQLDisconnect(dbc);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc);
      dbc = SQL_NULL_HDBC;
      --connects_given_up_waiting;
    }
    finished_cv.notify_all();
  }
};

// How often a waiting connect looks whether it was cancelled.
constexpr auto kCancelPoll = std::chrono::milliseconds(50);

// The connect threads given up on while still inside the driver. Each is joined once its
// driver call has returned (looked at whenever another is given up on), the rest when the
// process exits, so that no thread is inside a driver while the process ends. Made when the
// first thread is given up on, after everything that thread uses, so that it goes first.
class AbandonedConnects {
 public:
  static AbandonedConnects& Instance() {
    static AbandonedConnects instance;
    return instance;
  }
  AbandonedConnects(const AbandonedConnects&) = delete;
  AbandonedConnects& operator=(const AbandonedConnects&) = delete;
  ~AbandonedConnects() {
    for (Entry& entry : entries_) entry.thread.join();
  }

  void Keep(std::thread thread, std::shared_ptr<PendingConnect> pending) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [](Entry& entry) {
      {
        std::lock_guard finished_lock(entry.pending->mutex);
        if (!entry.pending->finished) return false;
      }
      entry.thread.join();
      return true;
    });
    entries_.push_back({std::move(thread), std::move(pending)});
  }

 private:
  AbandonedConnects() = default;
  struct Entry {
    std::thread thread;
    std::shared_ptr<PendingConnect> pending;
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace

bool ConnectGivenUpStillWaiting() { return connects_given_up_waiting.load() > 0; }

// Marks a statement as inside a driver call for the length of one call, so that Cancel from
// another thread reaches it, and refuses the call once the connection was cancelled. A fetch
// is marked as one: a driver whose cancel closes the statement is not cancelled inside it.
class BusyCall {
 public:
  enum class Kind { kExecute, kFetch };
  BusyCall(DbConnection& connection, SQLHSTMT stmt, Kind kind = Kind::kExecute)
      : connection_(connection) {
    std::lock_guard lock(connection_.busy_mutex_);
    if (connection_.cancelled_->load()) throw DbError("The operation was cancelled");
    connection_.busy_stmt_ = stmt;
    connection_.busy_fetching_ = kind == Kind::kFetch;
  }
  ~BusyCall() {
    std::thread canceller;
    {
      std::lock_guard lock(connection_.busy_mutex_);
      connection_.busy_stmt_ = SQL_NULL_HSTMT;
      canceller = std::move(connection_.canceller_);
    }
    connection_.call_ended_.notify_all();
    if (canceller.joinable()) canceller.join();
  }
  BusyCall(const BusyCall&) = delete;
  BusyCall& operator=(const BusyCall&) = delete;

 private:
  DbConnection& connection_;
};

// ---------------------------------------------------------------------------------------------
// DbConnection

namespace {

// A new handle connected as the request says. The driver's connect runs on a thread of its own,
// so that a cancel is not held up by a driver that waits on its network.
SQLHDBC ConnectedHandle(const OdbcConnectionRequest& request,
                        const std::shared_ptr<std::atomic<bool>>& cancelled) {
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, OdbcEnvironment(), &dbc))) {
    ThrowOdbcError(SQL_HANDLE_ENV, OdbcEnvironment(), "Cannot create a database connection");
  }
  SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(kLoginTimeoutSeconds)), 0);
  auto pending = std::make_shared<PendingConnect>();
  pending->cancelled = cancelled;
  pending->dbc = dbc;
  pending->text.assign(request.connection_string.begin(), request.connection_string.end());
  pending->text.push_back(0);
  if (cancelled->load()) {
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    throw DbError("The connection attempt was cancelled");
  }
  std::thread thread([pending] { pending->Run(); });
  std::unique_lock lock(pending->mutex);
  while (!pending->finished) {
    if (cancelled->load()) {
      pending->abandoned = true;  // the thread frees the handle when the driver returns
      ++connects_given_up_waiting;
      lock.unlock();
      AbandonedConnects::Instance().Keep(std::move(thread), pending);
      throw DbError("The connection attempt was cancelled");
    }
    pending->finished_cv.wait_for(lock, kCancelPoll);
  }
  lock.unlock();
  thread.join();
  if (!SQL_SUCCEEDED(pending->rc)) {
    DbError error = ExplainConnectError(
        request, OdbcError(SQL_HANDLE_DBC, dbc, "Cannot connect to the database"));
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    throw error;
  }
  return dbc;
}

// Makes the named database the current one where the driver knows databases and another is
// current. DbError when it cannot.
void UseDefaultDatabase(SQLHDBC dbc, std::string_view default_database) {
  const std::string database = Trim(default_database);
  if (database.empty() || GetInfoText(dbc, SQL_CATALOG_NAME) != "Y") return;
  std::array<char, 256> current{};
  SQLINTEGER length = 0;
  const bool known = SQL_SUCCEEDED(
      SQLGetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, current.data(), current.size(), &length));
  if (known && SameText(current.data(), database)) return;
  std::vector<SQLCHAR> name(database.begin(), database.end());
  name.push_back(0);
  if (!SQL_SUCCEEDED(SQLSetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, name.data(), SQL_NTS))) {
    ThrowOdbcError(SQL_HANDLE_DBC, dbc, "Cannot open the database \"" + database + "\"");
  }
}

}  // namespace

DbConnection::~DbConnection() { Disconnect(); }

void DbConnection::Connect(std::string_view connection_string, std::string_view default_database,
                           std::string_view login, std::string_view password) {
  Disconnect();
  const OdbcConnectionRequest request = ResolveConnectionString(connection_string, login, password);

  dbc_ = ConnectedHandle(request, cancelled_);
  in_transaction_ = false;
  retry_while_locked_ = request.retry_while_locked;

  const SQLUINTEGER get_data = GetInfoMask(dbc_, SQL_GETDATA_EXTENSIONS);
  bound_get_data_ = (get_data & SQL_GD_BOUND) != 0 && (get_data & SQL_GD_ANY_ORDER) != 0;
  block_get_data_ = bound_get_data_ && (get_data & SQL_GD_BLOCK) != 0;
  const std::string dbms = DbmsName();
  keeps_integer_types_ = ServerKeepsIntegerTypes(dbms);
  converts_every_column_ = dbms == "SQLite";
  statement_transactions_ = dbms == "SQLite";
  {
    std::lock_guard busy_lock(busy_mutex_);
    const bool watched = dbms == "SQLite" && SqliteWatchReachesDriver();
    cancel_through_driver_ = !watched;
    cancel_closes_statement_ = dbms == "SQLite" && !watched;
  }

  try {
    UseDefaultDatabase(dbc_, default_database);
  } catch (const DbError&) {
    Disconnect();
    throw;
  }
}

void DbConnection::Disconnect() noexcept {
  if (dbc_ == SQL_NULL_HDBC) return;
  while (!open_queries_.empty()) open_queries_.back()->Close();
  if (in_transaction_) {
    // A transaction begun by statement ends when the database is closed.
    if (!statement_transactions_) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    in_transaction_ = false;
  }
  SQLDisconnect(dbc_);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  dbc_ = SQL_NULL_HDBC;
}

bool DbConnection::InsideCall() {
  std::lock_guard lock(busy_mutex_);
  return busy_stmt_ != SQL_NULL_HSTMT;
}

void DbConnection::RetryWhileLocked(const std::function<void()>& call) {
  // SQLITE_BUSY and SQLITE_LOCKED.
  constexpr long kBusy = 5;
  constexpr long kLocked = 6;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kLockWaitSeconds);
  for (;;) {
    try {
      call();
      return;
    } catch (const DbError& e) {
      const bool locked = e.NativeCode() == kBusy || e.NativeCode() == kLocked;
      if (!retry_while_locked_ || !locked || cancelled_->load() ||
          std::chrono::steady_clock::now() >= deadline) {
        throw;
      }
    }
  }
}

void DbConnection::Cancel() noexcept {
  std::lock_guard lock(busy_mutex_);
  cancelled_->store(true);
  // Under the lock the statement cannot leave its driver call and be freed meanwhile.
  if (busy_stmt_ == SQL_NULL_HSTMT || !cancel_through_driver_) return;
  // A fetch that copies its row ends within the repeat below, and the flag refuses the next
  // one; only a fetch still inside SQLite's work after it is sent the cancel.
  if (!busy_fetching_ || !cancel_closes_statement_) SQLCancel(busy_stmt_);
  if (canceller_.joinable()) return;
  try {
    canceller_ = std::thread([this, stmt = busy_stmt_] {
      constexpr auto kRepeat = std::chrono::milliseconds(100);
      std::unique_lock held(busy_mutex_);
      while (!call_ended_.wait_for(held, kRepeat, [&] { return busy_stmt_ != stmt; })) {
        SQLCancel(stmt);
      }
    });
  } catch (const std::system_error&) {
    // No thread to spare: the one cancel above has been sent (a fetch ends with its row).
  }
}

std::string DbConnection::DriverName() const {
  return Connected() ? GetInfoText(dbc_, SQL_DRIVER_NAME) : std::string();
}

std::string DbConnection::DbmsName() const {
  return Connected() ? GetInfoText(dbc_, SQL_DBMS_NAME) : std::string();
}

std::int64_t DbConnection::Execute(std::string_view statement) {
  DbQuery query(*this);
  query.AddLine(statement);
  return query.Execute();
}

namespace {

// "schema.table", "[table]", "\"table\"": the catalog wants the bare names.
struct TableName {
  std::string schema;  // empty when the text names none
  std::string table;
};

std::string BarePart(std::string_view part) {
  part = TrimView(part);
  if (part.size() >= 2 &&
      ((part.front() == '[' && part.back() == ']') || (part.front() == '"' && part.back() == '"') ||
       (part.front() == '`' && part.back() == '`'))) {
    part = part.substr(1, part.size() - 2);
  }
  return std::string(part);
}

TableName SplitTableName(std::string_view text) {
  std::size_t dot = std::string_view::npos;
  char closing = 0;  // the quote or bracket that ends the part being read
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (closing != 0) {
      if (ch == closing) closing = 0;
    } else if (ch == '[') {
      closing = ']';
    } else if (ch == '"' || ch == '`') {
      closing = ch;
    } else if (ch == '.') {
      dot = i;
    }
  }
  if (dot == std::string_view::npos) return {std::string(), BarePart(text)};
  return {BarePart(text.substr(0, dot)), BarePart(text.substr(dot + 1))};
}

// A catalog search pattern that matches the name itself: its wildcards escaped.
std::vector<SQLCHAR> ExactPattern(std::string_view name, std::string_view escape) {
  std::vector<SQLCHAR> pattern;
  for (const char c : name) {
    if (!escape.empty() && (c == '_' || c == '%' || escape.find(c) == 0)) {
      pattern.insert(pattern.end(), escape.begin(), escape.end());
    }
    pattern.push_back(static_cast<SQLCHAR>(c));
  }
  pattern.push_back(0);
  return pattern;
}

// The columns of one table as the catalog names it; those of the first schema that holds it.
std::vector<DbColumnInfo> CatalogColumns(SQLHDBC dbc, const std::string& schema,
                                         std::string_view table, std::string_view escape) {
  std::vector<DbColumnInfo> columns;
  StatementHandle stmt(dbc);
  std::vector<SQLCHAR> table_name = ExactPattern(table, escape);
  std::vector<SQLCHAR> schema_name = ExactPattern(schema, escape);
  if (!SQL_SUCCEEDED(
          SQLColumns(stmt.get(), nullptr, 0, schema.empty() ? nullptr : schema_name.data(),
                     schema.empty() ? 0 : SQL_NTS, table_name.data(), SQL_NTS, nullptr, 0))) {
    ThrowOdbcError(SQL_HANDLE_STMT, stmt.get(),
                   "Cannot read the column list of " + std::string(table));
  }
  std::string first_schema;
  std::string first_table;
  for (;;) {
    const SQLRETURN rc = SQLFetch(stmt.get());
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) {
      ThrowOdbcError(SQL_HANDLE_STMT, stmt.get(), "Cannot read the column list");
    }
    const std::string schema_found = CatalogText(stmt.get(), 2);
    const std::string table_found = CatalogText(stmt.get(), 3);
    if (columns.empty()) {
      first_schema = schema_found;
      first_table = table_found;
    } else if (schema_found != first_schema || table_found != first_table) {
      continue;  // the same name in another schema
    }
    DbColumnInfo column;
    column.name = CatalogText(stmt.get(), 4);
    column.sql_type = static_cast<int>(CatalogNumber(stmt.get(), 5));
    column.type_name = CatalogText(stmt.get(), 6);
    if (IsCharacterType(static_cast<SQLSMALLINT>(column.sql_type))) {
      column.max_length = CatalogNumber(stmt.get(), 7);
    }
    columns.push_back(std::move(column));
  }
  return columns;
}

// The tables and views whose name is `table` in another case.
std::vector<std::string> TablesNamedInOtherCase(SQLHDBC dbc, const TableName& name) {
  std::vector<std::string> names;
  StatementHandle stmt(dbc);
  SQLCHAR any[] = "%";
  SQLCHAR types[] = "TABLE,VIEW";
  if (!SQL_SUCCEEDED(SQLTables(stmt.get(), nullptr, 0, nullptr, 0, any, SQL_NTS, types, SQL_NTS))) {
    ThrowOdbcError(SQL_HANDLE_STMT, stmt.get(), "Cannot read the table list");
  }
  for (;;) {
    const SQLRETURN rc = SQLFetch(stmt.get());
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) {
      ThrowOdbcError(SQL_HANDLE_STMT, stmt.get(), "Cannot read the table list");
    }
    if (!name.schema.empty() && !SameText(CatalogText(stmt.get(), 2), name.schema)) continue;
    std::string found = CatalogText(stmt.get(), 3);
    if (SameText(found, name.table) && found != name.table) names.push_back(std::move(found));
  }
  return names;
}

}  // namespace

std::vector<DbColumnInfo> DbConnection::ListColumns(std::string_view table_text) {
  if (!Connected()) throw DbError("The database is not connected");
  const TableName name = SplitTableName(table_text);
  const std::string escape = GetInfoText(dbc_, SQL_SEARCH_PATTERN_ESCAPE);
  std::vector<DbColumnInfo> columns = CatalogColumns(dbc_, name.schema, name.table, escape);
  if (!columns.empty()) return columns;
  // The catalog may keep the name in another case (PostgreSQL folds unquoted names).
  for (const std::string& other : TablesNamedInOtherCase(dbc_, name)) {
    columns = CatalogColumns(dbc_, name.schema, other, escape);
    if (!columns.empty()) break;
  }
  return columns;
}

void DbConnection::SetAutoCommit(bool on) {
  if (statement_transactions_) {
    if (!on) Execute("BEGIN");
    return;
  }
  const SQLRETURN rc = SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                                         reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(
                                             on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
                                         0);
  if (!SQL_SUCCEEDED(rc)) ThrowOdbcError(SQL_HANDLE_DBC, dbc_, "Cannot switch autocommit");
}

void DbConnection::SetIsolation(IsolationLevel level) {
  const SQLUINTEGER supported = GetInfoMask(dbc_, SQL_TXN_ISOLATION_OPTION);
  SQLINTEGER code = IsolationCode(level);
  // A driver that offers only a stronger level (SQLite: serializable) gets that one.
  while ((supported & static_cast<SQLUINTEGER>(code)) == 0 && code < SQL_TXN_SERIALIZABLE) {
    code <<= 1;
  }
  if ((supported & static_cast<SQLUINTEGER>(code)) == 0) {
    throw DbError("The database driver offers no transaction isolation level as strict as asked");
  }
  const SQLRETURN rc = SQLSetConnectAttr(
      dbc_, SQL_ATTR_TXN_ISOLATION, reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(code)), 0);
  if (!SQL_SUCCEEDED(rc)) {
    ThrowOdbcError(SQL_HANDLE_DBC, dbc_, "Cannot set the transaction isolation level");
  }
}

void DbConnection::EndTransaction(bool commit) {
  if (statement_transactions_) {
    Execute(commit ? "COMMIT" : "ROLLBACK");
    return;
  }
  RetryWhileLocked([&] {
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_, commit ? SQL_COMMIT : SQL_ROLLBACK);
    if (!SQL_SUCCEEDED(rc)) {
      ThrowOdbcError(SQL_HANDLE_DBC, dbc_,
                     commit ? "Cannot commit the transaction" : "Cannot roll back the transaction");
    }
  });
}

// ---------------------------------------------------------------------------------------------
// DbTransaction

DbTransaction::DbTransaction(DbConnection& connection, IsolationLevel level)
    : connection_(connection) {
  if (!connection_.Connected()) throw DbError("The database is not connected");
  if (connection_.in_transaction_) throw DbError("A transaction is already open");
  connection_.SetIsolation(level);
  connection_.SetAutoCommit(false);
  connection_.in_transaction_ = true;
}

DbTransaction::~DbTransaction() {
  if (!open_) return;
  try {
    Finish(false);
  } catch (const DbError&) {
    // The connection is the caller's to close; nothing was committed.
  }
}

void DbTransaction::Commit() { Finish(true); }

void DbTransaction::Rollback() { Finish(false); }

void DbTransaction::Finish(bool commit) {
  if (!open_) throw DbError("The transaction has already ended");
  if (!connection_.Connected() || !connection_.in_transaction_) {
    open_ = false;
    if (commit) throw DbError("The connection was closed before the transaction was committed");
    return;
  }
  try {
    connection_.EndTransaction(commit);
  } catch (const DbError&) {
    if (commit) {
      // Commit failed: the transaction is rolled back by the destructor.
      throw;
    }
    open_ = false;
    connection_.in_transaction_ = false;
    throw;
  }
  open_ = false;
  connection_.in_transaction_ = false;
  connection_.SetAutoCommit(true);
}

// ---------------------------------------------------------------------------------------------
// DbField

const std::string& DbField::FieldName() const { return query_.FieldName(index_); }
std::string_view DbField::AsString() const { return query_.AsString(index_); }
double DbField::AsFloat() const { return query_.AsFloat(index_); }
bool DbField::IsNull() const { return query_.IsNull(index_); }

// ---------------------------------------------------------------------------------------------
// DbQuery

DbQuery::DbQuery(DbConnection& connection, std::size_t rowset_size)
    : connection_(connection), requested_rowset_(std::max<std::size_t>(rowset_size, 1)) {}

DbQuery::~DbQuery() { Close(); }

void DbQuery::ClearLines() {
  Close();
  lines_.clear();
}

void DbQuery::AddLine(std::string_view line) { lines_.emplace_back(line); }

std::string DbQuery::Text() const {
  std::string text;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) text += '\n';
    text += lines_[i];
  }
  return text;
}

void DbQuery::CheckHandle(SQLRETURN rc, const std::string& context) {
  if (!SQL_SUCCEEDED(rc)) ThrowOdbcError(SQL_HANDLE_STMT, stmt_, context);
}

void DbQuery::Open() {
  connection_.RetryWhileLocked([this] { OpenOnce(); });
}

void DbQuery::OpenOnce() {
  Close();
  if (!connection_.Connected()) throw DbError("The database is not connected");
  if (lines_.empty()) throw DbError("The statement is empty");
  try {
    AllocateCursor();
    ExecuteStatement();
    const SQLSMALLINT count = FirstResultWithColumns();
    columns_.resize(static_cast<std::size_t>(count));
    for (SQLUSMALLINT i = 0; i < static_cast<SQLUSMALLINT>(count); ++i) BindColumn(i);
    FindTextColumns();
    active_ = true;
    eof_ = false;
    moved_ = false;
    FetchBlock();
  } catch (...) {
    Close();
    throw;
  }
}

void DbQuery::AllocateCursor() {
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection_.Handle(), &stmt_))) {
    stmt_ = SQL_NULL_HSTMT;
    ThrowOdbcError(SQL_HANDLE_DBC, connection_.Handle(), "Cannot create a statement");
  }
  connection_.open_queries_.push_back(this);
  // Long values of a block can only be read where the driver offers SQLGetData on blocks;
  // elsewhere one row at a time, so that no value is ever cut.
  unbound_ = values_separately_ || !connection_.ReadsLongBoundValues();
  rowset_ = !unbound_ && connection_.ReadsLongValuesInBlocks() ? requested_rowset_ : 1;
  row_status_.assign(rowset_, SQL_ROW_NOROW);
  SetUpCursor(stmt_);
}

void DbQuery::SetUpCursor(SQLHSTMT stmt) {
  SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE,
                 reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_CURSOR_FORWARD_ONLY)), 0);
  SQLSetStmtAttr(stmt, SQL_ATTR_CONCURRENCY,
                 reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_CONCUR_READ_ONLY)), 0);
  if (!SQL_SUCCEEDED(SQLSetStmtAttr(
          stmt, SQL_ATTR_ROW_BIND_TYPE,
          reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_BIND_BY_COLUMN)), 0)) ||
      !SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE,
                                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(rowset_)),
                                    0))) {
    ThrowOdbcError(SQL_HANDLE_STMT, stmt, "Cannot prepare the cursor");
  }
  SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, row_status_.data(), 0);
  SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &rows_fetched_, 0);
}

void DbQuery::ExecuteStatement() {
  const std::string text = Text();
  std::vector<SQLCHAR> statement(text.begin(), text.end());
  statement.push_back(0);
  SQLRETURN rc = SQL_ERROR;
  {
    BusyCall busy(connection_, stmt_);
    rc = SQLExecDirect(stmt_, statement.data(), SQL_NTS);
  }
  if (rc == SQL_NO_DATA) throw DbError("The statement returned no rows to read");
  CheckHandle(rc, "Cannot execute the statement");
}

SQLSMALLINT DbQuery::FirstResultWithColumns() {
  SQLSMALLINT count = 0;
  CheckHandle(SQLNumResultCols(stmt_, &count), "Cannot read the result's columns");
  // Statements before the selection of a batch (SQL Server: "SET NOCOUNT ON", an UPDATE)
  // give results without columns: the rows are in the first result that has columns.
  while (count <= 0) {
    SQLRETURN more = SQL_ERROR;
    {
      BusyCall busy(connection_, stmt_);
      more = SQLMoreResults(stmt_);
    }
    if (more == SQL_NO_DATA) throw DbError("The statement returned no rows to read");
    CheckHandle(more, "Cannot execute the statement");
    CheckHandle(SQLNumResultCols(stmt_, &count), "Cannot read the result's columns");
  }
  return count;
}

void DbQuery::BindColumn(SQLUSMALLINT index) {
  Column& column = columns_[index];
  const std::optional<DescribedColumn> described =
      DescribeColumn(stmt_, static_cast<SQLUSMALLINT>(index + 1));
  if (!described) ThrowOdbcError(SQL_HANDLE_STMT, stmt_, "Cannot read the result's columns");
  column.name = described->name;
  column.ordinal = static_cast<SQLUSMALLINT>(index + 1);
  column.sql_type = described->type;
  column.size = described->size;
  column.digits = described->digits;
  const SQLSMALLINT type = described->type;
  SQLLEN display = 0;
  if (!SQL_SUCCEEDED(SQLColAttribute(stmt_, index + 1, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr,
                                     &display))) {
    display = 0;
  }
  const std::size_t bytes =
      display > 0 ? std::min<std::size_t>(static_cast<std::size_t>(display), kBoundValueBytes)
                  : kBoundValueBytes;
  column.long_current = false;
  column.long_null = false;
  column.integer = !unbound_ && !integers_as_text_ && connection_.KeepsIntegerTypes() &&
                   IsSignedIntegerColumn(stmt_, index + 1, type);
  if (column.integer) {
    column.width = 0;
    column.data.clear();
    column.numbers.assign(rowset_, 0);
    column.indicators.assign(rowset_, SQL_NULL_DATA);
  } else if (unbound_) {
    column.width = 0;
    column.data.clear();
    column.numbers.clear();
    column.indicators.assign(1, SQL_NULL_DATA);
  } else {
    column.width = bytes + 1;
    column.data.assign(rowset_ * column.width, 0);
    column.numbers.clear();
    column.indicators.assign(rowset_, SQL_NULL_DATA);
  }
  BindBuffers(stmt_, column);
}

void DbQuery::BindBuffers(SQLHSTMT stmt, Column& column) {
  SQLRETURN rc = SQL_SUCCESS;
  if (column.integer) {
    rc = SQLBindCol(stmt, column.ordinal, SQL_C_SBIGINT, column.numbers.data(), sizeof(SQLBIGINT),
                    column.indicators.data());
  } else if (!unbound_) {
    rc = SQLBindCol(stmt, column.ordinal, SQL_C_CHAR, column.data.data(),
                    static_cast<SQLLEN>(column.width), column.indicators.data());
  }
  if (!SQL_SUCCEEDED(rc)) ThrowOdbcError(SQL_HANDLE_STMT, stmt, "Cannot bind the result's columns");
}

void DbQuery::FetchBlock() {
  rows_fetched_ = 0;
  row_ = 0;
  SQLRETURN rc = SQL_ERROR;
  {
    BusyCall busy(connection_, stmt_, BusyCall::Kind::kFetch);
    rc = SQLFetch(stmt_);
  }
  if (rc == SQL_NO_DATA) {
    eof_ = true;
    return;
  }
  CheckHandle(rc, "Cannot read the next rows");
  if (rowset_ == 1 && rows_fetched_ == 0) rows_fetched_ = 1;
  for (SQLULEN r = 0; r < rows_fetched_; ++r) {
    if (row_status_[r] == SQL_ROW_ERROR) {
      ThrowOdbcError(SQL_HANDLE_STMT, stmt_, "Cannot read a row of the result");
    }
  }
  if (rows_fetched_ == 0) {
    eof_ = true;
    return;
  }
  ReadLongValues();
}

void DbQuery::FindTextColumns() {
  text_columns_.clear();
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (!columns_[i].skipped && !columns_[i].integer) text_columns_.push_back(i);
  }
}

void DbQuery::ReadLongValues() {
  bool positioned = rowset_ == 1;
  for (const std::size_t i : text_columns_) {
    Column& column = columns_[i];
    column.long_current = false;
    if (!unbound_) {
      const SQLLEN indicator = column.indicators[row_];
      if (indicator != SQL_NO_TOTAL &&
          (indicator == SQL_NULL_DATA || static_cast<std::size_t>(indicator) < column.width)) {
        continue;
      }
      if (!positioned) {
        CheckHandle(SQLSetPos(stmt_, static_cast<SQLSETPOSIROW>(row_ + 1), SQL_POSITION,
                              SQL_LOCK_NO_CHANGE),
                    "Cannot read a long value of column " + column.name);
        positioned = true;
      }
    }
    column.long_null = !GetWholeValue(stmt_, column.ordinal, column.long_value);
    column.long_current = true;
  }
}

void DbQuery::Next() {
  if (!active_ || eof_) return;
  moved_ = true;
  ++row_;
  if (row_ >= rows_fetched_) {
    FetchBlock();
  } else {
    ReadLongValues();
  }
}

void DbQuery::ReadOnlyColumns(const std::vector<int>& positions) {
  if (!active_) throw DbError("The query is not open");
  std::vector<bool> kept(columns_.size(), false);
  for (const int index : positions) {
    CheckColumn(index);
    kept[static_cast<std::size_t>(index)] = true;
  }
  const bool selected_again = connection_.ConvertsEveryColumn() && SelectOnly(kept);
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    Column& column = columns_[i];
    if (kept[i] || column.skipped) continue;
    // A column the statement no longer selects has nothing bound.
    if (!unbound_ && !selected_again) {
      CheckHandle(SQLBindCol(stmt_, column.ordinal, SQL_C_CHAR, nullptr, 0, nullptr),
                  "Cannot unbind column " + column.name);
    }
    column.skipped = true;
    column.long_current = false;
    std::vector<char>().swap(column.data);
    std::vector<SQLBIGINT>().swap(column.numbers);
    std::string().swap(column.long_value);
  }
  FindTextColumns();
  // The first row again, from the statement that selects only the kept columns.
  if (selected_again) FetchBlock();
}

std::optional<std::string> DbQuery::NarrowedText(const std::vector<bool>& kept) const {
  // The result is selected from again as a subquery: a second statement of the batch would be
  // lost, and LIMIT and OFFSET are added to it (an OFFSET keeps SQLite from merging the two
  // queries into one whose plan, and so its order of rows, may differ).
  const std::string text = Text();
  const std::string upper = UpperCase(text);
  const std::string_view start = TrimView(upper);
  if (!start.starts_with("SELECT") || start.size() < 7 ||
      std::string_view(" \t\r\n").find(start[6]) == std::string_view::npos ||
      upper.find(';') != std::string::npos || upper.find("LIMIT") != std::string::npos ||
      upper.find("OFFSET") != std::string::npos) {
    return std::nullopt;
  }
  std::size_t kept_count = 0;
  std::string narrowed_text = "SELECT ";
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (!kept[i]) continue;
    const std::string& name = columns_[i].name;
    // The outer statement names each column: a name the result holds twice would be ambiguous.
    if (name.empty() || FieldIndex(name) != static_cast<int>(i) ||
        std::any_of(columns_.begin() + static_cast<std::ptrdiff_t>(i) + 1, columns_.end(),
                    [&name](const Column& other) { return SameText(other.name, name); })) {
      return std::nullopt;
    }
    if (kept_count++ > 0) narrowed_text += ", ";
    narrowed_text += QuotedName(name);
  }
  if (kept_count == 0 || kept_count == columns_.size()) return std::nullopt;
  return narrowed_text + " FROM (\n" + text + "\nLIMIT -1 OFFSET 0\n)";
}

bool DbQuery::DescribesKeptColumns(SQLHSTMT narrowed, const std::vector<bool>& kept) const {
  const auto kept_count = static_cast<std::size_t>(std::count(kept.begin(), kept.end(), true));
  SQLSMALLINT count = 0;
  if (!SQL_SUCCEEDED(SQLNumResultCols(narrowed, &count)) ||
      static_cast<std::size_t>(count) != kept_count) {
    return false;
  }
  SQLUSMALLINT ordinal = 0;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (!kept[i]) continue;
    const Column& column = columns_[i];
    const std::optional<DescribedColumn> described = DescribeColumn(narrowed, ++ordinal);
    if (!described || !SameText(described->name, column.name) ||
        described->type != column.sql_type || described->size != column.size ||
        described->digits != column.digits) {
      return false;
    }
  }
  return true;
}

bool DbQuery::SelectOnly(const std::vector<bool>& kept) {
  if (!active_ || eof_ || moved_) return false;
  const std::optional<std::string> narrowed_text = NarrowedText(kept);
  if (!narrowed_text) return false;
  SQLHSTMT narrowed = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection_.Handle(), &narrowed))) {
    return false;
  }
  // Prepared only, while the result is still open: the driver must describe the kept columns
  // as it did in the result.
  std::vector<SQLCHAR> statement(narrowed_text->begin(), narrowed_text->end());
  statement.push_back(0);
  if (!SQL_SUCCEEDED(SQLPrepare(narrowed, statement.data(), SQL_NTS)) ||
      !DescribesKeptColumns(narrowed, kept)) {
    SQLFreeHandle(SQL_HANDLE_STMT, narrowed);
    return false;
  }
  // The driver reads one result at a time step by step: a second one running beside the first
  // would be read into memory whole. The first goes before the second runs.
  SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
  stmt_ = narrowed;
  SetUpCursor(stmt_);
  SQLUSMALLINT ordinal = 0;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (!kept[i]) continue;
    columns_[i].ordinal = ++ordinal;
    BindBuffers(stmt_, columns_[i]);
  }
  connection_.RetryWhileLocked([this] {
    SQLRETURN rc = SQL_ERROR;
    {
      BusyCall busy(connection_, stmt_);
      rc = SQLExecute(stmt_);
    }
    if (rc == SQL_NO_DATA) throw DbError("The statement returned no rows to read");
    CheckHandle(rc, "Cannot execute the statement");
  });
  return true;
}

std::int64_t DbQuery::Execute() {
  Close();
  if (!connection_.Connected()) throw DbError("The database is not connected");
  if (lines_.empty()) throw DbError("The statement is empty");
  const std::string text = Text();
  std::int64_t affected = -1;
  connection_.RetryWhileLocked([&] { affected = ExecuteOnce(text); });
  return affected;
}

std::int64_t DbQuery::ExecuteOnce(const std::string& text) {
  StatementHandle stmt(connection_.Handle());
  std::vector<SQLCHAR> statement(text.begin(), text.end());
  statement.push_back(0);
  BusyCall busy(connection_, stmt.get());
  SQLRETURN rc = SQLExecDirect(stmt.get(), statement.data(), SQL_NTS);
  // A searched deletion that affects no row returns SQL_NO_DATA at once.
  std::int64_t affected = rc == SQL_NO_DATA ? 0 : -1;
  // Each statement of a batch reports its own failure, and its own count.
  while (rc != SQL_NO_DATA) {
    if (!SQL_SUCCEEDED(rc)) {
      ThrowOdbcError(SQL_HANDLE_STMT, stmt.get(), "Cannot execute the statement");
    }
    SQLLEN rows = -1;
    if (SQL_SUCCEEDED(SQLRowCount(stmt.get(), &rows)) && rows >= 0) {
      affected = std::max<std::int64_t>(affected, 0) + rows;
    }
    rc = SQLMoreResults(stmt.get());
  }
  return affected;
}

void DbQuery::Close() noexcept {
  if (stmt_ != SQL_NULL_HSTMT) {
    SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    stmt_ = SQL_NULL_HSTMT;
    std::erase(connection_.open_queries_, this);
  }
  columns_.clear();
  text_columns_.clear();
  rows_fetched_ = 0;
  row_ = 0;
  active_ = false;
  eof_ = true;
}

namespace {

// Out of the way of the reading of every value, which only tests.
[[noreturn, gnu::cold]] void ThrowOutOfRange(int index) {
  throw DbError("Field index " + std::to_string(index) + " is out of range");
}

[[noreturn, gnu::cold]] void ThrowNotRead(const std::string& name) {
  throw DbError("Field '" + name + "' is not read");
}

}  // namespace

void DbQuery::CheckColumn(int index) const {
  if (!active_ || index < 0 || index >= FieldCount()) ThrowOutOfRange(index);
}

const std::string& DbQuery::FieldName(int index) const {
  CheckColumn(index);
  return columns_[static_cast<std::size_t>(index)].name;
}

DbField DbQuery::Field(int index) const {
  CheckColumn(index);
  return DbField(*this, index);
}

int DbQuery::FieldIndex(std::string_view name) const {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (SameText(columns_[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

DbField DbQuery::FieldByName(std::string_view name) const {
  const int index = FieldIndex(name);
  if (index < 0) throw DbError("Field '" + std::string(name) + "' not found");
  return DbField(*this, index);
}

const DbQuery::Column& DbQuery::ReadColumn(int index) const {
  CheckColumn(index);
  const Column& column = columns_[static_cast<std::size_t>(index)];
  if (column.skipped) ThrowNotRead(column.name);
  return column;
}

bool DbQuery::IsNull(int index) const {
  const Column& column = ReadColumn(index);
  if (eof_) return true;
  if (column.long_current) return column.long_null;
  return column.indicators[row_] == SQL_NULL_DATA;
}

std::string_view DbQuery::AsString(int index) const {
  const Column& column = ReadColumn(index);
  if (eof_) return {};
  if (column.long_current) return column.long_value;
  const SQLLEN indicator = column.indicators[row_];
  if (indicator == SQL_NULL_DATA || indicator <= 0) return {};
  if (column.integer) {
    char* const begin = column.number_text.data();
    const char* const end =
        std::to_chars(begin, begin + column.number_text.size(), column.numbers[row_]).ptr;
    return std::string_view(begin, static_cast<std::size_t>(end - begin));
  }
  return std::string_view(column.data.data() + row_ * column.width,
                          static_cast<std::size_t>(indicator));
}

std::optional<std::int64_t> DbQuery::AsInteger(int index) const {
  const Column& column = ReadColumn(index);
  if (eof_ || !column.integer || column.indicators[row_] == SQL_NULL_DATA) return std::nullopt;
  return column.numbers[row_];
}

double DbQuery::AsFloat(int index) const {
  const std::string_view text = TrimView(AsString(index));
  if (text.empty()) return 0;
  double value = 0;
  const char* begin = text.data();
  if (*begin == '+') ++begin;
  const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw DbError("Field '" + columns_[static_cast<std::size_t>(index)].name + "' holds \"" +
                  std::string(text) + "\", which is not a number");
  }
  return value;
}

}  // namespace remoteccm
