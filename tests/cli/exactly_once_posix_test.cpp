// Every record exactly once where a run halts (REMOTECCM_FAULT_ACTION=stop, SIGSTOP) and
// destinations are reached through symbolic links: the POSIX side of exactly_once_test.
#include <signal.h>
#include <sys/wait.h>

#include "cli_run_fixture.h"

namespace remoteccm {
namespace {

using ExactlyOnceTest = CliRunTest;

// A second run on the same destination, whether by the same profile, another profile, a link
// or a relative path, changes nothing while the first one holds it.
TEST_P(ExactlyOnceTest, OverlappingRunsOnOneDestination) {
  InsertCalls(200, 60);
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  fs::create_directories(home_ / "links");
  fs::create_symlink(destination_, home_ / "links" / "CDR-LINK.TXT");
  const std::string relative = fs::relative(destination_, fs::current_path()).string();
  const std::string others[] = {destination_, (home_ / "links" / "CDR-LINK.TXT").string(),
                                relative};
  int round = 0;
  for (const std::string& other : others) {
    SCOPED_TRACE(other);
    // The first run halts with its lines owed and its deletion not committed.
    testing::ChildProcess first = Start(
        {"SITE"}, {{"REMOTECCM_FAULT_POINT", "ready-noted"}, {"REMOTECCM_FAULT_ACTION", "stop"}});
    int status = 0;
    ASSERT_EQ(::waitpid(first.Id(), &status, WUNTRACED), first.Id());
    ASSERT_TRUE(WIFSTOPPED(status));
    const std::string owed = destination_ + ".spool";
    const std::string spool_before = fs::exists(owed) ? std::to_string(fs::file_size(owed)) : "";

    std::ofstream(home_ / "OTHER.CCM", std::ios::binary)
        << "[Options]\r\nDestinationFile=" << other << "\r\nSQLConnectionString=" << connection_
        << "\r\nSQLTableName=" << table_ << "\r\nConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n";
    EXPECT_EQ(Run({round == 0 ? "SITE" : "OTHER"}), 75);
    EXPECT_NE(Log().find("Another run is writing to " + destination_), std::string::npos);
    EXPECT_EQ(fs::exists(owed) ? std::to_string(fs::file_size(owed)) : "", spool_before);

    ::kill(first.Id(), SIGCONT);
    EXPECT_EQ(first.Wait(), 0);
    ExpectEachOnce(200, true);
    ++round;
  }
}

}  // namespace
}  // namespace remoteccm
