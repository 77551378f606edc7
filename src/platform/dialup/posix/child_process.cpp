#include "platform/dialup/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace remoteccm {
namespace {

void CloseIfOpen(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

int ExitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// Starts argv with standard output to out_fd and standard error to err_fd; the pid, or -errno.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int out_fd,
            int err_fd) {
  if (argv.empty()) return -EINVAL;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  envp.reserve(env.size() + 1);
  for (const std::string& setting : env) envp.push_back(const_cast<char*>(setting.c_str()));
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_fd, STDERR_FILENO);
  // A run blocks its stop signals for a watcher thread; the helper must not inherit that.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (const int signal : {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGQUIT}) {
    sigaddset(&defaults, signal);
  }
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int error = ::posix_spawnp(&pid, args[0], &actions, &attr, args.data(), envp.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return error != 0 ? -error : pid;
}

// Appends what fd has to text; false at its end (or on an error other than "nothing yet").
bool ReadSome(int fd, std::string& text) {
  char buffer[4096];
  const ssize_t got = ::read(fd, buffer, sizeof buffer);
  if (got > 0) {
    text.append(buffer, static_cast<std::size_t>(got));
    return true;
  }
  return got < 0 && (errno == EINTR || errno == EAGAIN);
}

}  // namespace

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& settings) {
  auto name_of = [](const std::string& setting) { return setting.substr(0, setting.find('=')); };
  std::vector<std::string> env;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string setting = *entry;
    bool replaced = false;
    for (const std::string& given : settings)
      replaced = replaced || name_of(given) == name_of(setting);
    if (!replaced) env.push_back(setting);
  }
  for (const std::string& given : settings) {
    if (given.find('=') != std::string::npos) env.push_back(given);
  }
  return env;
}

ProgramResult RunProgram(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env) {
  ProgramResult result;
  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    result.start_error = errno;
    return result;
  }
  if (::pipe2(err, O_CLOEXEC) != 0) {
    result.start_error = errno;
    ::close(out[0]);
    ::close(out[1]);
    return result;
  }
  const pid_t pid = Spawn(argv, env, out[1], err[1]);
  ::close(out[1]);
  ::close(err[1]);
  if (pid < 0) {
    result.start_error = -pid;
    ::close(out[0]);
    ::close(err[0]);
    return result;
  }
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* texts[2] = {&result.output, &result.errors};
  int open_count = 2;
  while (open_count > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      if (!ReadSome(fds[i].fd, *texts[i])) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0) ::close(fd.fd);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_code = ExitCodeOf(status);
  return result;
}

ChildProcess::~ChildProcess() { Terminate(); }

int ChildProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  Terminate();
  output_.clear();
  exit_code_ = -1;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return errno;
  const pid_t pid = Spawn(argv, env, ends[1], ends[1]);
  ::close(ends[1]);
  if (pid < 0) {
    ::close(ends[0]);
    return -pid;
  }
  ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
  pid_ = pid;
  pipe_ = ends[0];
  return 0;
}

void ChildProcess::Drain() {
  while (pipe_ >= 0) {
    char buffer[4096];
    const ssize_t got = ::read(pipe_, buffer, sizeof buffer);
    if (got > 0) {
      output_.append(buffer, static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      if (got == 0 || errno != EAGAIN) CloseIfOpen(pipe_);
      return;
    }
  }
}

void ChildProcess::Reap(int status) {
  exit_code_ = ExitCodeOf(status);
  pid_ = -1;
  // What it wrote before it ended is all in the pipe now (unless a grandchild holds it open).
  if (pipe_ >= 0) {
    ::fcntl(pipe_, F_SETFL, ::fcntl(pipe_, F_GETFL) | O_NONBLOCK);
    Drain();
    CloseIfOpen(pipe_);
  }
}

bool ChildProcess::Poll() {
  if (pid_ <= 0) return true;
  Drain();
  int status = 0;
  const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
  if (ended == 0) return false;
  if (ended < 0) status = 0;
  Reap(status);
  return true;
}

void ChildProcess::Terminate() {
  if (pid_ <= 0) {
    CloseIfOpen(pipe_);
    return;
  }
  ::kill(pid_, SIGTERM);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  Reap(status);
}

}  // namespace remoteccm
