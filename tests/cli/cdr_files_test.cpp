// A profile that collects from a CDR file folder, run as remoteccm-cli: killed at each point of
// a file's import while files keep arriving and resends come, every record reaches the
// destination once; a damaged file is named in the status file; --check imports too.
#include <thread>

#include "cdr_files_fixture.h"
#include "support/run_cli.h"

namespace remoteccm {
namespace {

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
                testing::kKilledStatus);
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
  EXPECT_TRUE(fs::exists(home_ / "SITE.rejected" / "cdr_C_01_202611010005_2"));
  PutFile("cdr_C_01_202611010010_3", 10, 12);
  std::ofstream(Folder() / "cdr_C_01_202611010013_4", std::ios::binary)
      << "\"pkid\"\nINTEGER\n\"x\"\n";
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  EXPECT_EQ(CollectedPkids().size(), 8u);
  const std::string status = testing::ReadFile(home_ / "SITE.status");
  EXPECT_NE(status.find("\"rejected_files\": [\n    \"cdr_C_01_202611010013_4 line 3: "),
            std::string::npos)
      << status;
  // Until someone deals with them, the files set aside are a warning of every run.
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  EXPECT_EQ(Run({"--status", "SITE", "--check-format", "nagios"}), 1) << Log();
  EXPECT_NE(Log().find("damaged CDR files wait in the rejected folder"), std::string::npos)
      << Log();
  fs::remove_all(home_ / "SITE.rejected");
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  EXPECT_EQ(Run({"--status", "SITE", "--check-format", "nagios"}), 0) << Log();
}

INSTANTIATE_TEST_SUITE_P(Sqlite, CdrFilesCliTest, ::testing::Values("sqlite"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm
