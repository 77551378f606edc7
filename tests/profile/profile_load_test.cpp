#include <string>

#include "profile/profile_file.h"
#include "profile_fixture.h"
#include "support/fifos.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

using namespace std::string_literals;

using LoadTest = ProfileTest;

TEST_F(LoadTest, MissingFileTakesEveryDefault) {
  const ProfileSettings s = Load();
  EXPECT_EQ(s.profile_path, path_);
  EXPECT_EQ(s.profile_name, "SITE1");
  EXPECT_EQ(s.login, "");
  EXPECT_EQ(s.server_name, "");
  EXPECT_EQ(s.destination_file, (home_ / "0001.RAW").string());
  EXPECT_EQ(s.connect_sql_mode, RetrievalMode::kNoRecords);
  EXPECT_EQ(s.new_rec_incr_value, 1);
  EXPECT_EQ(s.new_rec_incr_mode, IncrementMode::kDays);
  EXPECT_EQ(s.date_range_incr_value, 1);
  EXPECT_EQ(s.date_range_incr_mode, IncrementMode::kDays);
  EXPECT_EQ(s.sql_database_name, "CDR");
  EXPECT_EQ(s.sql_table_name, "CallDetailRecord");
  EXPECT_EQ(s.sql_date_time_fld_name, "dateTimeDisconnect");
  EXPECT_EQ(s.time_zone_option, TimeZoneOption::kComputer);
  EXPECT_EQ(s.time_zone_offset, 0);
  EXPECT_FALSE(s.time_zone_rule.has_value());
  EXPECT_TRUE(s.connect_sql.empty());
  EXPECT_TRUE(s.poll_again);
  EXPECT_FALSE(s.delete_recs || s.use_dialup || s.overwrite || s.sql_backup);
  EXPECT_EQ(s.wait_before_polling_again, 3);
  // Date pickers: yesterday and today at 00:00 of the computer's date, not converted.
  EXPECT_EQ(s.from_date_range, today_ - 1);
  EXPECT_EQ(s.to_date_range, today_);
  // Today 00:00 as the CallManager's local time (here the computer's zone, UTC-5), less 365
  // days.
  const double midnight_utc = (today_ - kUnixEpochDays) * 86400 + 5 * 3600;
  EXPECT_NEAR(s.sql_new_rec_date, midnight_utc - 31536000, 1e-3);
  EXPECT_NEAR(s.new_rec_date_local, today_ - 365, 1e-9);
}

TEST_F(LoadTest, TodayIsTheComputersDateNotUtcs) {
  now_ = static_cast<std::time_t>((today_ + 1 - kUnixEpochDays) * 86400 + 2 * 3600);
  clock_.Set(static_cast<double>(now_));
  EXPECT_EQ(Load().to_date_range, today_);
}

TEST_F(LoadTest, EmptyServerNameShowsStandInsButKeepsTheStoredLogin) {
  PutOptions("Login=sa\r\nPassword=secret\r\nServerName=\r\n");
  const ProfileSettings s = Load();
  EXPECT_EQ(s.login, "sa");
  EXPECT_EQ(s.password, "secret");
  const MainWindowTexts shown = MainWindowLogin(s);
  EXPECT_EQ(shown.login, "CiscoCCMCDR");
  EXPECT_EQ(shown.password, "kwelp");
  EXPECT_EQ(shown.server_name, kDefaultServerName);

  PutOptions("Login=sa\r\nServerName=ccm1\r\n");
  EXPECT_EQ(MainWindowLogin(Load()).login, "sa");
}

TEST_F(LoadTest, FlagsReadOnlyTheirOneLetter) {
  PutOptions("PollAgain=no\r\nUseDialup=yes\r\nDeleteRecs=y\r\nOverwrite=Y\r\nSQLBackup=1\r\n");
  ProfileSettings s = Load();
  EXPECT_TRUE(s.poll_again);
  EXPECT_FALSE(s.use_dialup);
  EXPECT_TRUE(s.delete_recs);
  EXPECT_TRUE(s.overwrite);
  EXPECT_FALSE(s.sql_backup);
  PutOptions("PollAgain=n\r\nUseDialup=y\r\n");
  s = Load();
  EXPECT_FALSE(s.poll_again);
  EXPECT_TRUE(s.use_dialup);
}

TEST_F(LoadTest, WholeNumbersTakeTheirRangesAndDefaults) {
  PutOptions("SQLNewRecIncrValue=0\r\nSQLDateRangeIncrValue=500\r\nWaitBeforePollingAgain=0\r\n");
  ProfileSettings s = Load();
  EXPECT_EQ(s.new_rec_incr_value, 1);
  EXPECT_EQ(s.date_range_incr_value, 365);
  EXPECT_EQ(s.wait_before_polling_again, 0);

  PutOptions(
      "SQLNewRecIncrValue=500\r\nSQLDateRangeIncrValue=-4\r\n"
      "WaitBeforePollingAgain=-5\r\n");
  s = Load();
  EXPECT_EQ(s.new_rec_incr_value, 365);
  EXPECT_EQ(s.date_range_incr_value, 1);
  EXPECT_EQ(s.wait_before_polling_again, -5);

  PutOptions("WaitBeforePollingAgain=abc\r\n");
  EXPECT_EQ(Load().wait_before_polling_again, 0);
}

