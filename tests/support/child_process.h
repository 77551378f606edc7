// A program a test starts as a process of its own (remoteccm-cli, mostly), with its standard
// output and standard error appended to files: waited for, killed, or stopped as its user
// stops it. The POSIX side forks and execs; the Win32 side uses CreateProcessW and the console's
// control events.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace remoteccm::testing {

// The exit status of a killed process: 128 + SIGKILL, as a POSIX shell reports it. On Windows
// a kill is TerminateProcess with that code, as remoteccm-cli's own fault points end it.
inline constexpr int kKilledStatus = 128 + 9;

// The exit status of a program that could not be started.
inline constexpr int kNotStartedStatus = 127;

// A way a user asks a run to stop. POSIX: the signals SIGTERM, SIGINT and SIGHUP; Windows:
// Ctrl-C in the run's console (Wine delivers no Ctrl-Break to another process).
struct StopRequest {
  const char* name;
  int code;  // the signal, or the console control event
};
std::vector<StopRequest> StopRequests();

// This process's id (tests name their tables on a shared server by it).
long ThisProcessId();

class ChildProcess {
 public:
  // Starts program with args, with this process's environment and `variables` set over it;
  // standard input reads nothing. Only a stoppable child can be asked to stop (Stop): on
  // Windows that takes a console of its own, which Wine leaves running when the child is
  // killed before it has started. The others run without one, as a service does.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& variables,
               const std::filesystem::path& output, const std::filesystem::path& errors,
               bool stoppable = false);
  // A child still running is killed and waited for: a failed test leaves no process behind.
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits for its end: its exit status, 128 + the signal that ended it (kKilledStatus for a
  // kill), kNotStartedStatus when it could not be started.
  int Wait();
  // Its exit status once it has ended, without waiting; nothing while it runs.
  std::optional<int> Ended();
  // Ends it at once, as a power cut or a kill ends it.
  void Kill();
  // Asks a stoppable child to stop as its user would (the first of StopRequests() unless
  // told); a stop that cannot be delivered kills it, so that no test waits for ever.
  void Stop();
  void Stop(const StopRequest& how);
  // The process id, for what a platform's own tests send it (SIGSTOP, SIGCONT).
  int Id() const { return id_; }

 private:
  int id_ = -1;
  void* handle_ = nullptr;  // the Win32 process handle; unused on POSIX
  std::optional<int> status_;
};

}  // namespace remoteccm::testing
