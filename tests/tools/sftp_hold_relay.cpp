// Stands between sftp and ssh (sftp -S) and holds an upload part-way, as an upload from a
// CallManager stalls: the SFTP packets of the client are passed on one by one, and the write
// after the first REMOTECCM_HOLD_WRITES writes waits until someone opens the FIFO
// REMOTECCM_HOLD_RELEASE for writing. Meanwhile the server keeps the file open, as it does for
// a stalled upload. Everything else passes unchanged.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

constexpr unsigned char kSftpWrite = 6;  // SSH_FXP_WRITE
constexpr std::uint32_t kPacketMax = std::uint32_t{1} << 20;

bool ReadExactly(int fd, unsigned char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t got = ::read(fd, data, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

void Pump(int from, int to) {
  unsigned char block[16384];
  for (;;) {
    const ssize_t got = ::read(from, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || !WriteAll(to, block, static_cast<std::size_t>(got))) break;
  }
  ::close(to);
}

void AwaitRelease(const char* fifo) {
  const int fd = ::open(fifo, O_RDONLY | O_CLOEXEC);  // returns once a writer opens it
  if (fd < 0) return;
  unsigned char byte = 0;
  ReadExactly(fd, &byte, 1);
  ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 64;
  const char* writes = std::getenv("REMOTECCM_HOLD_WRITES");
  const char* release = std::getenv("REMOTECCM_HOLD_RELEASE");
  const long hold_after =
      writes != nullptr && release != nullptr ? std::strtol(writes, nullptr, 10) : -1;
  // A test that failed before it released the upload leaves no relay behind for long.
  ::alarm(120);
  int to_ssh[2];
  int from_ssh[2];
  if (::pipe2(to_ssh, O_CLOEXEC) != 0 || ::pipe2(from_ssh, O_CLOEXEC) != 0) return 71;
  const pid_t ssh = ::fork();
  if (ssh < 0) return 71;
  if (ssh == 0) {
    ::dup2(to_ssh[0], STDIN_FILENO);
    ::dup2(from_ssh[1], STDOUT_FILENO);
    argv[0] = const_cast<char*>("ssh");
    ::execvp("ssh", argv);
    ::_exit(127);
  }
  ::close(to_ssh[0]);
  ::close(from_ssh[1]);
  std::thread back([&] { Pump(from_ssh[0], STDOUT_FILENO); });
  long passed = 0;
  std::vector<unsigned char> packet;
  for (;;) {
    unsigned char head[4];
    if (!ReadExactly(STDIN_FILENO, head, sizeof head)) break;
    const std::uint32_t length = (std::uint32_t{head[0]} << 24) | (std::uint32_t{head[1]} << 16) |
                                 (std::uint32_t{head[2]} << 8) | std::uint32_t{head[3]};
    if (length > kPacketMax) break;
    packet.resize(length);
    if (!ReadExactly(STDIN_FILENO, packet.data(), packet.size())) break;
    if (length > 0 && packet[0] == kSftpWrite && passed++ == hold_after) AwaitRelease(release);
    if (!WriteAll(to_ssh[1], head, sizeof head) ||
        !WriteAll(to_ssh[1], packet.data(), packet.size())) {
      break;
    }
  }
  ::close(to_ssh[1]);
  int status = 0;
  ::waitpid(ssh, &status, 0);
  back.join();
  return WIFEXITED(status) ? WEXITSTATUS(status) : 70;
}
