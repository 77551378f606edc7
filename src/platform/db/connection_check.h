// The connection test that remoteccm-cli --check prints and the connection-string builder's
// "Test Connection" shows: connect as a run does, then read the CDR table, saying at each step
// what was reached. Passwords never appear in what it says.
#pragma once

#include <string>
#include <vector>

#include "platform/db/database.h"

namespace remoteccm {

struct ConnectionCheckRequest {
  std::string connection_string;  // a profile's string, any form the layer accepts
  std::string database_name;
  std::string table_name;
  std::string login;     // when not empty, in place of the string's user name
  std::string password;  // when not empty, in place of the string's password
};

enum class ConnectionCheckOutcome {
  kReachable,        // connected, and the table can be read by its name
  kNotConnected,     // the connect failed (or was cancelled)
  kTableMissing,     // connected, no such table
  kTableUnreadable,  // the table is listed but cannot be selected from by the name given
};

struct ConnectionCheckResult {
  ConnectionCheckOutcome outcome = ConnectionCheckOutcome::kNotConnected;
  std::vector<std::string> lines;  // what was tried and reached, the driver's message last
};

// Runs the test on db (connected afresh; left connected when it succeeded). Another thread
// may Cancel db meanwhile: the step in progress then fails with the driver's message.
ConnectionCheckResult CheckConnection(DbConnection& db, const ConnectionCheckRequest& request);

}  // namespace remoteccm
