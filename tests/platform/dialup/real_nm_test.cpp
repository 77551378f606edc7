// The dialer against the real NetworkManager, started for the test on a private bus with its
// connection profiles in a scratch folder and every device left unmanaged.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/dialup/child_process.h"
#include "platform/dialup/nm_dialer.h"
#include "support/scratch_dir.h"

namespace remoteccm::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kDaemon[] = "/usr/sbin/NetworkManager";

class RealNetworkManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kDaemon) || ::getuid() != 0) {
      GTEST_SKIP() << "NetworkManager is not installed or this is not root";
    }
    for (const char* sub : {"conns", "conf.d", "system.d"}) fs::create_directories(dir_ / sub);
    std::ofstream(dir_ / "NM.conf")
        << "[main]\nplugins=keyfile\ndns=none\nrc-manager=unmanaged\n"
           "auth-polkit=false\nno-auto-default=*\n"
           "[keyfile]\npath="
        << (dir_ / "conns").string() << "\nunmanaged-devices=*\n[logging]\nlevel=WARN\n";
    const std::string bus = "unix:path=" + (dir_ / "bus").string();
    ASSERT_EQ(bus_.Start({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + bus,
                          "--print-address"},
                         EnvironmentWith({})),
              0);
    // dbus-daemon prints its address once it listens.
    while (bus_.output().find('\n') == std::string::npos) {
      ASSERT_FALSE(bus_.Poll()) << "dbus-daemon ended: " << bus_.output();
      ::usleep(10000);
    }
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.c_str(), 1);
    ASSERT_EQ(daemon_.Start({kDaemon, "--no-daemon", "--config=" + (dir_ / "NM.conf").string(),
                             "--config-dir=" + (dir_ / "conf.d").string(),
                             "--system-config-dir=" + (dir_ / "system.d").string(),
                             "--intern-config=" + (dir_ / "intern.conf").string(),
                             "--state-file=" + (dir_ / "state").string(),
                             "--pid-file=" + (dir_ / "pid").string()},
                            EnvironmentWith({})),
              0);
    while (Nmcli({"-t", "-f", "RUNNING", "general"}).output != "running\n") {
      if (daemon_.Poll()) GTEST_SKIP() << "NetworkManager cannot run here: " << daemon_.output();
      ::usleep(20000);
    }
  }
  void TearDown() override {
    daemon_.Terminate();
    bus_.Terminate();
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  }

  static ProgramResult Nmcli(std::vector<std::string> args) {
    args.insert(args.begin(), "nmcli");
    return RunProgram(args, EnvironmentWith({"LC_ALL=C"}));
  }
  static void Add(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"connection", "add"};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {"connection.autoconnect", "no"});
    const ProgramResult result = Nmcli(all);
    ASSERT_EQ(result.exit_code, 0) << result.errors;
  }

  testing::ScratchDir dir_;
  ChildProcess bus_;
  ChildProcess daemon_;
};

TEST_F(RealNetworkManagerTest, ListSetStoreDialAndANetworkManagerThatStops) {
  const std::string wg = "rccmwg" + std::to_string(::getpid() % 100000);
  Add({"type", "wireguard", "ifname", wg, "con-name", "Branch \"VPN\" 'x'"});
  Add({"type", "wireguard", "ifname", wg + "b", "con-name", "-dash:colon\\back"});
  Add({"type", "gsm", "ifname", "*", "apn", "internet", "con-name", "two\nlines"});
  Add({"type", "gsm", "ifname", "*", "apn", "internet", "con-name", "Mobile", "gsm.username",
       "web"});
  NetworkManagerDialer dialer;

  std::vector<std::string> names;
  ASSERT_EQ(dialer.ListEntries(names), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"-dash:colon\\back", "Branch \"VPN\" 'x'", "Mobile"}));
  DialParams loaded;
  EXPECT_EQ(dialer.GetDialParams("Nowhere", loaded), Dialer::kNoEntry);
  ASSERT_EQ(dialer.GetDialParams("mobile", loaded), 0);
  EXPECT_EQ(loaded.user_name, "web");
  EXPECT_EQ(dialer.SetDialParams("Mobile", DialParams{"", "", "-new user"}), 0);
  ASSERT_EQ(dialer.GetDialParams("Mobile", loaded), 0);
  EXPECT_EQ(loaded.user_name, "-new user");

  // A link that cannot come up here: NetworkManager's own words, and nothing left active.
  ASSERT_EQ(dialer.Dial({"-dash:colon\\back", "", "", ""}), 0);
  DialState state;
  while ((state = dialer.State()) == DialState::kPending) ::usleep(10000);
  if (state == DialState::kConnected) {
    dialer.HangUp();
  } else {
    EXPECT_EQ(state, DialState::kEnded);
    EXPECT_GT(dialer.LastError(), NetworkManagerDialer::kNmcliFailed);
    EXPECT_EQ(dialer.ErrorText(dialer.LastError()).rfind("NetworkManager: ", 0), 0u)
        << dialer.ErrorText(dialer.LastError());
  }
  EXPECT_EQ(Nmcli({"-t", "-f", "UUID", "connection", "show", "--active"}).output, "");

  daemon_.Terminate();
  const int code = dialer.ListEntries(names);
  EXPECT_EQ(code, NetworkManagerDialer::kNotRunning) << dialer.ErrorText(code);
  EXPECT_EQ(dialer.ErrorText(code), "NetworkManager is not running.");
}

}  // namespace
}  // namespace remoteccm::testing