TEST_F(LoadTest, TimeZoneOffsetIsClampedAndAbove24TakesTheComputersOffset) {
  const auto offset_of = [&](const std::string& stored) {
    PutOptions("SQLTimeZoneOffset=" + stored + "\r\n");
    return Load().time_zone_offset;
  };
  EXPECT_EQ(offset_of("30"), -5);
  EXPECT_EQ(offset_of("25"), -5);
  EXPECT_EQ(offset_of("24"), 24);
  EXPECT_EQ(offset_of("-30"), -23);
  EXPECT_EQ(offset_of("abc"), 0);
  EXPECT_EQ(offset_of("7"), 7);
  // The division by 60 truncates toward zero: UTC+5:30 gives 5, UTC-5:30 gives -5.
  env_.computer_rule.bias = -330;
  EXPECT_EQ(offset_of("25"), 5);
  env_.computer_rule.bias = 330;
  EXPECT_EQ(offset_of("25"), -5);
}

TEST_F(LoadTest, TimeZoneOptionOtherThanTwoOrThreeIsTheComputers) {
  const auto option_of = [&](const std::string& stored) {
    PutOptions("SQLTimeZoneOption=" + stored + "\r\nSQLTimeZoneName=No Such Zone\r\n");
    return Load();
  };
  EXPECT_EQ(option_of("2").time_zone_option, TimeZoneOption::kSelected);
  EXPECT_EQ(option_of("2").time_zone_name, "");
  EXPECT_FALSE(option_of("2").time_zone_rule.has_value());
  EXPECT_EQ(option_of("3").time_zone_option, TimeZoneOption::kManual);
  EXPECT_EQ(option_of("4").time_zone_option, TimeZoneOption::kComputer);
  EXPECT_EQ(option_of("x").time_zone_option, TimeZoneOption::kComputer);
}

TEST_F(LoadTest, SelectedZoneGivesItsDisplayNameAndRuleToTheConversions) {
  TimeZoneEntry berlin{"(UTC+01:00) Europe/Berlin", "Europe/Berlin", {}};
  berlin.rule.bias = -60;
  const std::vector<TimeZoneEntry> zones = {berlin};
  env_.zones = &zones;
  PutOptions(
      "SQLTimeZoneOption=2\r\nSQLTimeZoneName=(utc+01:00) europe/berlin\r\n"
      "SQLFromDateRange=3600\r\n");
  const ProfileSettings s = Load();
  EXPECT_EQ(s.time_zone_name, "(UTC+01:00) Europe/Berlin");
  ASSERT_TRUE(s.time_zone_rule.has_value());
  EXPECT_EQ(s.time_zone_rule->bias, -60);
  EXPECT_DOUBLE_EQ(s.from_date_range, kUnixEpochDays + 2.0 / 24);
}

TEST_F(LoadTest, ChoicesMatchWithoutRegardToCaseElseTakeTheirFallback) {
  PutOptions(
      "ConnectSQLMode=by date\r\nSQLNewRecIncrMode=HOUR(S)\r\n"
      "SQLDateRangeIncrMode=weeks\r\n");
  ProfileSettings s = Load();
  EXPECT_EQ(s.connect_sql_mode, RetrievalMode::kByDate);
  EXPECT_EQ(s.new_rec_incr_mode, IncrementMode::kHours);
  EXPECT_EQ(s.date_range_incr_mode, IncrementMode::kDays);
  PutOptions("ConnectSQLMode=Everything\r\n");
  EXPECT_EQ(Load().connect_sql_mode, RetrievalMode::kNoRecords);
}

TEST_F(LoadTest, TimeValuesAreConvertedByTheProfilesZone) {
  // Manual offset +2: 86400 is 1970-01-02 02:00 on the CallManager's clock.
  PutOptions(
      "SQLTimeZoneOption=3\r\nSQLTimeZoneOffset=2\r\nSQLFromDateRange=86400\r\n"
      "SQLToDateRange=172800\r\nSQLNewRecDate=1700000000.5\r\n");
  ProfileSettings s = Load();
  EXPECT_DOUBLE_EQ(s.from_date_range, kUnixEpochDays + 1 + 2.0 / 24);
  EXPECT_DOUBLE_EQ(s.to_date_range, kUnixEpochDays + 2 + 2.0 / 24);
  EXPECT_EQ(s.sql_new_rec_date, 1700000000.5);

  // 0, missing, and values beyond a 32-bit number are yesterday (from) and today (to).
  for (const std::string stored : {"0", "2147483648", "99999999999999999999", "-"}) {
    PutOptions("SQLTimeZoneOption=3\r\nSQLTimeZoneOffset=2\r\nSQLFromDateRange=" + stored +
               "\r\nSQLToDateRange=" + stored + "\r\n");
    s = Load();
    EXPECT_EQ(s.from_date_range, today_ - 1) << stored;
    EXPECT_EQ(s.to_date_range, today_) << stored;
    // Today 00:00 at UTC+2 is 22:00 UTC the day before.
    EXPECT_NEAR(s.sql_new_rec_date, (today_ - kUnixEpochDays) * 86400 - 2 * 3600 - 31536000, 1e-3);
  }
}

