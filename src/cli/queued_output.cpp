#include "cli/queued_output.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "cli/console.h"

namespace remoteccm {
namespace {

// The most the writer hands the descriptor at once, so that room comes back as the reader reads.
constexpr std::size_t kSlice = 64u << 10;

std::int64_t LinesIn(std::string_view text) {
  return static_cast<std::int64_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

struct QueuedOutput::State {
  explicit State(int descriptor) : fd(descriptor) {}

  std::size_t Queued() const { return pending.size() - head; }
  bool Drained() const { return Queued() == 0 && in_flight_lines < 0; }

  const int fd;
  std::mutex mutex;
  std::condition_variable changed;
  std::string pending;  // from `head` on, not yet handed to the writer
  std::size_t head = 0;
  std::int64_t in_flight_lines = -1;  // lines of the slice being written, -1 when none is
  std::uint64_t progress = 0;         // slices written so far
  bool closing = false;
  bool stopped = false;
  bool stalled = false;
  int error = 0;
  std::int64_t left_out = 0;
};

QueuedOutput::QueuedOutput(int fd, Limits limits)
    : state_(std::make_shared<State>(fd)),
      limits_(limits),
      writer_([state = state_] { WriteAll(state); }) {}

QueuedOutput::~QueuedOutput() {
  if (!finished_) Finish();
}

void QueuedOutput::WriteAll(const std::shared_ptr<State>& state) {
  std::unique_lock lock(state->mutex);
  for (;;) {
    state->changed.wait(lock, [&] { return state->Queued() > 0 || state->closing; });
    if (state->Queued() == 0) return;
    const std::size_t size = std::min(kSlice, state->Queued());
    std::string slice = state->pending.substr(state->head, size);
    state->head += size;
    if (state->head * 2 >= state->pending.size()) {
      state->pending.erase(0, state->head);
      state->head = 0;
    }
    state->in_flight_lines = LinesIn(slice);
    lock.unlock();
    const int error = WriteFully(state->fd, slice);
    lock.lock();
    state->in_flight_lines = -1;
    ++state->progress;
    if (error != 0) {
      // What is queued can never be written now; the run goes on without it.
      state->error = error;
      state->left_out +=
          LinesIn(slice) + LinesIn(std::string_view(state->pending).substr(state->head));
      state->pending.clear();
      state->head = 0;
    }
    state->changed.notify_all();
    if (error != 0) return;
  }
}

void QueuedOutput::Write(std::string_view text) {
  State& state = *state_;
  std::unique_lock lock(state.mutex);
  if (state.error != 0 || state.closing) {
    state.left_out += LinesIn(text);
    return;
  }
  // A reader that took half of what waited is reading again.
  if (state.stalled && state.Queued() <= limits_.queue_bytes / 2) state.stalled = false;
  const auto room = [&] {
    return state.Queued() == 0 || state.Queued() + text.size() <= limits_.queue_bytes;
  };
  if (!room() && !state.stalled && !state.stopped) {
    if (!state.changed.wait_for(lock, limits_.stall,
                                [&] { return room() || state.stopped || state.error != 0; })) {
      state.stalled = true;
    }
  }
  if (!room() || state.error != 0) {
    state.left_out += LinesIn(text);
    return;
  }
  state.pending.append(text);
  state.changed.notify_all();
}

void QueuedOutput::WaitWritten(Milliseconds bound) {
  State& state = *state_;
  std::unique_lock lock(state.mutex);
  state.changed.wait_for(lock, bound,
                         [&] { return state.Drained() || state.stopped || state.error != 0; });
}

void QueuedOutput::Stop() {
  {
    const std::lock_guard lock(state_->mutex);
    state_->stopped = true;
  }
  state_->changed.notify_all();
}

bool QueuedOutput::Finish() {
  if (finished_) return all_written_;
  finished_ = true;
  State& state = *state_;
  std::unique_lock lock(state.mutex);
  state.closing = true;
  state.changed.notify_all();
  const auto done = [&] { return state.Drained() || state.error != 0; };
  if (state.stopped) {
    state.changed.wait_for(lock, limits_.after_stop, done);
  } else {
    // As long as the reader takes something, it gets the rest.
    for (;;) {
      const std::uint64_t seen = state.progress;
      if (!state.changed.wait_for(lock, limits_.stall,
                                  [&] { return done() || state.progress != seen; }) ||
          done()) {
        break;
      }
    }
  }
  const bool stuck = !state.Drained() && state.error == 0;
  if (stuck) {
    state.left_out += LinesIn(std::string_view(state.pending).substr(state.head)) +
                      std::max<std::int64_t>(state.in_flight_lines, 0);
    state.pending.clear();
    state.head = 0;
  }
  all_written_ = !stuck && state.error == 0 && state.left_out == 0;
  lock.unlock();
  // A writer stuck in a write to a reader who never reads is left to the process's end.
  if (stuck) {
    writer_.detach();
  } else {
    writer_.join();
  }
  return all_written_;
}

std::int64_t QueuedOutput::LeftOut() const {
  const std::lock_guard lock(state_->mutex);
  return state_->left_out;
}

int QueuedOutput::Error() const {
  const std::lock_guard lock(state_->mutex);
  return state_->error;
}

}  // namespace remoteccm
