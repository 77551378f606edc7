// A connection string taken apart into what the connection-string builder asks for (a data
// source, or a driver with what that driver needs: a database file, or server, port, database,
// user and password) and put together again in the forms the database layer accepts.
#pragma once

#include <string>
#include <string_view>

#include "platform/db/connection_string.h"

namespace remoteccm {

// What a driver needs, told by its name.
enum class DriverKind {
  kSqlite,     // a database file
  kPostgres,   // server, port, database, user, password
  kSqlServer,  // the same, through FreeTDS or Microsoft's driver
  kOther,      // the same fields, taken as the driver's Server, Port, Database, UID, PWD
};

DriverKind KindOfDriver(std::string_view driver_name);

// The port a server of that kind listens on unless told otherwise ("" when none).
std::string_view DefaultPort(DriverKind kind);

struct ConnectionParts {
  bool use_data_source = false;  // DSN=... rather than Driver=...
  std::string data_source;
  std::string driver;
  std::string file;  // the SQLite database
  std::string host;
  std::string port;
  std::string database;
  std::string user;
  std::string password;
  ConnectionAttributes other;  // every other pair, kept as it was given

  bool operator==(const ConnectionParts&) const = default;
};

// The parts of a profile's string (any form OdbcAttributesOf reads). Throws DbError as
// OdbcAttributesOf does.
ConnectionParts SplitConnectionString(std::string_view text,
                                      const DriverLister& drivers = InstalledOdbcDrivers);

// The string for the parts: "DSN=...", "Provider=MSDASQL;Driver=SQLite3;Database=/path" for
// SQLite, "Driver=...;Server=...;Port=...;Database=...;UID=...;PWD=..." for the others; empty
// fields are left out, the other pairs follow.
std::string JoinConnectionString(const ConnectionParts& parts);

}  // namespace remoteccm
