// The edges of the destination that only POSIX file systems and signals reach: two hard links
// of one destination while a run halts (SIGSTOP) holding it, and a lock file that is a symbolic
// link.
#include <signal.h>
#include <sys/wait.h>

#include "cli_run_fixture.h"

namespace remoteccm {
namespace {

using HostileLinksTest = CliRunTest;

// Two hard links of one destination share one lock; a lock file that is a link to nothing is
// refused, its target never created.
TEST_P(HostileLinksTest, TheLockHoldsEveryNameOfTheFileAndNoLink) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  InsertCalls(50, 60);
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");
  testing::WriteFile(destination_, "");
  const std::string second = (home_ / "SECOND.TXT").string();
  fs::create_hard_link(destination_, second);
  testing::WriteFile(home_ / "OTHER.CCM", "[Options]\r\nDestinationFile=" + second +
                                              "\r\nSQLConnectionString=" + connection_ +
                                              "\r\nSQLTableName=" + table_ +
                                              "\r\nConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");
  testing::ChildProcess first = Start(
      {"SITE"}, {{"REMOTECCM_FAULT_POINT", "ready-noted"}, {"REMOTECCM_FAULT_ACTION", "stop"}});
  int status = 0;
  ASSERT_EQ(::waitpid(first.Id(), &status, WUNTRACED), first.Id());
  ASSERT_TRUE(WIFSTOPPED(status));
  EXPECT_EQ(Run({"OTHER"}), 75);
  ::kill(first.Id(), SIGCONT);
  EXPECT_EQ(first.Wait(), 0);
  ExpectAllOnce(50);

  fs::remove(destination_ + ".lock");
  fs::create_symlink(home_ / "made-by-the-lock", destination_ + ".lock");
  EXPECT_EQ(Run({"SITE"}), 5);
  EXPECT_NE(Log().find("it is a link"), std::string::npos);
  EXPECT_FALSE(fs::exists(home_ / "made-by-the-lock"));
}

INSTANTIATE_TEST_SUITE_P(Drivers, HostileLinksTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm
