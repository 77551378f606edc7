// A run with UseDialup=Y over the NetworkManager dialer (a stand-in nmcli the test controls),
// forwarding its log to a companion on a Unix socket.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <functional>

#include "companion/socket_companion.h"
#include "retrieval/engine_fixture.h"
#include "support/fake_nm.h"

namespace remoteccm::testing {
namespace {

class EngineLinksTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    nm_ = std::make_unique<FakeNetworkManager>(dir_ / "nm");
    uuid_ = nm_->Add("vpn", "Office VPN");
    for (int i = 1; i <= 5; ++i)
      calls_.push_back({i, now_ - 3600 + i, now_ - 3000 + i, "100", "200", 60});
    Insert(calls_);
    Set("ConnectSQLMode", "All Records");
    Set("DeleteRecs", "N");
    Set("UseDialup", "Y");
    Set("PhonebookEntry", "Office VPN ");
    listener_ = ListenOnCompanionSocket((dir_ / "c.sock").string());
    link_ = SocketCompanionLink::Connect((dir_ / "c.sock").string(), nullptr);
    companion_ = FileDescriptor(::accept(listener_.Get(), nullptr, nullptr));
    dialer_nm_ = std::make_unique<NetworkManagerDialer>(nm_->Programs());
    clock_.Restart(static_cast<double>(now_));
    engine_ = std::make_unique<Engine>(env_, observer_, clock_, *dialer_nm_, link_.get());
  }

  // What reached the companion by the end of the run.
  std::string Received() {
    EXPECT_EQ(link_->FinishRun(kCompanionFlushLimit), 0u);
    std::string text;
    char buffer[65536];
    ssize_t got;
    while ((got = ::recv(companion_.Get(), buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
      text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
  }

  bool Logged(const std::string& line) const {
    return std::find(observer_.log.begin(), observer_.log.end(), line) != observer_.log.end();
  }

  std::unique_ptr<FakeNetworkManager> nm_;
  std::string uuid_;
  std::vector<Call> calls_;
  FileDescriptor listener_;
  std::unique_ptr<SocketCompanionLink> link_;
  FileDescriptor companion_;
  std::unique_ptr<NetworkManagerDialer> dialer_nm_;
};

TEST_P(EngineLinksTest, TheLinkComesUpBeforeTheDatabaseAndGoesDownAfter) {
  struct Case {
    const char* name;
    std::function<void()> prepare;
    // Called at each pump with the count so far.
    std::function<void(int)> on_pump;
    RunStatus status;
    const char* line;  // a line the log must hold
    bool transferred;
    bool active_after;
  };
  const Case cases[] = {
      {"connected", [] {}, [](int) {}, RunStatus::kSuccess, "Done...Success", true, false},
      {"refused at once", [this] { nm_->Stop(); }, [](int) {}, RunStatus::kConnectionFailed,
       "Done...NetworkManager is not running.", false, false},
      {"error after a while", [this] { nm_->SetUp("hold"); },
       [this](int pumps) {
         if (pumps == 3) nm_->Release("fail:4:the VPN service stopped unexpectedly");
       },
       // The poll cycle runs all the same: here the database needs no link.
       RunStatus::kSuccess,
       "NetworkManager: Connection activation failed: the VPN service stopped unexpectedly", true,
       false},
      {"disconnected during the run", [] {},
       [this](int) {
         if (observer_.running) nm_->Drop(uuid_);
       },
       RunStatus::kSuccess, "The link Office VPN went down during the run.", true, false},
      {"cancelled", [this] { nm_->SetUp("hold"); },
       [this](int pumps) {
         if (pumps == 3) engine_->RequestAbort();
       },
       RunStatus::kAborted, "Done...Success", false, false},
      {"already up", [this] { nm_->SetActive(uuid_, "activated"); }, [](int) {},
       RunStatus::kSuccess, "The link Office VPN was already up; it stays up after the run.", true,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    nm_ = std::make_unique<FakeNetworkManager>(dir_ / c.name);
    uuid_ = nm_->Add("vpn", "Office VPN");
    dialer_nm_ = std::make_unique<NetworkManagerDialer>(nm_->Programs());
    engine_ = std::make_unique<Engine>(env_, observer_, clock_, *dialer_nm_, link_.get());
    std::filesystem::remove(destination_);
    c.prepare();
    observer_ = RecordingObserver();
    int pumps = 0;
    observer_.on_pump = [&] { c.on_pump(++pumps); };

    EXPECT_EQ(engine_->RunProfile(profile_path_), c.status);
    EXPECT_EQ(observer_.log[0], "Connect using Office VPN");
    EXPECT_EQ(observer_.log[1], "Dialing... ");
    EXPECT_TRUE(Logged(c.line)) << ::testing::PrintToString(observer_.log);
    EXPECT_EQ(DestinationLines().size(), c.transferred ? calls_.size() : 0u);
    EXPECT_EQ(nm_->Active(uuid_), c.active_after);
    // Only the activation this run made is taken down, by its own path.
    const bool took_down = nm_->Calls().find("connection down") != std::string::npos;
    EXPECT_EQ(took_down,
              std::string(c.name) != "already up" && c.status != RunStatus::kConnectionFailed);

    // The companion saw every non-empty line of the run, in order, each with one line feed.
    std::string expected;
    for (const std::string& line : observer_.log) {
      if (!line.empty()) expected += line + "\n";
    }
    EXPECT_EQ(Received(), expected);
  }
}

// Runs leave no descriptor behind: not the dialer's helpers, not the companion's socket.
TEST_P(EngineLinksTest, RunsLeaveNoDescriptorBehind) {
  auto open_descriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
  };
  ASSERT_EQ(engine_->RunProfile(profile_path_), RunStatus::kSuccess);
  const auto before = open_descriptors();
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(engine_->RunProfile(profile_path_), RunStatus::kSuccess);
    Received();
  }
  EXPECT_EQ(open_descriptors(), before);
  EXPECT_TRUE(link_->Open());
}

INSTANTIATE_TEST_SUITE_P(Sqlite, EngineLinksTest, ::testing::Values("sqlite"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm::testing
