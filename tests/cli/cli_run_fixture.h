// remoteccm-cli against a CDR table on a real driver (the SQLite ODBC driver on a scratch file,
// or the test PostgreSQL server), with a profile in a scratch home: runs started, stopped and
// killed as a process, and what they left in the destination and on the server.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
#include "support/scratch_dir.h"

namespace remoteccm {

namespace fs = std::filesystem;

constexpr std::int64_t kFirstDay = 1793491200;  // 2026-11-01 00:00 UTC

class CliRunTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    table_ = "cli_" + std::to_string(::getpid()) + "_" + std::to_string(info->line());
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
  pid_t Start(const std::vector<std::string>& args,
              const std::map<std::string, std::string>& variables = {}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      for (const auto& [name, value] : variables) ::setenv(name.c_str(), value.c_str(), 1);
      ::setenv("REMOTECCM_HOME", home_.c_str(), 1);
      ::setenv("REMOTECCM_REGISTRY", (home_ / "install.ini").c_str(), 1);
      const std::string log = (home_ / "run.log").string();
      FILE* out = std::freopen(log.c_str(), "a", stdout);
      // Standard error is kept: a sanitizer's report of a failed run is read from there.
      const std::string errors = (home_ / "run.err").string();
      FILE* err = std::freopen(errors.c_str(), "a", stderr);
      (void)out;
      (void)err;
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(REMOTECCM_CLI_PATH));
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      ::execv(REMOTECCM_CLI_PATH, argv.data());
      ::_exit(127);
    }
    return pid;
  }
  static int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  int Run(const std::vector<std::string>& args,
          const std::map<std::string, std::string>& variables = {}) {
    return Wait(Start(args, variables));
  }
  // Starts `rounds` runs of args, each killed after a random delay of up to max_delay_ms;
  // returns how many were killed before they ended by themselves.
  int KillRunsAtRandom(const std::vector<std::string>& args, int rounds, unsigned seed,
                       int max_delay_ms) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay_ms(0, max_delay_ms);
    int killed = 0;
    for (int round = 0; round < rounds; ++round) {
      const pid_t pid = Start(args);
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms(random)));
      ::kill(pid, SIGKILL);
      killed += Wait(pid) == 128 + SIGKILL ? 1 : 0;
    }
    return killed;
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
