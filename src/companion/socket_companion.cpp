#include "companion/socket_companion.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace remoteccm {
namespace {

// After the socket was full, the link stays quiet this long: the lines in between are lost
// without a system call each, so a companion that does not read costs the run nothing.
constexpr std::chrono::milliseconds kQuietAfterFull{20};

// The socket address of path; false when the path does not fit one.
bool AddressOf(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path ||
      path.find('\0') != std::string::npos) {
    return false;
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

std::string TooLong(const std::string& path) {
  return "the companion socket path " + path + " is longer than a socket path may be (" +
         std::to_string(sizeof(sockaddr_un::sun_path) - 1) + " bytes)";
}

// A connection to path: the descriptor, or -errno.
int ConnectTo(const sockaddr_un& address) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -errno;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    ::close(fd);
    return -error;
  }
  return fd;
}

}  // namespace

std::string CompanionSocketPath() {
  if (const char* given = std::getenv("REMOTECCM_COMPANION"); given != nullptr && *given != '\0') {
    return given;
  }
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime == '\0') return "";
  return std::string(runtime) + "/velmor/companion.sock";
}

std::unique_ptr<SocketCompanionLink> SocketCompanionLink::Connect(const std::string& path,
                                                                  std::string* problem) {
  auto tell = [problem](std::string text) {
    if (problem != nullptr) *problem = std::move(text);
    return nullptr;
  };
  if (problem != nullptr) problem->clear();
  if (path.empty()) return nullptr;
  sockaddr_un address;
  if (!AddressOf(path, address)) return tell(TooLong(path));
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return nullptr;
    return tell("cannot reach the companion socket " + path + ": " + std::strerror(errno));
  }
  if (!S_ISSOCK(info.st_mode)) return tell(path + " is not a socket");
  const int fd = ConnectTo(address);
  if (fd == -ECONNREFUSED || fd == -ENOENT) return nullptr;  // left by a companion that is gone
  if (fd < 0) {
    return tell("cannot connect to the companion at " + path + ": " + std::strerror(-fd));
  }
  return std::unique_ptr<SocketCompanionLink>(new SocketCompanionLink(FileDescriptor(fd)));
}

long SocketCompanionLink::SendSome(std::string_view data) {
  while (true) {
    const ssize_t sent = ::send(fd_.Get(), data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) return sent;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) {
      quiet_until_ = std::chrono::steady_clock::now() + kQuietAfterFull;
      return 0;
    }
    // The companion went away (or the socket broke): it is dropped without a word.
    FileDescriptor closing = std::move(fd_);
    pending_.clear();
    return -1;
  }
}

bool SocketCompanionLink::SendPending() {
  if (pending_.empty()) return true;
  const long sent = SendSome(pending_);
  if (sent < 0) return false;
  pending_.erase(0, static_cast<std::size_t>(sent));
  return pending_.empty();
}

void SocketCompanionLink::Send(std::string_view text) {
  if (!fd_.IsOpen() || text.empty()) return;
  if (quiet_until_ != std::chrono::steady_clock::time_point{} &&
      std::chrono::steady_clock::now() < quiet_until_) {
    ++lost_lines_;
    return;
  }
  quiet_until_ = {};
  if (!SendPending()) {
    ++lost_lines_;
    return;
  }
  const long sent = SendSome(text);
  if (sent < 0) return;
  if (sent == 0) {
    ++lost_lines_;
  } else if (static_cast<std::size_t>(sent) < text.size()) {
    // A line is never cut short on the companion's side: its rest goes before the next one.
    pending_.assign(text.substr(static_cast<std::size_t>(sent)));
  }
}

std::unique_ptr<CompanionLink> FindCompanionLink(std::string* problem) {
  return SocketCompanionLink::Connect(CompanionSocketPath(), problem);
}

FileDescriptor ListenOnCompanionSocket(const std::string& path) {
  sockaddr_un address;
  if (!AddressOf(path, address)) throw FileError(TooLong(path), ENAMETOOLONG);
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty() && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    ThrowFileError("Cannot create the folder", folder, errno);
  }
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) {
      throw FileError(path + " exists and is not a socket: remove it or choose another path",
                      EEXIST);
    }
    const int other = ConnectTo(address);
    if (other >= 0) {
      ::close(other);
      throw FileError("another companion already listens at " + path, EADDRINUSE);
    }
    ::unlink(path.c_str());  // left by a listener that is gone
  }
  FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.IsOpen()) ThrowFileError("Cannot create the companion socket", path, errno);
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd.Get(), 16) != 0) {
    ThrowFileError("Cannot create the companion socket", path, errno);
  }
  return fd;
}

}  // namespace remoteccm
