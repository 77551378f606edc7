#include "platform/db/odbc_environment.h"

#include <array>

#include "platform/db/db_error.h"
#include "platform/db/odbc_api.h"
#include "platform/db/sqlite_library.h"

namespace remoteccm {

SQLHENV OdbcEnvironment() {
  static SQLHENV env = [] {
    SQLHENV handle = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle))) {
      throw DbError("The ODBC driver manager could not be initialised");
    }
    SQLSetEnvAttr(handle, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    PrepareSqliteLibrary();
    return handle;
  }();
  return env;
}

DbError OdbcError(SQLSMALLINT handle_type, SQLHANDLE handle, const std::string& context) {
  std::string message = context;
  std::string first_state;
  long first_native = 0;
  for (SQLSMALLINT record = 1;; ++record) {
    std::array<SQLCHAR, 6> state{};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::array<SQLCHAR, 2048> text{};
    const SQLRETURN rc = SQLGetDiagRec(handle_type, handle, record, state.data(), &native,
                                       text.data(), text.size(), &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    const std::string sql_state = reinterpret_cast<const char*>(state.data());
    if (record == 1) {
      first_state = sql_state;
      first_native = native;
    }
    message += record == 1 ? ": " : "; ";
    message += "[" + sql_state + "] ";
    // One log line: the driver's own line breaks become blanks.
    std::string line = reinterpret_cast<const char*>(text.data());
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ';')) {
      line.pop_back();
    }
    for (char& c : line) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    message += line;
    if (native != 0) message += " (native " + std::to_string(native) + ")";
  }
  if (first_state.empty()) message += ": the driver gave no diagnostic";
  return DbError(message, first_state, first_native);
}

void ThrowOdbcError(SQLSMALLINT handle_type, SQLHANDLE handle, const std::string& context) {
  throw OdbcError(handle_type, handle, context);
}

}  // namespace remoteccm
