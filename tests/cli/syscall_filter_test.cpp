// The scheduled runs' SystemCallFilter= (the unit's own line), applied as systemd applies it
// (a seccomp filter that kills the process at any other system call): a run on each driver,
// with a dial-up link brought up through nmcli, works under it.
#include <dlfcn.h>
#include <errno.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_run_fixture.h"
#include "support/fake_nm.h"

namespace remoteccm {
namespace {

// The system calls of a filter set, nested sets expanded, as systemd-analyze lists them; empty
// without systemd-analyze.
std::set<std::string> FilterSet(const std::string& wanted) {
  std::map<std::string, std::vector<std::string>> sets;
  FILE* pipe = ::popen("systemd-analyze syscall-filter 2>/dev/null", "r");
  if (pipe == nullptr) return {};
  std::string current;
  char line[256];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (text.starts_with("@")) {
      current = text;
    } else if (const std::size_t at = text.find_first_not_of(' ');
               at != std::string::npos && at > 0 && text[at] != '#' && !current.empty()) {
      sets[current].push_back(text.substr(at));
    }
  }
  ::pclose(pipe);
  std::set<std::string> calls;
  std::set<std::string> seen;
  std::vector<std::string> todo = {wanted};
  while (!todo.empty()) {
    const std::string name = todo.back();
    todo.pop_back();
    if (!seen.insert(name).second) continue;
    for (const std::string& member : sets[name]) {
      if (member.starts_with("@")) {
        todo.push_back(member);
      } else {
        calls.insert(member);
      }
    }
  }
  return calls;
}

// Loads a filter that allows `calls` and kills the process at any other, through libseccomp
// looked up at run time (the build needs none of its headers). False when it cannot.
bool LoadFilter(const std::set<std::string>& calls) {
  constexpr std::uint32_t kKillProcess = 0x80000000U;  // SCMP_ACT_KILL_PROCESS
  constexpr std::uint32_t kAllow = 0x7fff0000U;        // SCMP_ACT_ALLOW
  void* library = ::dlopen("libseccomp.so.2", RTLD_NOW);
  if (library == nullptr) return false;
  using Init = void* (*)(std::uint32_t);
  using Resolve = int (*)(const char*);
  using RuleAdd = int (*)(void*, std::uint32_t, int, unsigned int, ...);
  using Load = int (*)(void*);
  const auto init = reinterpret_cast<Init>(::dlsym(library, "seccomp_init"));
  const auto resolve = reinterpret_cast<Resolve>(::dlsym(library, "seccomp_syscall_resolve_name"));
  const auto rule_add = reinterpret_cast<RuleAdd>(::dlsym(library, "seccomp_rule_add"));
  const auto load = reinterpret_cast<Load>(::dlsym(library, "seccomp_load"));
  if (init == nullptr || resolve == nullptr || rule_add == nullptr || load == nullptr) return false;
  void* filter = init(kKillProcess);
  if (filter == nullptr) return false;
  for (const std::string& call : calls) {
    const int number = resolve(call.c_str());
    // Calls of other architectures resolve to nothing here, as systemd skips them.
    if (number >= 0) rule_add(filter, kAllow, number, 0U);
  }
  return load(filter) == 0;
}

// The sets the unit's SystemCallFilter= lines allow.
std::vector<std::string> UnitFilterSets() {
  std::ifstream unit(REMOTECCM_SOURCE_DIR "/packaging/systemd/remoteccm@.service");
  std::vector<std::string> sets;
  for (std::string line; std::getline(unit, line);) {
    if (!line.starts_with("SystemCallFilter=")) continue;
    std::istringstream words(line.substr(line.find('=') + 1));
    for (std::string word; words >> word;) sets.push_back(word);
  }
  return sets;
}

using CliSyscallFilterTest = CliRunTest;

TEST_P(CliSyscallFilterTest, ARunWorksUnderTheUnitsFilter) {
  const std::vector<std::string> sets = UnitFilterSets();
  ASSERT_FALSE(sets.empty()) << "the unit has no SystemCallFilter=";
  std::set<std::string> calls;
  for (const std::string& set : sets) {
    ASSERT_TRUE(set.starts_with("@")) << "only allowed sets are understood here: " << set;
    const std::set<std::string> members = FilterSet(set);
    if (members.empty()) GTEST_SKIP() << "systemd-analyze cannot list " << set;
    calls.insert(members.begin(), members.end());
  }
  if (::dlopen("libseccomp.so.2", RTLD_NOW) == nullptr) GTEST_SKIP() << "no libseccomp";
  testing::FakeNetworkManager nm(home_ / "nm");
  nm.Add("vpn", "Office VPN");
  fs::create_directories(home_ / "bin");
  fs::create_symlink(testing::FakeNetworkManager::Program(), home_ / "bin" / "nmcli");
  InsertCalls(5, 60);
  WriteProfile(
      "ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\nUseDialup=Y\r\n"
      "PhonebookEntry=Office VPN\r\n");
  std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";

  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::setenv("REMOTECCM_HOME", home_.c_str(), 1);
    ::setenv("REMOTECCM_REGISTRY", (home_ / "install.ini").c_str(), 1);
    ::setenv("PATH", ((home_ / "bin").string() + ":" + std::getenv("PATH")).c_str(), 1);
    // The leak checker of a sanitizer build stops the process with ptrace at its end, which no
    // service filter allows; the program's own calls are what is tested.
    ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    if (std::freopen((home_ / "run.log").c_str(), "w", stdout) == nullptr) ::_exit(126);
    if (!LoadFilter(calls)) ::_exit(125);
    ::execl(REMOTECCM_CLI_PATH, REMOTECCM_CLI_PATH, "SITE", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status) << "\n" << Log();
  ASSERT_NE(WEXITSTATUS(status), 125) << "the filter could not be loaded";
  EXPECT_EQ(WEXITSTATUS(status), 0) << Log();
  EXPECT_NE(nm.Calls().find("connection up"), std::string::npos) << nm.Calls();
  EXPECT_EQ(CollectedPkids().size(), 5u);
  EXPECT_TRUE(ServerPkids().empty());
}

INSTANTIATE_TEST_SUITE_P(Drivers, CliSyscallFilterTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm
