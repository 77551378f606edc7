// The companion link on Linux: the companion program listens on a Unix-domain stream socket,
// and each log line goes to it as its bytes and one line feed. The collector finds the socket
// once, as it starts, and only when the socket and its folder belong to the user running it
// (or to root): anyone else's socket would be handed every billing line.
//
// The run never waits for the companion: its lines go into a queue of bounded size that a
// thread of the link empties into the socket as fast as the companion reads. A line that finds
// the queue full is dropped whole and counted; the end of a run gives the companion a moment to
// take what still waits (FinishRun).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "companion/companion_link.h"
#include "util/posix_file.h"

namespace remoteccm {

// The companion's socket: $REMOTECCM_COMPANION when set, else
// $XDG_RUNTIME_DIR/velmor/companion.sock; "" when neither variable is set.
std::string CompanionSocketPath();

class SocketCompanionLink : public CompanionLink {
 public:
  // The lines a run may have waiting for the companion, in bytes.
  static constexpr std::size_t kQueueBytes = std::size_t{4} << 20;

  // The link to the companion listening at path; null when none does or the socket may not be
  // used. problem (when given) says why, unless there is simply nobody listening.
  static std::unique_ptr<SocketCompanionLink> Connect(const std::string& path, std::string* problem,
                                                      std::size_t queue_bytes = kQueueBytes);
  ~SocketCompanionLink() override;
  SocketCompanionLink(const SocketCompanionLink&) = delete;
  SocketCompanionLink& operator=(const SocketCompanionLink&) = delete;

  void Send(std::string_view text) override;
  std::uint64_t FinishRun(std::chrono::milliseconds limit) override;
  // Whether the companion is still there (one that went away is dropped for good).
  bool Open() const;

 private:
  SocketCompanionLink(FileDescriptor socket, FileDescriptor wake, std::size_t queue_bytes);
  // The thread that empties the queue into the socket.
  void Drain();
  // Sends what it can of data, waiting for room; the bytes sent (0 when called back), or -1
  // once the companion has gone.
  long SendSome(const char* data, std::size_t size);
  // At the end of a run, with nothing being sent: drops the waiting lines and returns how
  // many were not counted yet.
  std::uint64_t DropWaitingLines();

  FileDescriptor socket_;
  FileDescriptor wake_;  // an eventfd that calls the thread back from its wait for room
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<char> ring_;     // the queue: size_ bytes from head_ on, wrapping around
  std::size_t head_ = 0;       // the next byte to send
  std::size_t size_ = 0;       // the bytes waiting, the ones being sent included
  std::size_t in_flight_ = 0;  // the first bytes of those, being sent right now
  std::size_t counted_ = 0;    // the first bytes of those, already counted as missed
  bool at_line_start_ = true;  // the byte at head_ begins a line
  bool held_ = false;          // the rest of a cut line waits for the next line
  bool interrupted_ = false;   // FinishRun is counting: nothing is sent meanwhile
  bool closed_ = false;        // the companion went away
  bool stopping_ = false;
  std::uint64_t dropped_ = 0;  // lines lost since the last FinishRun
  std::thread drainer_;
};

// The listening end at path (remoteccm-cli --companion-listen): its folder is created
// (mode 0700) when missing, a socket left by a listener that is gone is replaced, and the
// socket is made mode 0600 whatever the umask. Throws FileError when the socket cannot be made
// there.
FileDescriptor ListenOnCompanionSocket(const std::string& path);

}  // namespace remoteccm
