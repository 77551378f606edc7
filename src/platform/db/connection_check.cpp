#include "platform/db/connection_check.h"

#include "platform/db/connection_string.h"
#include "platform/db/db_error.h"
#include "platform/db/sql_names.h"

namespace remoteccm {

ConnectionCheckResult CheckConnection(DbConnection& db, const ConnectionCheckRequest& request) {
  ConnectionCheckResult result;
  auto say = [&result](std::string line) { result.lines.push_back(std::move(line)); };
  say("Connection string: " + MaskConnectionPasswords(request.connection_string));
  say("Database: " + request.database_name + "  Table: " + request.table_name +
      "  User: " + request.login);
  try {
    db.Connect(request.connection_string, request.database_name, request.login, request.password);
  } catch (const DbError& error) {
    say(std::string("Database not reachable: ") + error.what());
    result.outcome = ConnectionCheckOutcome::kNotConnected;
    return result;
  }
  say("Database reachable: " + db.DbmsName() + " through " + db.DriverName());
  if (const std::string problem = SqlNameProblem("The table name", request.table_name);
      !problem.empty()) {
    say(problem);
    result.outcome = ConnectionCheckOutcome::kTableUnreadable;
    return result;
  }
  try {
    const std::vector<DbColumnInfo> columns = db.ListColumns(request.table_name);
    if (columns.empty()) {
      say("Table " + request.table_name + " not found");
      result.outcome = ConnectionCheckOutcome::kTableMissing;
      return result;
    }
    // A run selects with the name as written: it must be readable so, not only listed.
    DbQuery query(db);
    query.AddLine("SELECT * FROM " + request.table_name + " WHERE 1 = 0");
    query.Open();
    say("Table " + request.table_name + " reachable: " + std::to_string(columns.size()) +
        " columns");
    result.outcome = ConnectionCheckOutcome::kReachable;
  } catch (const DbError& error) {
    say("Table " + request.table_name + " not readable: " + error.what());
    result.outcome = ConnectionCheckOutcome::kTableUnreadable;
  }
  return result;
}

}  // namespace remoteccm
