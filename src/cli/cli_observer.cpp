#include "cli/cli_observer.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <utility>

namespace remoteccm {
namespace {

constexpr std::string_view kEraseLine = "\r\033[K";

bool IsTerminal(std::FILE* file) { return ::isatty(::fileno(file)) == 1; }

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

CliObserver::CliObserver()
    : CliObserver(
          Output{.err_is_terminal = IsTerminal(stderr), .out_is_terminal = IsTerminal(stdout)}) {}

CliObserver::CliObserver(Output output) : out_(std::move(output)) {}

CliObserver::~CliObserver() { Erase(); }

void CliObserver::LogLine(std::string_view line) {
  if (out_.out_is_terminal) Erase();
  std::fwrite(line.data(), 1, line.size(), out_.out);
  std::fputc('\n', out_.out);
  Changed();
}

void CliObserver::SetStatus1(std::string_view text) {
  if (!text.empty()) status_ = text;
  Changed();
}

void CliObserver::SetStatus2(std::string_view text) {
  if (StartsWith(text, "Retrieving")) {
    earlier_passes_ += pass_records_;
    pass_records_ = 0;
    ++pass_;
    pass_start_ = out_.now();
  }
  if (!text.empty()) status_ = text;
  Changed();
}

void CliObserver::SetProgress(int position) {
  percent_ = position;
  Changed();
}

void CliObserver::ShowProgress(bool shown) {
  percent_shown_ = shown;
  Changed();
}

void CliObserver::SetRunning(bool running) {
  if (!running) Erase();
}

void CliObserver::ShowConnectionError(std::string_view message) {
  Erase();
  std::fprintf(out_.err, "remoteccm-cli: %.*s\n", static_cast<int>(message.size()), message.data());
}

void CliObserver::RecordsRead(std::int64_t count) {
  pass_records_ = count;
  Changed();
}

std::string CliObserver::ProgressText() const {
  std::string text;
  const auto add = [&text](std::string_view part) {
    if (!text.empty()) text += "  ";
    text += part;
  };
  if (pass_ > 0) {
    add(std::to_string(earlier_passes_ + pass_records_) + " records");
    const double seconds = std::chrono::duration<double>(out_.now() - pass_start_).count();
    if (StartsWith(status_, "Retrieving") && seconds >= 0.1) {
      add(std::to_string(static_cast<std::int64_t>(static_cast<double>(pass_records_) / seconds)) +
          "/s");
    }
  }
  if (percent_shown_) add(std::to_string(percent_) + "%");
  if (pass_ > 0) add("pass " + std::to_string(pass_));
  if (!status_.empty()) add(status_);
  return text;
}

void CliObserver::Changed() {
  if (!out_.err_is_terminal) return;
  const Clock::time_point now = out_.now();
  if (ever_drawn_ && now - last_draw_ < kRedrawInterval) return;
  std::string text = ProgressText();
  if (text.empty()) return;
  ever_drawn_ = true;
  last_draw_ = now;
  Draw(std::move(text));
}

void CliObserver::Draw(std::string text) {
  // The log's lines must reach the screen before the line that follows them.
  if (out_.out_is_terminal) std::fflush(out_.out);
  // A line longer than the terminal would wrap, and "\r" would then redraw only its last part.
  const int width = Width();
  if (width > 1 && text.size() >= static_cast<std::size_t>(width))
    text.resize(static_cast<std::size_t>(width) - 1);
  std::string line(kEraseLine);
  line += text;
  std::fwrite(line.data(), 1, line.size(), out_.err);
  std::fflush(out_.err);
  drawn_ = true;
}

void CliObserver::Erase() {
  if (!drawn_) return;
  std::fwrite(kEraseLine.data(), 1, kEraseLine.size(), out_.err);
  std::fflush(out_.err);
  drawn_ = false;
}

int CliObserver::Width() const {
  if (out_.width > 0) return out_.width;
  winsize size{};
  if (::ioctl(::fileno(out_.err), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return size.ws_col;
  }
  return 80;
}

}  // namespace remoteccm
