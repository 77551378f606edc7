// --companion-listen [PATH]: a companion for a terminal, printing the log lines a collector
// sends, so that an administrator can watch a server's collection.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "companion/socket_companion.h"
#include "util/posix/stop_signal_set.h"
#include "util/stop_signals.h"

namespace remoteccm {

namespace {

// Prints what the collectors connected to the companion socket send, each collector's bytes a
// whole line at a time, so that two at once do not mix.
class CompanionListener {
 public:
  explicit CompanionListener(FileDescriptor listener) : listener_(std::move(listener)) {}

  // Until a stop signal arrives on `signals`, or the output fails.
  void Listen(int signals) {
    while (status_ == kExitOk) {
      std::vector<pollfd> fds = {{signals, POLLIN, 0}, {listener_.Get(), POLLIN, 0}};
      for (const FileDescriptor& client : clients_) fds.push_back({client.Get(), POLLIN, 0});
      if (::poll(fds.data(), fds.size(), -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (fds[0].revents != 0) break;
      if (fds[1].revents & POLLIN) {
        const int fd = ::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) clients_.emplace_back(fd);
      }
      for (std::size_t i = 2; i < fds.size(); ++i) {
        const int fd = fds[i].fd;
        if (fds[i].revents != 0 && ReadFrom(fd) == Read::kClosed) {
          std::erase_if(clients_,
                        [fd](const FileDescriptor& client) { return client.Get() == fd; });
        }
      }
    }
  }

  // Asked to stop: what the collectors have sent is printed first, also from a collector that
  // connected (and may have finished) after the last look at the listening socket.
  void Drain() {
    while (true) {
      pollfd waiting = {listener_.Get(), POLLIN, 0};
      if (::poll(&waiting, 1, 0) != 1) break;
      const int fd = ::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) break;
      clients_.emplace_back(fd);
    }
    for (const FileDescriptor& client : clients_) {
      while (status_ == kExitOk && ReadFrom(client.Get()) == Read::kSome) {
      }
    }
  }

  int status() const { return status_; }

 private:
  enum class Read { kSome, kNothing, kClosed };

  // Prints the whole lines that arrived from fd, and once it closed, the rest.
  Read ReadFrom(int fd) {
    char buffer[65536];
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return Read::kNothing;
    std::string& text = partial_[fd];
    if (got > 0) text.append(buffer, static_cast<std::size_t>(got));
    const std::size_t end = got > 0 ? text.rfind('\n') : text.size();
    if (end != std::string::npos && end > 0) {
      const std::size_t take = got > 0 ? end + 1 : end;
      if (std::fwrite(text.data(), 1, take, stdout) != take || std::fflush(stdout) != 0) {
        status_ = kExitIoError;
      }
      text.erase(0, take);
    }
    if (got > 0) return Read::kSome;
    partial_.erase(fd);
    return Read::kClosed;
  }

  FileDescriptor listener_;
  std::map<int, std::string> partial_;
  std::vector<FileDescriptor> clients_;
  int status_ = kExitOk;
};

}  // namespace

int CompanionListenCommand(const std::string& given_path) {
  const std::string path = given_path.empty() ? CompanionSocketPath() : given_path;
  if (path.empty()) {
    std::fputs(
        "remoteccm-cli: --companion-listen needs a PATH when neither REMOTECCM_COMPANION nor "
        "XDG_RUNTIME_DIR is set\n",
        stderr);
    return kExitUsage;
  }
  // The stop signals end the listening through the poll, so the socket is removed.
  const sigset_t stops = StopSignals();
  BlockStopSignals();
  ::signal(SIGPIPE, SIG_IGN);  // an output that went away ends the listener with status 74
  FileDescriptor signals(::signalfd(-1, &stops, SFD_CLOEXEC));

  FileDescriptor listener;
  try {
    listener = ListenOnCompanionSocket(path);
  } catch (const FileError& e) {
    std::fprintf(stderr, "remoteccm-cli: %s\n", e.what());
    return kExitIoError;
  }
  struct stat bound {};
  const bool have_bound = ::stat(path.c_str(), &bound) == 0;
  std::fprintf(stderr, "remoteccm-cli: listening at %s (Ctrl-C ends)\n", path.c_str());

  CompanionListener listening(std::move(listener));
  listening.Listen(signals.Get());
  listening.Drain();
  // The socket is removed only while it is still the one this listener made.
  struct stat now {};
  if (have_bound && ::stat(path.c_str(), &now) == 0 && now.st_ino == bound.st_ino &&
      now.st_dev == bound.st_dev) {
    ::unlink(path.c_str());
  }
  return listening.status();
}

}  // namespace remoteccm
