#include "cli/queued_output.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "cli/console.h"

namespace remoteccm {
namespace {

// The most the writer hands the descriptor at once, so that room comes back as the reader reads.
constexpr std::size_t kSlice = 256u << 10;

std::int64_t LinesIn(std::string_view text) {
  return static_cast<std::int64_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

struct QueuedOutput::State {
  // What the writer waits for, so that a line wakes it only when that line is what it waits for.
  enum class Writer { kBusy, kWaitsForText, kWaitsForBlock };

  State(int descriptor, std::size_t block_bytes) : fd(descriptor), block(block_bytes) {}

  std::size_t Queued() const { return pending.size() - head; }
  bool Drained() const { return Queued() == 0 && !writing; }
  // Someone waits for the queued text: it is written without gathering a block first.
  bool Hurried() const { return closing || stopped || room_wanted || hurry > 0; }
  // Whether the text just queued is what the writer waits for (it is woken then, and only then).
  bool WriterWantsQueue() const {
    return writer == Writer::kWaitsForText ||
           (writer == Writer::kWaitsForBlock && Queued() >= block);
  }

  const int fd;
  const std::size_t block;  // the writer waits for this much before it writes, unless hurried
  std::mutex mutex;
  std::condition_variable wake_writer;  // text, a hurry or the end for the writer
  std::condition_variable written;      // the writer took a slice, failed, or a stop came
  std::string pending;                  // from `head` on, not yet handed to the writer
  std::size_t head = 0;
  std::string in_flight;  // the slice being written; its lines are counted only when left out
  bool writing = false;
  std::uint64_t progress = 0;  // slices written so far
  Writer writer = Writer::kBusy;
  int hurry = 0;             // callers waiting in WaitWritten
  bool room_wanted = false;  // Write waits for room
  bool closing = false;
  bool stopped = false;
  bool stalled = false;
  int error = 0;
  std::int64_t left_out = 0;
};

QueuedOutput::QueuedOutput(int fd, Limits limits)
    : state_(
          std::make_shared<State>(fd, std::clamp<std::size_t>(limits.queue_bytes / 2, 1, kSlice))),
      limits_(limits),
      writer_([state = state_, limits] { WriteAll(state, limits); }) {}

QueuedOutput::~QueuedOutput() {
  if (!finished_) Finish();
}

void QueuedOutput::WriteAll(const std::shared_ptr<State>& state, Limits limits) {
  using Writer = State::Writer;
  std::unique_lock lock(state->mutex);
  for (;;) {
    while (state->Queued() == 0 && !state->closing) {
      state->writer = Writer::kWaitsForText;
      state->wake_writer.wait(lock);
    }
    if (state->Queued() == 0) {
      state->writer = Writer::kBusy;
      return;
    }
    // Lines come one at a time: one write for a block of them, unless someone waits for them.
    const auto until = std::chrono::steady_clock::now() + limits.gather;
    while (state->Queued() < state->block && !state->Hurried()) {
      state->writer = Writer::kWaitsForBlock;
      if (state->wake_writer.wait_until(lock, until) == std::cv_status::timeout) break;
    }
    state->writer = Writer::kBusy;
    const std::size_t size = std::min(kSlice, state->Queued());
    state->in_flight.assign(state->pending, state->head, size);
    state->head += size;
    if (state->head * 2 >= state->pending.size()) {
      state->pending.erase(0, state->head);
      state->head = 0;
    }
    state->writing = true;
    lock.unlock();
    // Nothing else touches the slice until the lock is taken again.
    const int error = WriteFully(state->fd, state->in_flight);
    lock.lock();
    state->writing = false;
    ++state->progress;
    if (error != 0) {
      // What is queued can never be written now; the run goes on without it.
      state->error = error;
      state->left_out +=
          LinesIn(state->in_flight) + LinesIn(std::string_view(state->pending).substr(state->head));
      state->pending.clear();
      state->head = 0;
    }
    state->written.notify_all();
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
    state.room_wanted = true;
    state.wake_writer.notify_one();
    if (!state.written.wait_for(lock, limits_.stall,
                                [&] { return room() || state.stopped || state.error != 0; })) {
      state.stalled = true;
    }
    state.room_wanted = false;
  }
  if (!room() || state.error != 0) {
    state.left_out += LinesIn(text);
    return;
  }
  state.pending.append(text);
  if (state.WriterWantsQueue()) {
    state.writer = State::Writer::kBusy;  // woken once, however many lines follow
    lock.unlock();
    state.wake_writer.notify_one();
  }
}

void QueuedOutput::WaitWritten(Milliseconds bound) {
  State& state = *state_;
  std::unique_lock lock(state.mutex);
  ++state.hurry;
  state.wake_writer.notify_one();
  state.written.wait_for(lock, bound,
                         [&] { return state.Drained() || state.stopped || state.error != 0; });
  --state.hurry;
}

void QueuedOutput::Stop() {
  {
    const std::lock_guard lock(state_->mutex);
    state_->stopped = true;
  }
  state_->wake_writer.notify_all();
  state_->written.notify_all();
}

bool QueuedOutput::Finish() {
  if (finished_) return all_written_;
  finished_ = true;
  State& state = *state_;
  std::unique_lock lock(state.mutex);
  state.closing = true;
  state.wake_writer.notify_all();
  const auto done = [&] { return state.Drained() || state.error != 0; };
  if (state.stopped) {
    state.written.wait_for(lock, limits_.after_stop, done);
  } else {
    // As long as the reader takes something, it gets the rest.
    for (;;) {
      const std::uint64_t seen = state.progress;
      if (!state.written.wait_for(lock, limits_.stall,
                                  [&] { return done() || state.progress != seen; }) ||
          done()) {
        break;
      }
    }
  }
  const bool stuck = !state.Drained() && state.error == 0;
  if (stuck) {
    state.left_out += LinesIn(std::string_view(state.pending).substr(state.head)) +
                      (state.writing ? LinesIn(state.in_flight) : 0);
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
