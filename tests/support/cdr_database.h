// The CDR databases the tests run against, on the real drivers: the SQLite ODBC driver on a
// file, or the PostgreSQL server that REMOTECCM_TEST_PG names (scripts/start-test-postgres).
#pragma once

#include <filesystem>
#include <string>

#include "platform/db/database.h"
#include "platform/db/driver_file_path.h"

namespace remoteccm::testing {

// The path of a file as the ODBC driver sees it (under Wine, the host's Unix path): the
// program's own rule, which its CDR-file database follows too.
using remoteccm::DriverFilePath;

// The connection string of a new SQLite database file (made empty here: the driver creates
// none unless told to).
std::string NewSqliteDatabase(const std::filesystem::path& file);

// The database of a test run on `driver`: "sqlite" a new file cdr.db in folder, "postgres" the
// test server. Without a test server the test is skipped (or fails when REMOTECCM_REQUIRE_PG
// is set) and the string is empty: the caller returns.
std::string TestDatabase(const std::string& driver, const std::filesystem::path& folder);

// Makes the CDR table anew, empty, on a connected database.
void CreateCdrTable(DbConnection& db, const std::string& table = "CallDetailRecord");

}  // namespace remoteccm::testing
