#include "cli/console.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string_view>

#include "cli/cli_observer.h"

namespace remoteccm {

void WriteStandardStreamsAsBytes() {}

std::string_view PlatformHelpNotes() {
  return "\n"
         "SIGINT, SIGTERM and SIGHUP stop a run: it ends 6, and nothing it read is lost.\n"
         "\n"
         "Environment: REMOTECCM_HOME (the program home), REMOTECCM_REGISTRY (the install-area\n"
         "store file), REMOTECCM_METRICS_DIR (the metrics folder), REMOTECCM_COMPANION (the\n"
         "companion's socket), XDG_CONFIG_HOME, XDG_RUNTIME_DIR, JOURNAL_STREAM (set by systemd:\n"
         "the log's lines carry their priorities).\n";
}

bool IsTerminal(int fd) { return ::isatty(fd) == 1; }

int TerminalWidth(int fd) {
  winsize size{};
  return ::ioctl(fd, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

int WriteFully(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n > 0) {
      text.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Someone else made the shared descriptor non-blocking: wait for room as a blocking
      // write would.
      pollfd ready{.fd = fd, .events = POLLOUT, .revents = 0};
      while (::poll(&ready, 1, -1) < 0 && errno == EINTR) {
      }
    } else if (n < 0 && errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

void SurviveLostOutput() { ::signal(SIGPIPE, SIG_IGN); }

void EndProcessHere(bool halt) { ::kill(::getpid(), halt ? SIGSTOP : SIGKILL); }

bool SameOpenFile(int fd, int other_fd) {
  struct stat one {};
  struct stat other {};
  return ::fstat(fd, &one) == 0 && ::fstat(other_fd, &other) == 0 && one.st_dev == other.st_dev &&
         one.st_ino == other.st_ino;
}

bool IsJournalStream(int fd) {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  const std::string_view text(stream);
  const std::size_t colon = text.find(':');
  unsigned long long device = 0;
  unsigned long long inode = 0;
  if (colon == std::string_view::npos ||
      std::from_chars(text.data(), text.data() + colon, device).ptr != text.data() + colon ||
      std::from_chars(text.data() + colon + 1, text.data() + text.size(), inode).ptr !=
          text.data() + text.size()) {
    return false;
  }
  struct stat st {};
  return ::fstat(fd, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

}  // namespace remoteccm
