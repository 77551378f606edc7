#include "platform/db/server_clock.h"

#include "platform/db/db_error.h"
#include "util/text_routines.h"

namespace remoteccm {

std::optional<double> ServerUnixTime(DbConnection& connection) {
  const std::string product = UpperCase(connection.DbmsName());
  std::string statement;
  if (product.find("SQLITE") != std::string::npos) {
    statement = "SELECT strftime('%s','now')";
  } else if (product.find("POSTGRES") != std::string::npos) {
    statement = "SELECT CAST(EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) AS BIGINT)";
  } else if (product.find("SQL SERVER") != std::string::npos) {
    statement = "SELECT DATEDIFF(second, '19700101', GETUTCDATE())";
  } else {
    return std::nullopt;
  }
  try {
    DbQuery query(connection);
    query.AddLine(statement);
    query.Open();
    if (query.Eof() || query.IsNull(0)) return std::nullopt;
    const double seconds = ParseDecimal(query.AsString(0));
    if (!(seconds > 0)) return std::nullopt;
    return seconds;
  } catch (const DbError&) {
    return std::nullopt;
  }
}

}  // namespace remoteccm
