// A profile that collects from a CDR file folder, run as remoteccm-cli: killed at each point of
// a file's import while files keep arriving and resends come, every record reaches the
// destination once; a damaged file is named in the status file; --check imports too.
#include <signal.h>

#include <thread>

#include "cli_run_fixture.h"
#include "support/run_cli.h"

namespace remoteccm {
namespace {

class CdrFilesCliTest : public CliRunTest {
 protected:
  virtual fs::path Folder() const { return home_ / "incoming"; }

  // The text of a file of records with pkids from..to, each ending a minute after the one
  // before.
  static std::string FileText(int from, int to) {
    std::string text =
        "\"cdrRecordType\",\"pkid\",\"dateTimeOrigination\",\"dateTimeDisconnect\","
        "\"callingPartyNumber\",\"duration\"\n"
        "INTEGER,UNIQUEIDENTIFIER,INTEGER,INTEGER,VARCHAR(50),INTEGER\n";
    for (int id = from; id <= to; ++id) {
      const std::int64_t end = kFirstDay + static_cast<std::int64_t>(id) * 60;
      text += "1,\"" + std::to_string(id) + "\"," + std::to_string(end - 30) + "," +
              std::to_string(end) + ",\"2001\",30\n";
    }
    return text;
  }
  void PutFile(const std::string& name, int from, int to) {
    fs::create_directories(Folder());
    std::ofstream(Folder() / name, std::ios::binary) << FileText(from, to);
  }
  // Every pkid from..to is in the destination once.
  void ExpectEachOnce(int from, int to) {
    const std::map<std::string, int> collected = CollectedPkids();
    for (int id = from; id <= to; ++id) {
      const auto found = collected.find(std::to_string(id));
      EXPECT_EQ(found == collected.end() ? 0 : found->second, 1) << "pkid " << id;
    }
    EXPECT_EQ(collected.size(), static_cast<std::size_t>(to - from + 1));
  }
  // As the Repository's upload ends: the file appears under its name complete.
  void ArriveFile(const std::string& name, int from, int to) {
    PutFile("." + name, from, to);
    fs::rename(Folder() / ("." + name), Folder() / name);
  }
  void WriteFilesProfile(bool deletion) {
    std::ofstream out(home_ / "SITE.CCM", std::ios::binary);
    out << "[Options]\r\nDestinationFile=" << destination_
        << "\r\nCdrFileFolder=" << Folder().string()
        << "\r\nCdrFileSettleSeconds=0\r\nSQLTimeZoneOption=3\r\nWaitBeforePollingAgain=0\r\n"
        << "PollAgain=Y\r\nSQLNewRecDate=" << kFirstDay
        << "\r\nSQLNewRecIncrValue=10\r\nSQLNewRecIncrMode=day(s)\r\n"
        << (deletion ? "ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n"
                     : "ConnectSQLMode=New Records Only\r\nDeleteRecs=N\r\n");
  }
  void Reset() {
    fs::remove_all(Folder());
    for (const char* name : {"CDR.TXT", "SITE.cdr.sqlite", "SITE.late", "SITE.status"}) {
      fs::remove(home_ / name);
    }
  }
};

// Killed at each point of the second file's import; meanwhile new files arrive, the first
// file is sent again and another file repeats records: each pkid is written once.
TEST_P(CdrFilesCliTest, KilledAtEachPointOfAnImport) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  for (const bool deletion : {true, false}) {
    for (const char* point : {"import-rows", "import-committed", "import-disposed"}) {
      SCOPED_TRACE(std::string(point) + (deletion ? ", deleting" : ", keeping"));
      Reset();
      WriteFilesProfile(deletion);
      PutFile("cdr_C_01_202611010000_1", 1, 40);
      PutFile("cdr_C_01_202611010040_2", 41, 80);
      PutFile("cdr_C_02_202611010080_1", 81, 120);
      EXPECT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", std::string(point) + ":2"}}),
                128 + SIGKILL);
      PutFile("cdr_C_01_202611010000_1", 1, 40);     // the Repository's resend
      PutFile("cdr_C_02_202611010100_2", 100, 150);  // records again, and new ones
      PutFile("cdr_C_01_202611010150_3", 151, 160);
      EXPECT_EQ(Run({"SITE"}), 0) << Log();
      const std::map<std::string, int> collected = CollectedPkids();
      for (int id = 1; id <= 160; ++id) {
        const auto found = collected.find(std::to_string(id));
        EXPECT_EQ(found == collected.end() ? 0 : found->second, 1) << "pkid " << id;
      }
      EXPECT_EQ(collected.size(), 160u);
      for (const fs::directory_entry& entry : fs::directory_iterator(Folder())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("cdr_")) << entry.path();
      }
    }
  }
}

