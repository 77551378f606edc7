#include "support/child_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace remoteccm::testing {

std::vector<StopRequest> StopRequests() {
  return {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}};
}

long ThisProcessId() { return static_cast<long>(::getpid()); }

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& variables,
                           const std::filesystem::path& output, const std::filesystem::path& errors,
                           bool /*stoppable*/) {
  // What the child needs is made before the fork: the child only sets it up and execs.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const std::string out = output.string();
  const std::string err = errors.string();
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (const auto& [name, value] : variables) ::setenv(name.c_str(), value.c_str(), 1);
    FILE* out_file = std::freopen(out.c_str(), "a", stdout);
    // Standard error is kept: a sanitizer's report of a failed run is read from there.
    FILE* err_file = std::freopen(err.c_str(), "a", stderr);
    (void)out_file;
    (void)err_file;
    ::execv(program.c_str(), argv.data());
    ::_exit(kNotStartedStatus);
  }
  if (pid < 0) {
    status_ = kNotStartedStatus;
  } else {
    id_ = pid;
  }
}

ChildProcess::~ChildProcess() {
  if (id_ > 0 && !status_) {
    Kill();
    Wait();
  }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : id_(other.id_), handle_(other.handle_), status_(other.status_) {
  other.id_ = -1;
  other.status_ = kNotStartedStatus;
}

namespace {

int ExitStatusOf(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int ChildProcess::Wait() {
  while (!status_) {
    int status = 0;
    const pid_t got = ::waitpid(id_, &status, 0);
    if (got == id_) {
      status_ = ExitStatusOf(status);
    } else if (got < 0 && errno != EINTR) {
      status_ = -1;  // reaped elsewhere (a test's own waitpid)
    }
  }
  return *status_;
}

std::optional<int> ChildProcess::Ended() {
  if (!status_) {
    int status = 0;
    const pid_t got = ::waitpid(id_, &status, WNOHANG);
    if (got == id_) status_ = ExitStatusOf(status);
    if (got < 0 && errno != EINTR) status_ = -1;
  }
  return status_;
}

void ChildProcess::Kill() {
  if (id_ > 0 && !status_) ::kill(id_, SIGKILL);
}

void ChildProcess::Stop() { Stop(StopRequests().front()); }

void ChildProcess::Stop(const StopRequest& how) {
  if (id_ > 0 && !status_) ::kill(id_, how.code);
}

}  // namespace remoteccm::testing
