// The CallManager 4.2 CDR table CallDetailRecord, kept once as data: the demo-database
// generator, the tests and the table definitions for SQLite and PostgreSQL all read it.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace remoteccm {

inline constexpr std::string_view kCdrTableName = "CallDetailRecord";

enum class CdrColumnKind { kInteger, kText };

// One column: date/time columns are whole seconds since 1970 UTC (kInteger), IP addresses
// signed integers in reversed byte order; pkid (36 characters) is the key.
struct CdrColumn {
  std::string_view name;  // as CallManager spells it
  CdrColumnKind kind;
  int length;                      // characters of a text column; 0 for integers
  std::string_view default_value;  // the column's default ("" for text)
};

// The columns in table order.
std::span<const CdrColumn> CdrColumns();

// The position of the column named so (exact spelling), or -1.
int CdrColumnIndex(std::string_view name);

// CREATE TABLE for SQLite and PostgreSQL alike (INTEGER is 32 bits there, as SQL Server's int
// is). Names are not quoted: PostgreSQL then keeps them in lower case, so the program's
// unquoted statements ("SELECT * FROM CallDetailRecord WHERE (dateTimeDisconnect >= ...")
// find them, and result columns come back lower-case, which the case-insensitive field lookup
// matches. SQLite keeps the spelling.
std::string CdrCreateTableStatement(std::string_view table = kCdrTableName);

// The two indexes (dateTimeDisconnect, dateTimeOrigination), created after a bulk load.
std::vector<std::string> CdrCreateIndexStatements(std::string_view table = kCdrTableName);

}  // namespace remoteccm
