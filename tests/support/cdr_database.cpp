#include "support/cdr_database.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/db/cdr_schema.h"

namespace remoteccm::testing {

std::string NewSqliteDatabase(const std::filesystem::path& file) {
  std::ofstream(file).close();
  return "Provider=MSDASQL;Driver=SQLite3;Database=" + DriverFilePath(file);
}

std::string TestDatabase(const std::string& driver, const std::filesystem::path& folder) {
  if (driver == "sqlite") return NewSqliteDatabase(folder / "cdr.db");
  const char* server = std::getenv("REMOTECCM_TEST_PG");
  if (server != nullptr && *server != '\0') return server;
  // A fatal failure or a skip: either way gtest runs no test body after the set-up.
  [] {
    if (std::getenv("REMOTECCM_REQUIRE_PG") != nullptr) {
      FAIL() << "REMOTECCM_TEST_PG is not set; scripts/start-test-postgres gives it";
    }
    GTEST_SKIP() << "no test PostgreSQL server (REMOTECCM_TEST_PG)";
  }();
  return {};
}

void CreateCdrTable(DbConnection& db, const std::string& table) {
  db.Execute("DROP TABLE IF EXISTS " + table);
  db.Execute(CdrCreateTableStatement(table));
}

}  // namespace remoteccm::testing
