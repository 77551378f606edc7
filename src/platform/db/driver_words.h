// Drivers' codes in words, where the database layer can tell more than the driver says: SQLite
// reports a database file it cannot open as "connect failed (native 14)" whatever the reason.
#pragma once

#include "platform/db/connection_string.h"
#include "platform/db/db_error.h"

namespace remoteccm {

// The error of a failed connect with request, said in words where its code allows: for SQLite's
// SQLITE_CANTOPEN, what is wrong with the database file (missing, in a missing folder, a folder,
// unreadable); the driver's own text follows in parentheses. Other errors come back as they are.
DbError ExplainConnectError(const OdbcConnectionRequest& request, const DbError& error);

}  // namespace remoteccm
