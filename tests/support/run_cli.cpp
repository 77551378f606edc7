#include "support/run_cli.h"

#include <stdio.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

namespace remoteccm::testing {

CliResult RunCli(const std::string& env, const std::string& args, bool with_stderr,
                 const std::string& program) {
  const std::string command =
      "env " + env + " '" + program + "' " + args + (with_stderr ? " 2>&1" : " 2>/dev/null");
  CliResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, got);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

int KillRounds(int fallback) {
  const char* text = std::getenv("REMOTECCM_KILL_ROUNDS");
  if (text == nullptr) return fallback;
  char* end = nullptr;
  const long rounds = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && rounds > 0 && rounds < 100000 ? static_cast<int>(rounds)
                                                                      : fallback;
}

std::string HomeVariables(const std::filesystem::path& home) {
  return "REMOTECCM_HOME='" + home.string() + "' REMOTECCM_REGISTRY='" +
         (home / "install.ini").string() + "'";
}

}  // namespace remoteccm::testing
