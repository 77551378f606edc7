#include "companion/socket_companion.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace remoteccm {
namespace {

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

bool TrustedOwner(uid_t owner) { return owner == ::geteuid() || owner == 0; }

// Why the socket at path (which exists) must not be used, or "": it and the folder it lies in
// must belong to this user or root, and nobody else may write the folder (who may, may put a
// socket of their own in its place).
std::string Untrusted(const std::string& path, const struct stat& socket) {
  if (!TrustedOwner(socket.st_uid)) {
    return "the companion socket " + path + " belongs to another user (uid " +
           std::to_string(socket.st_uid) + ")";
  }
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) {
    return "cannot reach the companion socket " + path + ": " + std::strerror(errno);
  }
  const std::string folder = std::filesystem::path(resolved).parent_path().string();
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) {
    return "cannot reach the folder " + folder +
           " of the companion socket: " + std::strerror(errno);
  }
  if (!TrustedOwner(info.st_uid)) {
    return "the folder " + folder + " of the companion socket belongs to another user (uid " +
           std::to_string(info.st_uid) + ")";
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return "the folder " + folder + " of the companion socket may be written by other users";
  }
  return "";
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
                                                                  std::string* problem,
                                                                  std::size_t queue_bytes) {
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
  if (std::string why = Untrusted(path, info); !why.empty()) return tell(std::move(why));
  const int fd = ConnectTo(address);
  if (fd == -ECONNREFUSED || fd == -ENOENT) return nullptr;  // left by a companion that is gone
  if (fd < 0) {
    return tell("cannot connect to the companion at " + path + ": " + std::strerror(-fd));
  }
  FileDescriptor socket(fd);
  FileDescriptor wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake.IsOpen())
    return tell(std::string("cannot start the companion link: ") + std::strerror(errno));
  return std::unique_ptr<SocketCompanionLink>(new SocketCompanionLink(
      std::move(socket), std::move(wake), std::max<std::size_t>(queue_bytes, 1)));
}

SocketCompanionLink::SocketCompanionLink(FileDescriptor socket, FileDescriptor wake,
                                         std::size_t queue_bytes)
    : socket_(std::move(socket)), wake_(std::move(wake)), ring_(queue_bytes) {
  drainer_ = std::thread([this] { Drain(); });
}

SocketCompanionLink::~SocketCompanionLink() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t woken = ::write(wake_.Get(), &one, sizeof one);
  drainer_.join();
}

bool SocketCompanionLink::Open() const {
  std::lock_guard lock(mutex_);
  return !closed_;
}

void SocketCompanionLink::Send(std::string_view text) {
  if (text.empty()) return;
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    if (text.size() > ring_.size() - size_) {
      ++dropped_;  // a line is never cut: it goes whole or not at all
      return;
    }
    const std::size_t tail = (head_ + size_) % ring_.size();
    const std::size_t first = std::min(text.size(), ring_.size() - tail);
    std::memcpy(ring_.data() + tail, text.data(), first);
    std::memcpy(ring_.data(), text.data() + first, text.size() - first);
    wake = size_ == 0 || held_;
    held_ = false;
    size_ += text.size();
  }
  if (wake) changed_.notify_all();
}

long SocketCompanionLink::SendSome(const char* data, std::size_t size) {
  while (true) {
    const ssize_t sent = ::send(socket_.Get(), data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) return sent;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS) return -1;  // gone
    // The companion's side is full: wait until it reads, or until the link is called back.
    pollfd waits[] = {{socket_.Get(), POLLOUT, 0}, {wake_.Get(), POLLIN, 0}};
    if (::poll(waits, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (waits[1].revents != 0) return 0;
    if ((waits[0].revents & (POLLERR | POLLHUP)) != 0) return -1;
  }
}

void SocketCompanionLink::Drain() {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return stopping_ || (size_ > 0 && !held_ && !interrupted_); });
    if (stopping_) return;
    // The producers only ever write into the free part of the ring: this part stays as it is
    // while it is sent without the lock.
    in_flight_ = std::min(size_, ring_.size() - head_);
    const char* data = ring_.data() + head_;
    lock.unlock();
    const long sent = SendSome(data, in_flight_);
    lock.lock();
    in_flight_ = 0;
    if (sent < 0) {
      // The companion went away (or the socket broke): it is dropped without a word.
      closed_ = true;
      size_ = 0;
      counted_ = 0;
      changed_.notify_all();
      return;
    }
    if (sent > 0) {
      const auto done = static_cast<std::size_t>(sent);
      at_line_start_ = data[done - 1] == '\n';
      head_ = (head_ + done) % ring_.size();
      size_ -= done;
      counted_ -= std::min(counted_, done);
    }
    changed_.notify_all();
  }
}

std::uint64_t SocketCompanionLink::DropWaitingLines() {
  std::uint64_t lines = 0;
  for (std::size_t i = counted_; i < size_; ++i) {
    if (ring_[(head_ + i) % ring_.size()] == '\n') ++lines;
  }
  // The rest of a line the companion has a part of stays, held until the next line comes: the
  // companion never sees a line cut by a dropped one.
  std::size_t keep = 0;
  if (!at_line_start_) {
    while (keep < size_ && ring_[(head_ + keep) % ring_.size()] != '\n') ++keep;
    if (keep < size_) ++keep;
  }
  size_ = keep;
  counted_ = keep;
  held_ = keep > 0;
  return lines;
}

std::uint64_t SocketCompanionLink::FinishRun(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, limit, [this] { return size_ == 0 || closed_ || held_; });
  if (!closed_ && size_ > 0 && !held_) {
    // The thread is called back from a send the companion has no room for: what is not sent
    // whole now is missed, also when the program ends before the thread would have sent it.
    interrupted_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t woken = ::write(wake_.Get(), &one, sizeof one);
    changed_.wait(lock, [this] { return in_flight_ == 0; });
    std::uint64_t taken = 0;
    [[maybe_unused]] const ssize_t read = ::read(wake_.Get(), &taken, sizeof taken);
    dropped_ += DropWaitingLines();
    interrupted_ = false;
  }
  const std::uint64_t missed = closed_ ? 0 : dropped_;
  dropped_ = 0;
  return missed;
}

std::unique_ptr<CompanionLink> FindCompanionLink(std::string* problem) {
  std::unique_ptr<CompanionLink> link =
      SocketCompanionLink::Connect(CompanionSocketPath(), problem);
  if (problem != nullptr && !problem->empty()) {
    *problem = "No log line goes to a companion: " + *problem + ".";
  }
  return link;
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
  // Only this user may write to the socket, whatever the umask: a line another user wrote would
  // show in the administrator's view. Nobody can connect before listen(), so the mode is set
  // before anyone can use it.
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ThrowFileError("Cannot create the companion socket", path, errno);
  }
  if (::chmod(path.c_str(), S_IRUSR | S_IWUSR) != 0 || ::listen(fd.Get(), 16) != 0) {
    const int error = errno;
    ::unlink(path.c_str());
    ThrowFileError("Cannot create the companion socket", path, error);
  }
  return fd;
}

}  // namespace remoteccm
