// Standard output written by a thread of its own, so that a reader who stops reading (a stalled
// journal, a pager left open) never holds up a run that holds the destination's lock. The text
// waits in a bounded queue; when the reader takes nothing for a while, what does not fit is left
// out and counted, and the end of the run waits for the rest only so long. A line costs the run
// a copy into the queue: the writer is woken when the queue was empty or a block has gathered,
// and writes whole blocks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace remoteccm {

class QueuedOutput {
 public:
  using Milliseconds = std::chrono::milliseconds;

  struct Limits {
    std::size_t queue_bytes = 4u << 20;
    // How long the run waits for the reader to take something before it leaves text out, and
    // how long the end waits for a reader that takes nothing.
    Milliseconds stall{1000};
    // How long the end of a stopped run waits for what is queued: a stop ends the run within a
    // second whatever the reader does.
    Milliseconds after_stop{500};
    // How long a line may wait for others to fill a block before it is written anyway.
    Milliseconds gather{50};
  };

  // Writes to the descriptor, which stays the caller's (it is never closed).
  explicit QueuedOutput(int fd) : QueuedOutput(fd, Limits{}) {}
  QueuedOutput(int fd, Limits limits);
  ~QueuedOutput();

  QueuedOutput(const QueuedOutput&) = delete;
  QueuedOutput& operator=(const QueuedOutput&) = delete;

  // Queues one piece of text (a log line with its end); waits for room at most `stall`, and not
  // at all once the reader is known to be stalled or a stop was asked for.
  void Write(std::string_view text);

  // Waits, briefly, until what is queued is written (at once, without gathering a block): the
  // progress line of a terminal must come after the log lines before it.
  void WaitWritten(Milliseconds bound);

  // Safe from any thread: nothing waits for the reader any more.
  void Stop();

  // Ends the writing: waits for the queue to empty while the reader takes it (only `after_stop`
  // once stopped). Whether every byte given reached the descriptor.
  bool Finish();

  // Lines given but never written: left out, or still queued when the writing failed or ended.
  std::int64_t LeftOut() const;
  // The write error that ended the writing (an errno), 0 when none.
  int Error() const;

 private:
  struct State;
  static void WriteAll(const std::shared_ptr<State>& state, Limits limits);

  // Shared with the writing thread, which may outlive this object when it is stuck in a write.
  std::shared_ptr<State> state_;
  Limits limits_;
  std::thread writer_;
  bool finished_ = false;
  bool all_written_ = false;
};

}  // namespace remoteccm
