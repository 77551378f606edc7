// remoteccm-cli against a CDR table on a real driver (the SQLite ODBC driver on a scratch file,
// or the test PostgreSQL server), with a profile in a scratch home: runs started, stopped and
// killed as a process, and what they left in the destination and on the server.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/db/cdr_schema.h"
#include "platform/db/database.h"
#include "platform/db/db_error.h"
#include "support/cdr_database.h"
#include "support/child_process.h"
#include "support/scratch_dir.h"

namespace remoteccm {

namespace fs = std::filesystem;

constexpr std::int64_t kFirstDay = 1793491200;  // 2026-11-01 00:00 UTC

class CliRunTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    table_ = "cli_" + std::to_string(testing::ThisProcessId()) + "_" + std::to_string(info->line());
    connection_ = testing::TestDatabase(GetParam(), home_);
    if (connection_.empty()) return;
    admin_.Connect(connection_, "CDR", "", "");
    testing::CreateCdrTable(admin_, table_);
  }
  void TearDown() override {
    if (admin_.Connected()) admin_.Execute("DROP TABLE IF EXISTS " + table_);
    admin_.Disconnect();
  }

  // Calls with pkids from..n, pkid i ending i * `step` seconds after the first day began.
  void InsertCalls(int n, int step, int from = 1) {
    for (int first = from; first <= n; first += 200) {
      std::string sql = "INSERT INTO " + table_ +
                        " (pkid, dateTimeOrigination, dateTimeDisconnect, callingPartyNumber,"
                        " originalCalledPartyNumber, duration) VALUES ";
      for (int id = first; id < first + 200 && id <= n; ++id) {
        const std::int64_t end = kFirstDay + static_cast<std::int64_t>(id) * step;
        if (id != first) sql += ", ";
        sql += "('" + std::to_string(id) + "', " + std::to_string(end - 60) + ", " +
               std::to_string(end) + ", '2001', '0044123456789', 60)";
      }
      admin_.Execute(sql);
    }
  }

  // One call with pkid `id` that ended at `end`.
  void InsertCallAt(int id, std::int64_t end) {
    admin_.Execute("INSERT INTO " + table_ +
                   " (pkid, dateTimeOrigination, dateTimeDisconnect, callingPartyNumber,"
                   " originalCalledPartyNumber, duration) VALUES ('" +
                   std::to_string(id) + "', " + std::to_string(end - 60) + ", " +
                   std::to_string(end) + ", '2001', '0044123456789', 60)");
  }

  void WriteProfile(const std::string& extra) {
    std::ofstream out(home_ / "SITE.CCM", std::ios::binary);
    out << "[Options]\r\nDestinationFile=" << destination_
        << "\r\nSQLConnectionString=" << connection_ << "\r\nSQLTableName=" << table_
        << "\r\nSQLTimeZoneOption=3\r\nWaitBeforePollingAgain=0\r\n"
        << extra;
  }

  // Starts remoteccm-cli with this home and the given variables; its output goes to a file.
  // A stoppable run can be stopped as its user stops it (ChildProcess::Stop).
  testing::ChildProcess Start(const std::vector<std::string>& args,
                              const std::map<std::string, std::string>& variables = {},
                              bool stoppable = false) {
    std::map<std::string, std::string> all = variables;
    all["REMOTECCM_HOME"] = home_.string();
    all["REMOTECCM_REGISTRY"] = (home_ / "install.ini").string();
    return testing::ChildProcess(REMOTECCM_CLI_PATH, args, all, home_ / "run.log",
                                 home_ / "run.err", stoppable);
  }
  int Run(const std::vector<std::string>& args,
          const std::map<std::string, std::string>& variables = {}) {
    return Start(args, variables).Wait();
  }
  // Starts `rounds` runs of args, each killed after a random delay of up to max_delay_ms;
  // returns how many were killed before they ended by themselves.
  int KillRunsAtRandom(const std::vector<std::string>& args, int rounds, unsigned seed,
                       int max_delay_ms) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay_ms(0, max_delay_ms);
    int killed = 0;
    for (int round = 0; round < rounds; ++round) {
      testing::ChildProcess run = Start(args);
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms(random)));
      run.Kill();
      killed += run.Wait() == testing::kKilledStatus ? 1 : 0;
    }
    return killed;
  }
  // Waits until the run's log holds `text`; fails (the run's log and errors said) when the run
  // ends first.
  void AwaitLog(testing::ChildProcess& run, const std::string& text) {
    while (Log().find(text) == std::string::npos) {
      ASSERT_FALSE(run.Ended().has_value()) << "the run ended first:\n" << Log() << Errors();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  // What the runs wrote to standard error.
  std::string Errors() const { return testing::ReadFile(home_ / "run.err"); }
  std::string Log() const { return testing::ReadFile(home_ / "run.log"); }

  // The pkid of every line of the destination (comma layout: pkid is a column).
  std::map<std::string, int> CollectedPkids() {
    std::map<std::string, int> seen;
    std::ifstream in(destination_, std::ios::binary);
    std::string line;
    const int pkid = CdrColumnIndex("pkid");
    while (std::getline(in, line)) {
      std::size_t at = 0;
      for (int i = 0; i < pkid; ++i) at = line.find(',', at) + 1;
      ++seen[line.substr(at, line.find(',', at) - at)];
    }
    return seen;
  }
  // Each pkid of 1..n: in the destination once; with deletion, in the destination or in the
  // table, not both.
  void ExpectEachOnce(int n, bool deletion) {
    const std::map<std::string, int> collected = CollectedPkids();
    const std::set<std::string> on_server = ServerPkids();
    for (int id = 1; id <= n; ++id) {
      const std::string pkid = std::to_string(id);
      const auto found = collected.find(pkid);
      const int times = found == collected.end() ? 0 : found->second;
      EXPECT_LE(times, 1) << pkid << " written twice";
      if (deletion) {
        EXPECT_EQ(times + static_cast<int>(on_server.count(pkid)), 1) << pkid;
      } else {
        EXPECT_EQ(times, 1) << pkid << " never written";
      }
    }
  }
  // The destination holds n pkids, each once.
  void ExpectAllOnce(int n) {
    const std::map<std::string, int> collected = CollectedPkids();
    EXPECT_EQ(collected.size(), static_cast<std::size_t>(n));
    for (const auto& [pkid, times] : collected) EXPECT_EQ(times, 1) << pkid;
  }
  std::set<std::string> ServerPkids() {
    std::set<std::string> ids;
    DbQuery query(admin_);
    query.AddLine("SELECT pkid FROM " + table_);
    query.Open();
    for (; !query.Eof(); query.Next()) ids.emplace(query.AsString(0));
    return ids;
  }

  testing::ScratchDir home_;
  std::string table_;
  std::string connection_;
  std::string destination_ = (home_ / "CDR.TXT").string();
  DbConnection admin_;
};

}  // namespace remoteccm
