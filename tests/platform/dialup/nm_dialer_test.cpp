// The NetworkManager dialer against a stand-in nmcli that the tests control.
#include "platform/dialup/nm_dialer.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "support/fake_nm.h"
#include "support/scratch_dir.h"

namespace remoteccm::testing {
namespace {

class NmDialerTest : public ::testing::Test {
 protected:
  NetworkManagerDialer MakeDialer() { return NetworkManagerDialer(nm_->Programs()); }

  // Polls the dial to its outcome, as the engine does between ticks.
  static DialState Outcome(NetworkManagerDialer& dialer) {
    DialState state;
    while ((state = dialer.State()) == DialState::kPending) ::usleep(1000);
    return state;
  }

  ScratchDir dir_;
  std::unique_ptr<FakeNetworkManager> nm_ = std::make_unique<FakeNetworkManager>(dir_);
};

// Names with quotes, colons, backslashes, a leading "-" or a line break never reach nmcli as
// arguments: the dialer speaks to it in UUIDs only.
TEST_F(NmDialerTest, OddNamesAreListedExactlyAndNeverPassedToNmcli) {
  const std::string quoted = nm_->Add("vpn", "Branch \"VPN\" 'x'");
  const std::string dashed = nm_->Add("wireguard", "-dash:colon\\back --help");
  nm_->Add("gsm", "two\nlines");
  nm_->Add("802-3-ethernet", "Wired");
  NetworkManagerDialer dialer = MakeDialer();

  std::vector<std::string> names;
  ASSERT_EQ(dialer.ListEntries(names), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"-dash:colon\\back --help", "Branch \"VPN\" 'x'"}));

  for (const auto& [name, uuid] : {std::pair{names[0], dashed}, std::pair{names[1], quoted}}) {
    ASSERT_EQ(dialer.Dial({name, "", "", ""}), 0) << name;
    EXPECT_EQ(Outcome(dialer), DialState::kConnected);
    EXPECT_TRUE(nm_->Active(uuid));
    dialer.HangUp();
    EXPECT_FALSE(nm_->Active(uuid));
  }
  // The one that is not a link kind is listed once a profile names it.
  DialParams loaded;
  EXPECT_EQ(dialer.GetDialParams("wired", loaded), 0);
  EXPECT_EQ(loaded.entry_name, "Wired");
  ASSERT_EQ(dialer.ListEntries(names), 0);
  EXPECT_EQ(names.size(), 3u);

  const std::string calls = nm_->Calls();
  for (const char* word : {"Branch", "dash", "lines", "Wired"}) {
    EXPECT_EQ(calls.find(word), std::string::npos) << word << " in\n" << calls;
  }
}

TEST_F(NmDialerTest, GetDialParamsLoadsWhatTheConnectionHoldsAndSetWritesOnlyAChange) {
  const std::string mobile = nm_->Add(
      "gsm", "Mobile", {{"gsm.number", "*99#"}, {"gsm.username", "web"}, {"gsm.password", "pw1"}});
  nm_->Add("vpn", "Office VPN",
           {{"vpn.user-name", "alice"}, {"vpn.secrets", "cert-pass = a, password = s3 cret"}});
  NetworkManagerDialer dialer = MakeDialer();

  DialParams loaded;
  ASSERT_EQ(dialer.GetDialParams(" mobile ", loaded),
            0);  // as a profile keeps it: any case, trimmed
  EXPECT_EQ(loaded.entry_name, "Mobile");
  EXPECT_EQ(loaded.phone_number, "*99#");
  EXPECT_EQ(loaded.user_name, "web");
  EXPECT_EQ(loaded.password, "pw1");
  EXPECT_EQ(dialer.PhoneNumber("Mobile"), "*99#");
  ASSERT_EQ(dialer.GetDialParams("Office VPN", loaded), 0);
  EXPECT_EQ(loaded.user_name, "alice");
  EXPECT_EQ(loaded.password, "s3 cret");

  auto modifies = [&] {
    const std::string calls = nm_->Calls();
    int n = 0;
    for (std::size_t at = 0; (at = calls.find("modify", at)) != std::string::npos; ++at) ++n;
    return n;
  };
  EXPECT_EQ(dialer.SetDialParams("Mobile", DialParams{"", "", "web"}), 0);
  EXPECT_EQ(dialer.SetDialParams("Mobile", DialParams{"", "", ""}), 0);
  EXPECT_EQ(modifies(), 0);
  EXPECT_EQ(dialer.SetDialParams("Mobile", DialParams{"", "", "-new user"}), 0);
  EXPECT_EQ(modifies(), 1);
  EXPECT_EQ(nm_->Field(mobile, "gsm.username"), "-new user");

  // The password reaches NetworkManager in a file, and the file is gone after the dial.
  ASSERT_EQ(dialer.Dial({"Mobile", "", "dial pw", ""}), 0);
  EXPECT_EQ(Outcome(dialer), DialState::kConnected);
  EXPECT_EQ(nm_->PasswordFileSeen(), "gsm.password:dial pw\n");
  EXPECT_EQ(nm_->Calls().find("dial pw"), std::string::npos);
  const std::string calls = nm_->Calls();
  const std::size_t at = calls.find("passwd-file ") + 12;
  EXPECT_FALSE(std::filesystem::exists(calls.substr(at, calls.find(' ', at) - at)));
  dialer.HangUp();
}

// What a run killed during or after its dial left is cleaned up by the next dial: its password
// file (named with the process that made it; one of a process still running is left alone), and
// the link it brought up.
TEST_F(NmDialerTest, WhatAKilledDialLeftIsCleanedUpByTheNext) {
  const std::string mobile = nm_->Add("gsm", "Mobile", {{"gsm.number", "*99#"}});
  const std::filesystem::path runtime = dir_ / "runtime";
  std::filesystem::create_directory(runtime);
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string restore = saved != nullptr ? saved : "";
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const std::filesystem::path stale =
      runtime / ("remoteccm-secrets-" + std::to_string(gone) + "-a");
  const std::filesystem::path live =
      runtime / ("remoteccm-secrets-" + std::to_string(::getppid()) + "-b");
  std::ofstream(stale) << "gsm.password:old\n";
  std::ofstream(live) << "gsm.password:in use\n";

  NetworkManagerDialer dialer = MakeDialer();
  ASSERT_EQ(dialer.Dial({"Mobile", "", "dial pw", ""}), 0);
  EXPECT_EQ(Outcome(dialer), DialState::kConnected);
  EXPECT_EQ(nm_->PasswordFileSeen(), "gsm.password:dial pw\n");
  EXPECT_FALSE(std::filesystem::exists(stale));
  EXPECT_TRUE(std::filesystem::exists(live));
  dialer.HangUp();

  // A run killed with the link up: the next run's dial finds the note of the link it brought
  // up, and its hang-up takes the link down; a link up without a note is someone else's.
  {
    NetworkManagerDialer killed = MakeDialer();
    ASSERT_EQ(killed.Dial({"Mobile", "", "", ""}), 0);
    ASSERT_EQ(Outcome(killed), DialState::kConnected);
  }
  const std::filesystem::path note = runtime / ("remoteccm-link-" + mobile);
  ASSERT_TRUE(std::filesystem::exists(note));
  std::ofstream(note, std::ios::trunc) << gone << "\n";
  NetworkManagerDialer next = MakeDialer();
  ASSERT_EQ(next.Dial({"Mobile", "", "", ""}), 0);
  EXPECT_EQ(Outcome(next), DialState::kConnected);
  next.HangUp();
  EXPECT_FALSE(nm_->Active(mobile));
  EXPECT_FALSE(std::filesystem::exists(note));
  if (saved != nullptr) {
    ::setenv("XDG_RUNTIME_DIR", restore.c_str(), 1);
  } else {
    ::unsetenv("XDG_RUNTIME_DIR");
  }
}

// Each failure gives a code whose words say what happened, in English whatever the locale.
TEST_F(NmDialerTest, FailuresGiveCodesAndPlainWords) {
  struct Case {
    const char* name;
    std::function<void(FakeNetworkManager&, NetworkManagerPrograms&)> setup;
    int code;
    const char* text;
  };
  const Case cases[] = {
      {"no such entry", [](auto&, auto&) {}, Dialer::kNoEntry,
       "There is no NetworkManager connection named \"Nowhere\"."},
      {"not running", [](auto& nm, auto&) { nm.Stop(); }, NetworkManagerDialer::kNotRunning,
       "NetworkManager is not running."},
      {"no system bus", [](auto& nm, auto&) { nm.RemoveSystemBus(); },
       NetworkManagerDialer::kNotRunning,
       "NetworkManager is not running (Could not create NMClient"},
      {"not installed", [](auto&, auto& programs) { programs.nmcli = "/nonexistent/nmcli"; },
       NetworkManagerDialer::kNotInstalled, "NetworkManager is not installed (there is no nmcli)."},
      {"another version", [](auto& nm, auto&) { nm.AnswerInOldFormat(); },
       NetworkManagerDialer::kUnreadable,
       "nmcli answered in a form this program does not understand (connection show: NAME"},
  };
  ::setenv("LC_ALL", "de_DE.UTF-8", 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeNetworkManager nm(dir_ / c.name);
    nm.Add("vpn", "Office");
    NetworkManagerPrograms programs = nm.Programs();
    c.setup(nm, programs);
    NetworkManagerDialer dialer(programs);
    std::vector<std::string> names;
    const int code = dialer.Dial({"Nowhere", "", "", ""});
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(dialer.ErrorText(code).rfind(c.text, 0), 0u) << dialer.ErrorText(code);
    if (c.code != Dialer::kNoEntry) {
      EXPECT_EQ(dialer.ListEntries(names), c.code);
    }
  }

  // An activation NetworkManager refuses after a while: its own words, nothing left active.
  FakeNetworkManager nm(dir_ / "refused");
  const std::string uuid = nm.Add("vpn", "Office");
  nm.SetUp("fail:4:the VPN service stopped unexpectedly");
  NetworkManagerDialer dialer(nm.Programs());
  ASSERT_EQ(dialer.Dial({"Office", "", "", ""}), 0);
  EXPECT_EQ(Outcome(dialer), DialState::kEnded);
  EXPECT_EQ(dialer.LastError(), NetworkManagerDialer::kNmcliFailed + 4);
  EXPECT_EQ(dialer.ErrorText(dialer.LastError()),
            "NetworkManager: Connection activation failed: the VPN service stopped unexpectedly");
  EXPECT_FALSE(nm.Active(uuid));
  ::unsetenv("LC_ALL");

  // No editor to create or edit an entry with; no entry to edit.
  EXPECT_EQ(dialer.CreateEntry(), NetworkManagerDialer::kNoEditor);
  EXPECT_NE(dialer.ErrorText(NetworkManagerDialer::kNoEditor).find("nmtui"), std::string::npos);
  EXPECT_EQ(dialer.EditEntry("Office"), NetworkManagerDialer::kNoEditor);
  EXPECT_EQ(dialer.EditEntry(""), Dialer::kNoEntry);
}

}  // namespace
}  // namespace remoteccm::testing
