// Runs the built remoteccm-cli through the shell and captures its output and exit status.
#pragma once

#include <filesystem>
#include <string>

namespace remoteccm::testing {

struct CliResult {
  int status = -1;
  std::string out;
};

// env: "NAME='value' ..." for the child; args as on a command line; the output is standard
// output, with standard error too when with_stderr is set.
CliResult RunCli(const std::string& env, const std::string& args, bool with_stderr,
                 const std::string& program = REMOTECCM_CLI_PATH);

// How many kills a random-kill test makes: REMOTECCM_KILL_ROUNDS, else `fallback` (also for a
// value that is not a positive number).
int KillRounds(int fallback);

// The env of RunCli for a child whose program home is `home`, with its install store there.
std::string HomeVariables(const std::filesystem::path& home);

}  // namespace remoteccm::testing
