#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/run_cli.h"
#include "support/scratch_dir.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

using testing::CliResult;

class CliTest : public ::testing::Test {
 protected:
  // Runs remoteccm-cli with a home and store of its own; standard output only.
  CliResult Run(const std::string& args) const {
    return testing::RunCli(testing::HomeVariables(home_) + " REMOTECCM_ZONEINFO='" +
                               (home_ / "no-zones").string() + "' TZ=UTC",
                           args, false);
  }
  static void Put(const fs::path& file, const std::string& content) {
    testing::WriteFile(file, content);
  }

  testing::ScratchDir home_;
};

constexpr const char* kSampleProfile =
    "[Options]\r\nLogin=sa\r\nPassword=secret\r\nServerName=10.1.1.1\r\n"
    "DestinationFile=/data/cdr.txt\r\nConnectSQLMode=new records only\r\n"
    "SQLNewRecIncrValue=2\r\nSQLNewRecIncrMode=hour(s)\r\nSQLFromDateRange=86400\r\n"
    "SQLToDateRange=172800\r\nSQLDateRangeIncrValue=400\r\nSQLDateRangeIncrMode=MINUTE(S)\r\n"
    "Overwrite=Y\r\nSQLBackup=N\r\n"
    "SQLConnectionString=Provider=MSDASQL;Driver=SQLite3;Database=/tmp/cdr.db\r\n"
    "SQLAuthOption=\r\nSQLDatabaseName=\r\nSQLTableName=CallDetailRecord\r\n"
    "SQLODBCAlias=alias\r\nSQLTimeZoneOption=3\r\nSQLTimeZoneName=Nowhere\r\n"
    "SQLTimeZoneOffset=-5\r\nConnectSQL0=  SELECT *\r\nConnectSQL1=\r\n"
    "ConnectSQL2=FROM CallDetailRecord\r\nConnectSQL3=<end>\r\nDeleteRecs=Y\r\n"
    "PollAgain=no\r\nWaitBeforePollingAgain=\r\nUseDialup=N\r\nDialUserName=dialer\r\n"
    "DialPassword=\r\nDialDomain=WORK\r\nPhonebookEntry=Office \r\n"
    "SQLNewRecDate=1700000000.75\r\nSQLDateTimeFldName=\r\n";

constexpr const char* kSamplePrinted =
    "Login=sa\nPassword=***\nServerName=10.1.1.1\nDestinationFile=/data/cdr.txt\n"
    "ConnectSQLMode=New Records Only\nSQLNewRecIncrValue=2\nSQLNewRecIncrMode=hour(s)\n"
    "SQLFromDateRange=86400 (1970/01/01 19:00:00)\nSQLToDateRange=172800 (1970/01/02 19:00:00)\n"
    "SQLDateRangeIncrValue=365\nSQLDateRangeIncrMode=minute(s)\nOverwrite=Y\nSQLBackup=N\n"
    "SQLConnectionString=Provider=MSDASQL;Driver=SQLite3;Database=/tmp/cdr.db\n"
    "SQLAuthOption=\nSQLDatabaseName=CDR\nSQLTableName=CallDetailRecord\nSQLODBCAlias=alias\n"
    "SQLTimeZoneOption=3\nSQLTimeZoneName=\nSQLTimeZoneOffset=-5\nConnectSQL0=SELECT *\n"
    "ConnectSQL1=FROM "
    "CallDetailRecord\nDeleteRecs=Y\nPollAgain=Y\nWaitBeforePollingAgain=3\nLateArrivalMinutes=60\n"
    "SQLDisplayRecords=N\nUseDialup=N\nDialUserName=dialer\nDialPassword=\nDialDomain=WORK\n"
    "PhonebookEntry=Office\nLogRecordLines=Y\nSQLNewRecDate=1700000001 (2023/11/14 17:13:21)\n"
    "SQLDateTimeFldName=dateTimeDisconnect\n";

TEST_F(CliTest, PrintShowsEverySettingAsLoaded) {
  Put(home_ / "SITE1.CCM", kSampleProfile);
  CliResult result = Run("--print SITE1");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kSamplePrinted);

  // A path is taken as given, its extension replaced; --home wins over REMOTECCM_HOME.
  fs::create_directory(home_ / "elsewhere");
  fs::rename(home_ / "SITE1.CCM", home_ / "elsewhere" / "SITE1.CCM");
  result = Run("--print '" + (home_ / "elsewhere" / "SITE1.ini").string() + "'");
  EXPECT_EQ(result.out, kSamplePrinted);
  result = Run("--home '" + (home_ / "elsewhere").string() + "' --print SITE1");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, kSamplePrinted);
}

TEST_F(CliTest, PrintNamesTheDefaultDestinationByTheEntity) {
  Put(home_ / "SITE2.CCM", "[Options]\r\nDestinationFile=  \r\n");
  const CliResult result = Run("--print SITE2 /ENTITY:0002");
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("\nDestinationFile=" + (home_ / "0002.RAW").string() + "\n"),
            std::string::npos);
}

TEST_F(CliTest, PrintHidesAPasswordInTheConnectionString) {
  Put(home_ / "PG.CCM",
      "[Options]\r\nSQLConnectionString=Driver=PostgreSQL Unicode;UID=cdr;PWD=s3cret\r\n");
  const CliResult result = Run("--print PG");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.find("s3cret"), std::string::npos);
  EXPECT_NE(result.out.find("PWD=***"), std::string::npos);
}

TEST_F(CliTest, MissingProfileAndWrongUsageFail) {
  EXPECT_EQ(Run("--print NOSUCH").status, 2);
  fs::create_directory(home_ / "DIR.CCM");
  EXPECT_EQ(Run("--print DIR").status, 2);
  for (const char* args : {"--frobnicate", "--print", "--print A --print B", "--print A B", ""}) {
    const CliResult result = Run(args);
    EXPECT_EQ(result.status, 64) << args;
    EXPECT_EQ(result.out, "") << args;
  }
  EXPECT_EQ(Run("--version").out.rfind("remoteccm-cli ", 0), 0u);
  EXPECT_EQ(Run("--help").status, 0);
}

}  // namespace
}  // namespace remoteccm