TEST_F(LoadTest, TextsTakeTheirFallbacksAndLoseBlanksAndQuotes) {
  PutOptions(
      "SQLDatabaseName=\r\nSQLTableName=  \r\nSQLDateTimeFldName=   \r\n"
      "DestinationFile=  \r\nLogin=  \"sa\"  \r\nPhonebookEntry=Office \r\n"
      "SQLConnectionString=  DSN=cdr  \r\n");
  const ProfileSettings s = Load();
  EXPECT_EQ(s.sql_database_name, "CDR");
  EXPECT_EQ(s.sql_table_name, "CallDetailRecord");
  EXPECT_EQ(s.sql_date_time_fld_name, "dateTimeDisconnect");
  EXPECT_EQ(s.destination_file, (home_ / "0001.RAW").string());
  EXPECT_EQ(s.login, "sa");
  EXPECT_EQ(s.phonebook_entry, "Office");
  EXPECT_EQ(s.sql_connection_string, "DSN=cdr");
}

TEST_F(LoadTest, DefaultDestinationFollowsTheEntityName) {
  env_.entity_name = "0002";
  EXPECT_EQ(Load().destination_file, (home_ / "0002.RAW").string());
}

TEST_F(LoadTest, LineListsStopAtEndDropEmptyLinesAndReadAtMost101) {
  PutOptions(
      "ConnectSQL0=  SELECT *\r\nConnectSQL1=\r\nConnectSQL2='FROM t'\r\n"
      "ConnectSQL3=<END>\r\nConnectSQL4=<end>\r\nConnectSQL5=lost\r\n"
      "DisconnectSQL0=DELETE\r\n");
  ProfileSettings s = Load();
  EXPECT_EQ(s.connect_sql, (std::vector<std::string>{"SELECT *", "FROM t", "<END>"}));
  EXPECT_EQ(s.disconnect_sql, std::vector<std::string>{"DELETE"});

  std::string lines;
  for (int i = 0; i < 150; ++i)
    lines += "ConnectSQL" + std::to_string(i) + "=line " + std::to_string(i) + "\r\n";
  PutOptions(lines);
  s = Load();
  ASSERT_EQ(s.connect_sql.size(), 101u);
  EXPECT_EQ(s.connect_sql.back(), "line 100");
}

TEST_F(LoadTest, BadFilesLoadWithDefaultsAndNeverCrash) {
  const std::string huge(100000, 'x');
  const std::string cases[] = {
      "\x00\xff\xfe garbage \x01\x02\r\n=\r\n[\r\n]]]\r\n"s,
      "Login=nosection\r\nSQLNewRecIncrValue=9\r\n",
      "[Options]\r\nSQLNewRecIncrValue=1.2.3\r\n[Options]\r\nSQLNewRecIncrValue=7\r\n",
      "[Options]\r\nWaitBeforePollingAgain=-\r\nWaitBeforePollingAgain=8\r\n",
      "[Options]\r\nLogin=" + huge + "\r\nServerName" + huge + "\r\n" + huge + "\r\n",
      "[Options]\r\nSQLTimeZoneOffset=99999999999999999999\r\nSQLNewRecDate=1e308\r\n",
      "[Options]\r\nLogin=a\0b\r\nPollAgain=N"s,
      "[Options]\rLogin=cr\rConnectSQL0=only cr\rConnectSQL1=<end>\r",
      "",
  };
  for (const std::string& content : cases) {
    Put(path_, content);
    const ProfileSettings s = Load();
    EXPECT_EQ(s.sql_table_name, "CallDetailRecord");
    EXPECT_GE(s.new_rec_incr_value, 1);
    EXPECT_LE(s.new_rec_incr_value, 365);
    EXPECT_GE(s.time_zone_offset, -23);
    EXPECT_LE(s.time_zone_offset, 24);
    EXPECT_LE(s.login.size(), 2047u);
  }
  std::filesystem::remove(path_);
  std::filesystem::create_directory(path_);
  EXPECT_EQ(Load().connect_sql_mode, RetrievalMode::kNoRecords);
}

// A FIFO in place of the profile loads as defaults instead of waiting for a writer.
TEST_F(LoadTest, AFifoLoadsWithDefaults) {
  if (!testing::kHasFifos) GTEST_SKIP() << "this file system has no FIFOs";
  ASSERT_TRUE(testing::MakeFifo(path_));
  EXPECT_EQ(Load().sql_table_name, "CallDetailRecord");
}

}  // namespace
}  // namespace remoteccm
