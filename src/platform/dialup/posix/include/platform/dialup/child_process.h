// Running a helper program (nmcli, the connection editor) without a shell, so that whatever an
// argument holds stays one argument, with standard input from /dev/null, the signals a run
// blocks unblocked in the child, and no descriptor of this process inherited.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace remoteccm {

// This process's environment with each "NAME=value" of settings replacing the variable of
// that name (added when missing), and each "NAME" alone removing it.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& settings);

struct ProgramResult {
  int start_error = 0;  // errno when the program could not be started (ENOENT: not found)
  int exit_code = -1;   // -1 when it ended by a signal
  std::string output;   // standard output
  std::string errors;   // standard error
};

// Runs argv (argv[0] looked up on PATH) with env and waits for it to end.
ProgramResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env);

// A program that runs while the caller goes on; its standard output and error are collected
// together whenever it is polled.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv; 0, or the errno why it could not be started.
  int Start(const std::vector<std::string>& argv, const std::vector<std::string>& env);
  bool Running() const { return pid_ > 0; }
  // Collects what it wrote so far without waiting; true once it has ended.
  bool Poll();
  // Ends it (SIGTERM) and waits for it; nothing when it is not running.
  void Terminate();
  int exit_code() const { return exit_code_; }
  const std::string& output() const { return output_; }

 private:
  void Drain();
  void Reap(int status);

  pid_t pid_ = -1;
  int pipe_ = -1;
  int exit_code_ = -1;
  std::string output_;
};

}  // namespace remoteccm
