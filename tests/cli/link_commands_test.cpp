// remoteccm-cli with links: the companion listener fed by a run, --list-links over the
// stand-in NetworkManager, and a dial-up run where NetworkManager is missing.
#include <fcntl.h>

#include "cli/cli_run_fixture.h"
#include "support/fake_nm.h"

namespace remoteccm {
namespace {

using CliLinksTest = CliRunTest;

std::string WithoutEmptyLines(const std::string& text) {
  std::string kept;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    if (end > at) kept += text.substr(at, end - at) + "\n";
    at = end + 1;
  }
  return kept;
}

TEST_P(CliLinksTest, TheCompanionListenerPrintsEveryLineOfARun) {
  // Few enough lines that the socket holds them all while nobody reads: the collector drops
  // the lines a companion has no room for.
  InsertCalls(40, 60);
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=N\r\n");
  const std::string socket = (home_ / "run" / "companion.sock").string();
  const std::string printed = (home_ / "companion.out").string();
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t listener = ::fork();
  if (listener == 0) {
    ::close(ready[0]);
    ::dup2(ready[1], STDERR_FILENO);
    ::dup2(::open(printed.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
    ::execl(REMOTECCM_CLI_PATH, REMOTECCM_CLI_PATH, "--companion-listen", socket.c_str(), nullptr);
    ::_exit(127);
  }
  ::close(ready[1]);
  // The listener says where it listens once its socket is there.
  std::string said;
  char c;
  while (said.find('\n') == std::string::npos && ::read(ready[0], &c, 1) == 1) said += c;
  ::close(ready[0]);
  ASSERT_EQ(said, "remoteccm-cli: listening at " + socket + " (Ctrl-C ends)\n");

  // The listener is held still through the run and told to stop before it resumes: the
  // lines of a collector it has not even accepted yet are printed before it ends.
  ::kill(listener, SIGSTOP);
  EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_COMPANION", socket}}), 0);
  ::kill(listener, SIGTERM);
  ::kill(listener, SIGCONT);
  EXPECT_EQ(Wait(listener), 0);
  std::ifstream in(printed, std::ios::binary);
  const std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_GT(got.size(), 40u * 20);
  EXPECT_EQ(got, WithoutEmptyLines(Log()));
  EXPECT_FALSE(fs::exists(socket));
}

TEST_P(CliLinksTest, ListLinksAndADialWhereNetworkManagerIsMissing) {
  testing::FakeNetworkManager nm(home_ / "nm");
  nm.Add("vpn", "Office VPN");
  nm.Add("wireguard", "Home WG");
  nm.Add("802-3-ethernet", "Wired");
  fs::create_directories(home_ / "bin");
  fs::create_symlink(testing::FakeNetworkManager::Program(), home_ / "bin" / "nmcli");
  const std::string path = (home_ / "bin").string() + ":" + std::getenv("PATH");
  EXPECT_EQ(Run({"--list-links"}, {{"PATH", path}}), 0);
  EXPECT_EQ(Log(), "Home WG\nOffice VPN\n");
  nm.Stop();
  EXPECT_EQ(Run({"--list-links"}, {{"PATH", path}}), 4);

  fs::remove(home_ / "run.log");
  InsertCalls(3, 60);
  WriteProfile("ConnectSQLMode=All Records\r\nUseDialup=Y\r\nPhonebookEntry=Office VPN \r\n");
  EXPECT_EQ(Run({"SITE"}, {{"PATH", (home_ / "nowhere").string()}}), 4);
  EXPECT_EQ(Log(),
            "Connect using Office VPN\nDialing... \n"
            "Done...NetworkManager is not installed (there is no nmcli).\n");
  EXPECT_EQ(ServerPkids().size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Sqlite, CliLinksTest, ::testing::Values("sqlite"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm
