// remoteccm-cli --columns and --check against a SQLite CDR database through a profile.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/db/database.h"
#include "support/cdr_database.h"
#include "support/run_cli.h"
#include "support/scratch_dir.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;
using ::testing::AnyOf;
using ::testing::HasSubstr;
using ::testing::Not;

using testing::CliResult;

class DbCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DbConnection db;
    db.Connect(testing::NewSqliteDatabase(database_file_), "", "", "");
    testing::CreateCdrTable(db);
  }

  void PutProfile(const std::string& name, const std::string& connection,
                  const std::string& table = "CallDetailRecord") const {
    std::ofstream(home_ / (name + ".CCM"), std::ios::binary)
        << "[Options]\r\nLogin=cdr\r\nPassword=secret\r\nSQLConnectionString=" << connection
        << "\r\nSQLDatabaseName=CDR\r\nSQLTableName=" << table << "\r\n";
  }

  CliResult Run(const std::string& args) const {
    return testing::RunCli(testing::HomeVariables(home_), args, true);
  }

  testing::ScratchDir home_;
  fs::path database_file_ = home_ / "cdr.db";
  // The file as the profiles name it to the driver.
  std::string database_ = testing::DriverFilePath(database_file_);
};

TEST_F(DbCommandsTest, ColumnsListsTheTableThroughTheProfile) {
  PutProfile("cdr", "Provider=MSDASQL;Driver=SQLite3;Database=" + database_, "calldetailrecord");
  const CliResult result = Run("--columns cdr");
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_THAT(result.out, HasSubstr("callingPartyNumber\tVARCHAR(50)\t50\n"));
  EXPECT_THAT(result.out, HasSubstr("dateTimeDisconnect\tINTEGER\t0\n"));
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 68);

  PutProfile("other", "Provider=MSDASQL;Driver=SQLite3;Database=" + database_, "NoSuchTable");
  const CliResult missing = Run("--columns other");
  EXPECT_EQ(missing.status, 3);
  EXPECT_THAT(missing.out, HasSubstr("no table NoSuchTable"));
  EXPECT_EQ(Run("--columns absent").status, 2);
}

TEST_F(DbCommandsTest, CheckSaysWhatIsReachable) {
  PutProfile("good", "Provider=MSDASQL;Driver=SQLite3;Database=" + database_);
  const CliResult good = Run("--check good");
  EXPECT_EQ(good.status, 0) << good.out;
  EXPECT_THAT(good.out, HasSubstr("Database reachable: SQLite"));
  EXPECT_THAT(good.out, HasSubstr("Table CallDetailRecord reachable: 68 columns"));

  PutProfile("table", "Provider=MSDASQL;Driver=SQLite3;Database=" + database_, "CallDetail");
  const CliResult table = Run("--check table");
  EXPECT_EQ(table.status, 3);
  EXPECT_THAT(table.out, HasSubstr("Table CallDetail not found"));

  // A mistyped file is reported, not created empty.
  const std::string typo = testing::DriverFilePath(home_ / "cdr2.db");
  PutProfile("file", "Provider=MSDASQL;Driver=SQLite3;PWD=hidden;Database=" + typo);
  const CliResult file = Run("--check file");
  EXPECT_EQ(file.status, 4);
  EXPECT_THAT(file.out, HasSubstr("Database not reachable: Cannot connect to the database: the "
                                  "database file " +
                                  typo + " does not exist ("));
  EXPECT_THAT(file.out, HasSubstr("PWD=***"));
  EXPECT_THAT(file.out, Not(HasSubstr("hidden")));
  EXPECT_FALSE(fs::exists(home_ / "cdr2.db"));

  PutProfile("driver", "Driver={SQL Server};Server=ccm;Database=CDR");
  const CliResult driver = Run("--check driver");
  EXPECT_EQ(driver.status, 4);
  EXPECT_THAT(driver.out, HasSubstr("driver named in Driver is not installed"));

  // A password in Extended Properties, and one whose unbraced ";" breaks the string.
  PutProfile("nested",
             "Provider=MSDASQL;Extended Properties=\"Driver=SQLite3;PWD=n3sted;Database=" +
                 database_ + "\"");
  const CliResult nested = Run("--check nested");
  EXPECT_EQ(nested.status, 0) << nested.out;
  EXPECT_THAT(nested.out, HasSubstr("PWD=***;Database="));
  PutProfile("tail", "Driver=SQLite3;PWD=abc;d3f;Database=" + database_);
  const CliResult tail = Run("--check tail");
  EXPECT_EQ(tail.status, 4);
  EXPECT_THAT(tail.out, HasSubstr("There is a part without \"=\" at character 24"));
  for (const CliResult& result : {nested, tail}) {
    EXPECT_THAT(result.out, Not(AnyOf(HasSubstr("n3sted"), HasSubstr("d3f"))));
  }

  PutProfile("blank", "");
  EXPECT_EQ(Run("--check blank").status, 3);
}

}  // namespace
}  // namespace remoteccm
