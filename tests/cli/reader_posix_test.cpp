// The call-accounting program's side of a destination: its user, a member of the destination
// folder's group, takes the file away with the shipped take-destination while runs collect,
// in a folder with the mode the package gives it and files made with the units' umask.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>

#include "cli_run_fixture.h"
#include "support/unprivileged.h"

namespace remoteccm {
namespace {

const fs::path kPackaging = fs::path(REMOTECCM_SOURCE_DIR) / "packaging";

// The octal number the first line of `file` matching `pattern` holds in its group 1.
mode_t ShippedMode(const fs::path& file, const std::string& pattern) {
  const std::string text = testing::ReadFile(file);
  std::smatch found;
  EXPECT_TRUE(std::regex_search(text, found, std::regex(pattern))) << file << ": " << pattern;
  return found.empty() ? 0 : static_cast<mode_t>(std::stoul(found[1].str(), nullptr, 8));
}

// The pkid of each line of a comma file, counted; false in `whole` when a line is not ended.
std::map<std::string, int> PkidsIn(const fs::path& file, bool& whole) {
  std::map<std::string, int> seen;
  const std::string text = testing::ReadFile(file);
  whole = text.empty() || text.back() == '\n';
  std::istringstream in(text);
  const int pkid = CdrColumnIndex("pkid");
  for (std::string line; std::getline(in, line);) {
    std::size_t at = 0;
    for (int i = 0; i < pkid; ++i) at = line.find(',', at) + 1;
    ++seen[line.substr(at, line.find(',', at) - at)];
  }
  return seen;
}

// The reader takes the destination as the README says, against runs that hold its lock, that
// were killed with lines owed to it, and that recover them: every record reaches it once, and
// no line is torn.
TEST_P(CliRunTest, TheReaderTakesTheDestinationAwayWithoutLosingALine) {
  if (!testing::RunsAsSuperuser()) GTEST_SKIP() << "the reader's group needs the superuser";
  const fs::path spool = home_ / "spool";
  fs::create_directory(spool);
  fs::permissions(home_, fs::perms::others_exec, fs::perm_options::add);
  const gid_t group = ::getgrnam("nogroup") != nullptr ? ::getgrnam("nogroup")->gr_gid : 65534;
  ASSERT_EQ(::chown(spool.c_str(), 0, group), 0);
  ASSERT_EQ(::chmod(spool.c_str(), ShippedMode(kPackaging / "systemd" / "remoteccm.tmpfiles",
                                               "\\nd /var/spool/remoteccm ([0-7]+) ")),
            0);
  const mode_t umask_before =
      ::umask(ShippedMode(kPackaging / "systemd" / "remoteccm@.service", "\\nUMask=([0-7]+)\\n"));
  destination_ = (spool / "CDR.TXT").string();
  InsertCalls(40, 60);
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");

  const std::string script = (kPackaging / "reader" / "take-destination").string();
  int taken = 0;
  // Runs take-destination as the reader; when it takes the file, the reader can read it.
  const auto take = [&](int expected) {
    const fs::path to = spool / ("taken-" + std::to_string(taken + 1));
    testing::AsUnprivilegedUser([&] {
      const std::string command =
          "sh '" + script + "' '" + destination_ + "' '" + to.string() + "' 2>/dev/null";
      EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), expected) << Log();
      if (expected == 0 && fs::exists(to)) {
        EXPECT_TRUE(std::ifstream(to).good()) << "the reader cannot read " << to;
      }
    });
    if (fs::exists(to)) ++taken;
  };

  take(0);  // nothing yet
  EXPECT_EQ(taken, 0);
  // A run holds the lock from before its first line to after its last.
  testing::ChildProcess held = Start(
      {"SITE"}, {{"REMOTECCM_FAULT_POINT", "spool-durable"}, {"REMOTECCM_FAULT_ACTION", "stop"}});
  int status = 0;
  ASSERT_EQ(::waitpid(held.Id(), &status, WUNTRACED), held.Id());
  ASSERT_TRUE(WIFSTOPPED(status)) << Log();
  take(75);
  ::kill(held.Id(), SIGCONT);
  ASSERT_EQ(held.Wait(), 0) << Log();
  take(0);
  EXPECT_EQ(taken, 1);
  EXPECT_FALSE(fs::exists(destination_));

  // A run killed halfway through its append owes the rest: the file waits for the next run.
  InsertCalls(80, 60, 41);
  EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", "mid-append"}}), testing::kKilledStatus);
  ASSERT_TRUE(fs::exists(destination_));
  take(75);
  ASSERT_EQ(Run({"SITE"}), 0) << Log();
  take(0);
  EXPECT_EQ(taken, 2);
  ::umask(umask_before);

  std::map<std::string, int> all;
  for (int i = 1; i <= taken; ++i) {
    bool whole = false;
    for (const auto& [pkid, times] : PkidsIn(spool / ("taken-" + std::to_string(i)), whole)) {
      all[pkid] += times;
    }
    EXPECT_TRUE(whole) << "taken-" << i << " ends inside a line";
  }
  EXPECT_EQ(all.size(), 80u);
  for (const auto& [pkid, times] : all) EXPECT_EQ(times, 1) << pkid;
  EXPECT_TRUE(ServerPkids().empty());
}

}  // namespace
}  // namespace remoteccm
