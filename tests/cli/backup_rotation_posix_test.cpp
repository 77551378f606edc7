// The shipped logrotate stanza for the backup files, run by the real logrotate while a run has
// its pass's backup file open.
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli_run_fixture.h"

namespace remoteccm {
namespace {

// Every backup file beside `backup` (rotated ones uncompressed), as text.
std::vector<std::string> BackupFiles(const fs::path& backup) {
  std::vector<std::string> texts;
  for (const auto& entry : fs::directory_iterator(backup.parent_path())) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(backup.filename().string())) continue;
    if (name.ends_with(".gz")) {
      const fs::path plain = backup.parent_path() / "unpacked.tmp";
      const std::string command =
          "gzip -dc '" + entry.path().string() + "' >'" + plain.string() + "'";
      EXPECT_EQ(std::system(command.c_str()), 0) << command;
      texts.push_back(testing::ReadFile(plain));
      fs::remove(plain);
    } else {
      texts.push_back(testing::ReadFile(entry.path()));
    }
  }
  return texts;
}

// logrotate renames the backup file while a pass writes to it, twice, with the shipped stanza
// (its folder and user made the test's): every record read is in one of the files, no line is
// torn, and each file that a pass began has its header.
TEST_P(CliRunTest, LogrotateRotatesTheBackupWhileARunWritesIt) {
  const passwd* user = ::getpwuid(::geteuid());
  const group* own_group = ::getgrgid(::getegid());
  ASSERT_TRUE(user != nullptr && own_group != nullptr);
  std::string stanza =
      testing::ReadFile(fs::path(REMOTECCM_SOURCE_DIR) / "packaging" / "logrotate" / "remoteccm");
  const auto replace = [&stanza](const std::string& from, const std::string& to) {
    const std::size_t at = stanza.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    stanza.replace(at, from.size(), to);
  };
  replace("/var/spool/remoteccm/*.BAK", (home_ / "*.BAK").string());
  replace("su remoteccm remoteccm", std::string("su ") + user->pw_name + " " + own_group->gr_name);
  testing::WriteFile(home_ / "logrotate.conf", stanza);
  const std::string rotate = "logrotate -f -s '" + (home_ / "logrotate.state").string() + "' '" +
                             (home_ / "logrotate.conf").string() + "'";

  InsertCalls(20, 60);
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\nSQLBackup=Y\r\n");
  ASSERT_EQ(Run({"SITE"}), 0) << Log();
  InsertCalls(40, 60, 21);
  testing::ChildProcess run = Start(
      {"SITE"}, {{"REMOTECCM_FAULT_POINT", "backup-open"}, {"REMOTECCM_FAULT_ACTION", "stop"}});
  int status = 0;
  ASSERT_EQ(::waitpid(run.Id(), &status, WUNTRACED), run.Id());
  ASSERT_TRUE(WIFSTOPPED(status)) << Log();
  EXPECT_EQ(std::system(rotate.c_str()), 0);
  ::kill(run.Id(), SIGCONT);
  ASSERT_EQ(run.Wait(), 0) << Log();
  InsertCalls(60, 60, 41);
  ASSERT_EQ(Run({"SITE"}), 0) << Log();
  EXPECT_EQ(std::system(rotate.c_str()), 0);

  const fs::path backup = fs::path(destination_).replace_extension(".BAK");
  std::map<std::string, int> read;
  int headers = 0;
  for (const std::string& text : BackupFiles(backup)) {
    EXPECT_TRUE(text.empty() || text.ends_with("\r\n")) << "a file ends inside a line";
    std::istringstream lines(text);
    std::size_t pkid = 0;
    for (std::string line; std::getline(lines, line);) {
      std::vector<std::string> values;
      std::istringstream fields(line);
      for (std::string value; std::getline(fields, value, ',');) values.push_back(value);
      if (line.find(",pkid,") != std::string::npos || line.starts_with("pkid,")) {
        ++headers;
        pkid = static_cast<std::size_t>(std::find(values.begin(), values.end(), "pkid") -
                                        values.begin());
      } else if (pkid < values.size()) {
        ++read[values[pkid]];
      }
    }
  }
  EXPECT_EQ(headers, 2);  // the first run's file and the third run's
  EXPECT_EQ(read.size(), 60u);
  EXPECT_TRUE(ServerPkids().empty());
}

}  // namespace
}  // namespace remoteccm
