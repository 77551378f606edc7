#include <algorithm>
#include <filesystem>
#include <string>

#include "profile/profile_file.h"
#include "profile/profile_list.h"
#include "profile_fixture.h"
#include "util/ini_file.h"

namespace remoteccm {
namespace {

using SaveTest = ProfileTest;
using namespace std::string_literals;

TEST_F(SaveTest, NewFileHasEveryKeyInTableOrder) {
  ProfileSettings s = Load();
  s.profile_name = "SITE1";
  s.login = "sa";
  s.time_zone_option = TimeZoneOption::kManual;
  s.time_zone_offset = 0;
  s.from_date_range = kUnixEpochDays + 1;
  s.to_date_range = kUnixEpochDays + 2.5;
  s.connect_sql = {"SELECT *", "", "FROM CallDetailRecord"};
  s.phonebook_entry = "Office";
  s.poll_again = false;
  SaveProfile(s, env_);
  EXPECT_EQ(s.profile_path, path_);
  EXPECT_EQ(Get(path_),
            "[Options]\r\nLogin=sa\r\nPassword=\r\nServerName=\r\nDestinationFile=" +
                (home_ / "0001.RAW").string() +
                "\r\nConnectSQLMode=No Records\r\nSQLNewRecIncrValue=1\r\n"
                "SQLNewRecIncrMode=day(s)\r\nSQLFromDateRange=86400\r\nSQLToDateRange=216000\r\n"
                "SQLDateRangeIncrValue=1\r\nSQLDateRangeIncrMode=day(s)\r\nOverwrite=N\r\n"
                "SQLBackup=N\r\nSQLConnectionString=\r\nSQLAuthOption=\r\nSQLDatabaseName=CDR\r\n"
                "SQLTableName=CallDetailRecord\r\nSQLODBCAlias=\r\nSQLTimeZoneOption=3\r\n"
                "SQLTimeZoneName=\r\nSQLTimeZoneOffset=0\r\nConnectSQL0=SELECT *\r\n"
                "ConnectSQL1=\r\nConnectSQL2=FROM CallDetailRecord\r\nConnectSQL3=<end>\r\n"
                "DisconnectSQL0=<end>\r\nDeleteRecs=N\r\nPollAgain=N\r\n"
                "WaitBeforePollingAgain=3\r\nLateArrivalMinutes=60\r\nSQLDisplayRecords=N\r\n"
                "UseDialup=N\r\n"
                "DialUserName=\r\nDialPassword=\r\nDialDomain=\r\nPhonebookEntry=Office \r\n");
}

TEST_F(SaveTest, SaveThenLoadGivesTheSameSettings) {
  PutOptions("SQLNewRecDate=1700000000\r\nSQLDateTimeFldName=dateTimeOrigination\r\n");
  ProfileSettings s = Load();
  s.password = "pw";
  s.server_name = "10.0.0.5";
  s.connect_sql_mode = RetrievalMode::kBySqlQuery;
  s.new_rec_incr_value = 12;
  s.new_rec_incr_mode = IncrementMode::kMinutes;
  s.date_range_incr_mode = IncrementMode::kHours;
  s.sql_backup = true;
  s.time_zone_offset = -7;
  s.disconnect_sql = {"DELETE FROM t"};
  s.wait_before_polling_again = -5;
  s.use_dialup = true;
  s.dial_password = "dial pw";
  s.from_date_range = today_ - 3 + 0.25;
  SaveProfile(s, env_);

  const ProfileSettings back = Load();
  EXPECT_EQ(back.password, "pw");
  EXPECT_EQ(back.server_name, "10.0.0.5");
  EXPECT_EQ(back.connect_sql_mode, RetrievalMode::kBySqlQuery);
  EXPECT_EQ(back.new_rec_incr_value, 12);
  EXPECT_EQ(back.new_rec_incr_mode, IncrementMode::kMinutes);
  EXPECT_EQ(back.date_range_incr_mode, IncrementMode::kHours);
  EXPECT_TRUE(back.sql_backup);
  EXPECT_EQ(back.time_zone_offset, -7);
  EXPECT_EQ(back.disconnect_sql, s.disconnect_sql);
  EXPECT_EQ(back.wait_before_polling_again, -5);
  EXPECT_TRUE(back.use_dialup);
  EXPECT_EQ(back.dial_password, "dial pw");
  EXPECT_NEAR(back.from_date_range, s.from_date_range, 1e-9);
  // The two keys a save leaves alone keep their stored values.
  EXPECT_EQ(back.sql_new_rec_date, 1700000000);
  EXPECT_EQ(back.sql_date_time_fld_name, "dateTimeOrigination");
}

// The CDR file keys are written for a profile that names a folder (out-of-range numbers read as
// their defaults), and a folder cleared is cleared in the file too.
TEST_F(SaveTest, CdrFileKeysOnlyWithAFolderAndClearedWithIt) {
  PutOptions("CdrFileSettleSeconds=-4\r\nCdrFileKeepDays=9999\r\n");
  ProfileSettings s = Load();
  EXPECT_EQ(s.cdr_file_settle_seconds, 30);
  EXPECT_EQ(s.cdr_file_keep_days, 7);
  s.cdr_file_folder = "/var/spool/remoteccm/SITE1/incoming";
  s.cdr_file_keep_days = 0;
  SaveProfile(s, env_);
  EXPECT_EQ(ReadProfileValue(path_, "Options", "CdrFileSettleSeconds"), "30");
  const ProfileSettings back = Load();
  EXPECT_EQ(back.cdr_file_folder, s.cdr_file_folder);
  EXPECT_EQ(back.cdr_file_keep_days, 0);
  s.cdr_file_folder.clear();
  SaveProfile(s, env_);
  EXPECT_TRUE(Load().cdr_file_folder.empty());
}

TEST_F(SaveTest, ShorterListLeavesOldKeysBehindEndAndLongListReadsBack101) {
  ProfileSettings s = Load();
  s.connect_sql = {"a", "b", "c", "d", "e"};
  SaveProfile(s, env_);
  s.connect_sql = {"x", "y"};
  SaveProfile(s, env_);
  EXPECT_EQ(ReadProfileValue(path_, "Options", "ConnectSQL2"), "<end>");
  EXPECT_EQ(ReadProfileValue(path_, "Options", "ConnectSQL4"), "e");
  EXPECT_EQ(Load().connect_sql, (std::vector<std::string>{"x", "y"}));

  s.connect_sql.clear();
  for (int i = 0; i < 150; ++i) s.connect_sql.push_back("line " + std::to_string(i));
  s.connect_sql[3] = "  indented";
  SaveProfile(s, env_);
  EXPECT_EQ(ReadProfileValue(path_, "Options", "ConnectSQL150"), "<end>");
  const ProfileSettings back = Load();
  ASSERT_EQ(back.connect_sql.size(), 101u);
  EXPECT_EQ(back.connect_sql[3], "indented");
}

TEST_F(SaveTest, ALineHoldingLineBreaksIsStoredAsSeparateLines) {
  ProfileSettings s = Load();
  s.connect_sql = {"SELECT *\r\nFROM t\rWHERE 1=1\nORDER BY 1"};
  s.login = "two\r\nLogin=lines";
  SaveProfile(s, env_);
  const ProfileSettings back = Load();
  EXPECT_EQ(back.connect_sql,
            (std::vector<std::string>{"SELECT *", "FROM t", "WHERE 1=1", "ORDER BY 1"}));
  EXPECT_EQ(back.login.find('\n'), std::string::npos);
  EXPECT_NE(back.login, "lines");
}

TEST_F(SaveTest, PathFollowsTheProfileName) {
  ProfileSettings s = Load();
  s.profile_name = "  My.Site  ";
  SaveProfile(s, env_);
  EXPECT_EQ(s.profile_path, (home_ / "My.CCM").string());
  EXPECT_TRUE(ProfileFileExists(home_ / "My.CCM"));

  // A profile loaded from another folder is saved into the home under its name.
  const auto other = home_ / "other";
  std::filesystem::create_directory(other);
  Put(other / "FAR.CCM", "[Options]\r\nLogin=far\r\n");
  s = LoadProfile((other / "FAR.CCM").string(), env_);
  SaveProfile(s, env_);
  EXPECT_EQ(s.profile_path, (home_ / "FAR.CCM").string());

  // A name with a folder keeps it; a blank name writes ".CCM", listed with an empty name.
  s.profile_name = (other / "NEAR.x").string();
  SaveProfile(s, env_);
  EXPECT_TRUE(ProfileFileExists(other / "NEAR.CCM"));
  s.profile_name = "   ";
  SaveProfile(s, env_);
  EXPECT_TRUE(ProfileFileExists(home_ / ".CCM"));
  const ProfileList list = ListProfiles(home_, "");
  EXPECT_NE(std::find(list.names.begin(), list.names.end(), ""), list.names.end());
}

TEST_F(SaveTest, RefusedSaveNamesTheFileAndChangesNothing) {
  PutOptions("Login=old\r\n");
  // Read-only for everyone (on Windows: the read-only attribute).
  std::filesystem::permissions(path_, std::filesystem::perms::owner_read |
                                          std::filesystem::perms::group_read |
                                          std::filesystem::perms::others_read);
  ProfileSettings s = Load();
  s.login = "new";
  try {
    SaveProfile(s, env_);
    FAIL() << "the save went through";
  } catch (const IniWriteError& error) {
    EXPECT_EQ(std::string(error.what()), "Unable to write to " + path_ + ": Permission denied");
  }
  EXPECT_EQ(Get(path_), "[Options]\r\nLogin=old\r\n");

  s.profile_name = (home_ / "no-such-folder" / "SITE2").string();
  EXPECT_THROW(SaveProfile(s, env_), IniWriteError);
}

// The one replacement of a save gives exactly the bytes that writing the keys one by one, each
// through its own read and replacement of the file, gives.
TEST_F(SaveTest, OneReplacementGivesTheBytesOfKeyByKeyWrites) {
  const std::string files[] = {
      "",
      "[Options]",
      "[Options]\r\nLogin=old\r\n",
      // One file's text, split over two lines.
      // NOLINTNEXTLINE(bugprone-suspicious-missing-comma)
      "; made by hand\r\n[Other]\r\nA=1\r\n\r\n[options]\r\n; comment\r\nUnknownKey=kept\r\n"
      "PASSWORD=old\r\n\r\n\r\n[Third]\r\nB=2\r\n",
      "[Options]\nServerName=lf only\nConnectSQL0=a\nConnectSQL1=b\nConnectSQL2=c\n"
      "ConnectSQL3=d\nConnectSQL4=<end>\nSQLNewRecDate=1700000000",
      "[Options]\rLogin=cr only\r[Options]\rLogin=second section\r",
      "[Other]\r\nX=y",
      "junk\0line\r\n[Options]\r\n  login = 'quoted'  \r\nlogin=twice\r\n"s,
  };
  int case_number = 0;
  for (const std::string& file : files) {
    SCOPED_TRACE(case_number++);
    Put(path_, file);
    ProfileSettings s = Load();
    s.login = "new login";
    s.connect_sql = {"x", "", "y"};
    s.phonebook_entry = "Office";
    const std::string by_keys = (home_ / "BYKEYS.CCM").string();
    Put(by_keys, file);
    for (const auto& [key, value] : SavedProfileValues(s, env_)) {
      WriteProfileValue(by_keys, "Options", key, value);
    }
    SaveProfile(s, env_);
    EXPECT_EQ(Get(path_), Get(by_keys));
    std::filesystem::remove(by_keys);
  }
  std::filesystem::remove(path_);
  ProfileSettings s = Load();
  const std::string by_keys = (home_ / "BYKEYS.CCM").string();
  for (const auto& [key, value] : SavedProfileValues(s, env_)) {
    WriteProfileValue(by_keys, "Options", key, value);
  }
  SaveProfile(s, env_);
  EXPECT_EQ(Get(path_), Get(by_keys));
}

}  // namespace
}  // namespace remoteccm
