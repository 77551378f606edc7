// The database server's own clock: the collector's clock can be wrong (an NTP step, a restored
// virtual machine), while the records are stamped by the server's side.
#pragma once

#include <optional>

#include "platform/db/database.h"

namespace remoteccm {

// Seconds since 1970 (UTC) by the server's clock, where the product is one whose statement for
// it is known (SQLite, PostgreSQL, SQL Server); nullopt otherwise or when asking fails.
std::optional<double> ServerUnixTime(DbConnection& connection);

}  // namespace remoteccm
