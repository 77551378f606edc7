// The companion link on Linux: the companion program listens on a Unix-domain stream socket,
// and each log line goes to it as its bytes and one line feed. The collector finds the socket
// once, as it starts, and never waits for the companion: a line the companion has no room for
// is dropped whole.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "companion/companion_link.h"
#include "util/posix_file.h"

namespace remoteccm {

// The companion's socket: $REMOTECCM_COMPANION when set, else
// $XDG_RUNTIME_DIR/velmor/companion.sock; "" when neither variable is set.
std::string CompanionSocketPath();

class SocketCompanionLink : public CompanionLink {
 public:
  // The link to the companion listening at path; null when none does. problem (when given)
  // says why, unless there is simply nobody listening.
  static std::unique_ptr<SocketCompanionLink> Connect(const std::string& path,
                                                      std::string* problem);
  void Send(std::string_view text) override;
  // Whether the companion is still there (one that went away is dropped for good).
  bool Open() const { return fd_.IsOpen(); }
  std::uint64_t LostLines() const { return lost_lines_; }

 private:
  explicit SocketCompanionLink(FileDescriptor fd) : fd_(std::move(fd)) {}
  // Sends what is left of a line cut short last time; true when nothing is left.
  bool SendPending();
  // Sends what it can of data; -1 once the companion has gone.
  long SendSome(std::string_view data);

  FileDescriptor fd_;
  std::string pending_;  // the rest of a line the socket took only part of
  std::chrono::steady_clock::time_point quiet_until_{};
  std::uint64_t lost_lines_ = 0;
};

// The companion as the program finds it at start-up: the link, or null when none listens.
std::unique_ptr<CompanionLink> FindCompanionLink(std::string* problem = nullptr);

// The listening end at path (remoteccm-cli --companion-listen): its folder is created
// (mode 0700) when missing, a socket left by a listener that is gone is replaced. Throws
// FileError when the socket cannot be made there.
FileDescriptor ListenOnCompanionSocket(const std::string& path);

}  // namespace remoteccm
