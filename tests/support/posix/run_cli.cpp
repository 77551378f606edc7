#include "support/run_cli.h"

#include <stdio.h>
#include <sys/wait.h>

#include <cstdio>

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

}  // namespace remoteccm::testing