// Killed at random moments while files arrive (every third one a resend of the one before):
// the figures of a long series are printed; REMOTECCM_KILL_ROUNDS sets how many kills.
TEST_P(CdrFilesCliTest, KilledAtRandomMomentsWhileFilesArrive) {
  const int rounds = testing::KillRounds(15);
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  WriteFilesProfile(true);
  std::atomic<bool> stop{false};
  std::atomic<int> last_id{0};
  std::thread writer([&] {
    for (int file = 1; !stop.load(); ++file) {
      const int from = last_id.load() + 1;
      const int to = from + 24;
      ArriveFile("cdr_C_01_" + std::to_string(202611010000 + file) + "_" + std::to_string(file),
                 from, to);
      if (file % 3 == 0) ArriveFile("cdr_C_02_" + std::to_string(file) + "_1", from - 10, to);
      last_id.store(to);
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
  });
  const int killed = KillRunsAtRandom({"SITE"}, rounds, 20261209, 300);
  stop.store(true);
  writer.join();
  ASSERT_EQ(Run({"SITE"}), 0) << Log();
  const std::map<std::string, int> collected = CollectedPkids();
  for (int id = 1; id <= last_id.load(); ++id) {
    const auto found = collected.find(std::to_string(id));
    EXPECT_EQ(found == collected.end() ? 0 : found->second, 1) << "pkid " << id;
  }
  std::printf("%d kills (%d during a run), %d records, %zu collected\n", rounds, killed,
              last_id.load(), collected.size());
}

TEST_P(CdrFilesCliTest, DamagedFileNamedInStatusAndCheckImports) {
  WriteFilesProfile(true);
  PutFile("cdr_C_01_202611010000_1", 1, 5);
  {
    std::ofstream(Folder() / "cdr_C_01_202611010005_2", std::ios::binary)
        << "\"cdrRecordType\",\"pkid\"\nINTEGER,UNIQUEIDENTIFIER\n1,\"6\"\nx,\"7\"\n";
  }
  EXPECT_EQ(Run({"--check", "SITE"}), 0) << Log();
  EXPECT_NE(Log().find("Imported the CDR file cdr_C_01_202611010000_1: 5 records."),
            std::string::npos)
      << Log();
  EXPECT_TRUE(fs::exists(Folder() / "rejected" / "cdr_C_01_202611010005_2"));
  PutFile("cdr_C_01_202611010010_3", 10, 12);
  std::ofstream(Folder() / "cdr_C_01_202611010013_4", std::ios::binary)
      << "\"pkid\"\nINTEGER\n\"x\"\n";
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  EXPECT_EQ(CollectedPkids().size(), 8u);
  const std::string status = testing::ReadFile(home_ / "SITE.status");
  EXPECT_NE(status.find("\"rejected_files\": [\n    \"cdr_C_01_202611010013_4 line 3: "),
            std::string::npos)
      << status;
  // Until someone deals with them, the files in rejected/ are a warning of every run.
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  EXPECT_EQ(Run({"--status", "SITE", "--check-format", "nagios"}), 1) << Log();
  EXPECT_NE(Log().find("damaged CDR files wait in rejected/"), std::string::npos) << Log();
  fs::remove_all(Folder() / "rejected");
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  EXPECT_EQ(Run({"--status", "SITE", "--check-format", "nagios"}), 0) << Log();
}

INSTANTIATE_TEST_SUITE_P(Sqlite, CdrFilesCliTest, ::testing::Values("sqlite"),
                         [](const auto& param_info) { return param_info.param; });

// The push target of a CallManager: a real OpenSSH server (scripts/start-test-sshd, named by
// REMOTECCM_TEST_SFTP) whose SFTP-only user writes into the profile's folder, and the files
// pushed with sftp as the CDR Repository pushes them.
class SftpPushTest : public CdrFilesCliTest {
 protected:
  void SetUp() override {
    CdrFilesCliTest::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    const char* info = std::getenv("REMOTECCM_TEST_SFTP");
    if (info == nullptr || *info == '\0') {
      if (std::getenv("REMOTECCM_REQUIRE_SFTP") != nullptr) FAIL() << "no REMOTECCM_TEST_SFTP";
      GTEST_SKIP() << "no test SFTP server (REMOTECCM_TEST_SFTP)";
    }
    std::ifstream in(info);
    std::string line;
    while (std::getline(in, line)) {
      const std::size_t equals = line.find('=');
      if (equals != std::string::npos) server_[line.substr(0, equals)] = line.substr(equals + 1);
    }
    ASSERT_TRUE(server_.count("folder") && server_.count("remote")) << info;
    folder_ = server_["folder"];
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_)) {
      fs::remove_all(entry.path());
    }
    fs::create_directory(home_ / "stage");
  }
  fs::path Folder() const override { return folder_; }

  // Runs sftp's batch of commands as the Repository's client; true when every one succeeded.
  bool Push(const std::string& commands) {
    const fs::path batch = home_ / "stage" / "batch";
    std::ofstream(batch, std::ios::binary) << commands;
    const std::string command =
        "sftp -q -b '" + batch.string() + "' -i '" + server_["key"] + "' -P " + server_["port"] +
        " -o BatchMode=yes -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null " +
        server_["user"] + "@127.0.0.1 >>'" + (home_ / "sftp.log").string() + "' 2>&1";
    return std::system(command.c_str()) == 0;
  }
  std::string Stage(const std::string& name, const std::string& text) {
    std::ofstream(home_ / "stage" / name, std::ios::binary) << text;
    return (home_ / "stage" / name).string();
  }
  std::string Remote(const std::string& name) { return server_["remote"] + "/" + name; }
  std::string SftpLog() const { return testing::ReadFile(home_ / "sftp.log"); }

  std::map<std::string, std::string> server_;
  fs::path folder_;
};

// A file pushed whole is collected; an upload held half-written (cut inside a line) while a run
// looks is left, and collected once the upload is resumed to its end; the Repository's resend
// adds nothing.
TEST_P(SftpPushTest, PushedFilesAreCollectedOnceAndHalfUploadsLeft) {
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  WriteFilesProfile(true);
  const std::string first = "cdr_StandAloneCluster_01_202611010000_1";
  const std::string second = "cdr_StandAloneCluster_02_202611010001_1";
  const std::string whole = FileText(41, 80);
  const std::string half = whole.substr(0, whole.size() / 2 + 7);
  ASSERT_NE(half.back(), '\n');
  ASSERT_TRUE(Push("put " + Stage(first, FileText(1, 40)) + " " + Remote(first) + "\nput " +
                   Stage("half", half) + " " + Remote(second) + "\n"))
      << SftpLog();
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  ExpectEachOnce(1, 40);
  EXPECT_TRUE(fs::exists(Folder() / second));
  EXPECT_NE(Log().find("The CDR file " + second + " is not complete yet"), std::string::npos)
      << Log();

  // The upload goes on where it stopped, as a resumed transfer does.
  ASSERT_TRUE(Push("reput " + Stage(second, whole) + " " + Remote(second) + "\n")) << SftpLog();
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  ExpectEachOnce(1, 80);

  ASSERT_TRUE(Push("put " + (home_ / "stage" / first).string() + " " + Remote(first) + "\n"))
      << SftpLog();
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  ExpectEachOnce(1, 80);
  EXPECT_NE(Log().find("the file was sent again"), std::string::npos) << Log();
}

INSTANTIATE_TEST_SUITE_P(Sqlite, SftpPushTest, ::testing::Values("sqlite"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm
