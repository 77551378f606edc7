#include "cli/cli_observer.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string>
#include <utility>

#include "cli/console.h"

namespace remoteccm {
namespace {

constexpr std::string_view kEraseLine = "\r\033[K";
// How long an error for standard error waits for the log lines before it (a stalled reader of
// standard output holds it up no longer).
constexpr QueuedOutput::Milliseconds kErrorAfterLogWait{200};

bool IsTerminalStream(std::FILE* file) { return IsTerminal(::fileno(file)); }

}  // namespace

void PrintError(std::string_view message) {
  static const bool journal = IsJournalStream(::fileno(stderr));
  std::fprintf(stderr, "%sremoteccm-cli: %.*s\n", journal ? "<3>" : "",
               static_cast<int>(message.size()), message.data());
}

std::optional<LogPriority> ParseLogPriority(std::string_view text) {
  static constexpr std::pair<std::string_view, int> kNames[] = {
      {"emerg", 0},   {"alert", 1}, {"crit", 2},   {"err", 3},  {"error", 3},
      {"warning", 4}, {"warn", 4},  {"notice", 5}, {"info", 6}, {"debug", 7}};
  for (const auto& [name, number] : kNames) {
    const bool digit = text.size() == 1 && text[0] == static_cast<char>('0' + number);
    if (text == name || digit) {
      // The log's own priorities: what lies between them counts as the one above.
      if (number <= 3) return LogPriority::kError;
      if (number <= 5) return LogPriority::kWarning;
      return number == 7 ? LogPriority::kRecord : LogPriority::kInfo;
    }
  }
  return std::nullopt;
}

CliObserver::CliObserver()
    : CliObserver(Output{.err_is_terminal = IsTerminalStream(stderr),
                         .out_is_terminal = IsTerminalStream(stdout)}) {}

CliObserver::CliObserver(Output output) : out_(std::move(output)) {}

CliObserver::~CliObserver() { Erase(); }

void CliObserver::LogLineAt(LogPriority priority, std::string_view line) {
  if (priority > out_.least_priority) return;
  if (priority == LogPriority::kRecord && record_lines_wanted_ && !record_lines_wanted_()) return;
  if (out_.out_is_terminal) Erase();
  std::string& text = line_text_;
  text.clear();
  if (out_.priority_prefixes) {
    // The journal reads a prefix at the start of each of its lines.
    const std::string prefix = "<" + std::to_string(static_cast<int>(priority)) + ">";
    std::size_t at = 0;
    do {
      const std::size_t end = std::min(line.find('\n', at), line.size());
      text += prefix;
      text.append(line.data() + at, end - at);
      text += '\n';
      at = end + 1;
    } while (at < line.size());
  } else {
    text.append(line);
    text += '\n';
  }
  if (out_.queue != nullptr) {
    out_.queue->Write(text);
  } else {
    std::fwrite(text.data(), 1, text.size(), out_.out);
  }
  Changed();
}

void CliObserver::SetStatus1(std::string_view text) { SetStatus(text); }

void CliObserver::SetStatus2(std::string_view text) { SetStatus(text); }

void CliObserver::SetStatus(std::string_view text) {
  if (!text.empty()) {
    status_ = text;
    reading_ = false;  // the pass has read what it selected, or the run does something else
  }
  Changed();
}

void CliObserver::PassStarted() {
  earlier_passes_ += pass_records_;
  pass_records_ = 0;
  ++pass_;
  pass_start_ = out_.now();
  reading_ = true;
  Changed(true);  // the pass's number at once, beside the status shown just before
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
  std::string text = out_.priority_prefixes ? "<3>remoteccm-cli: " : "remoteccm-cli: ";
  text.append(message);
  text += '\n';
  if (out_.err_is_out && out_.queue != nullptr) {
    out_.queue->Write(text);
    return;
  }
  // The journal takes the two streams apart: the lines that led to the error reach it first.
  if (out_.queue != nullptr) {
    out_.queue->WaitWritten(kErrorAfterLogWait);
  }
  std::fwrite(text.data(), 1, text.size(), out_.err);
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
    if (reading_ && seconds >= 0.1) {
      add(std::to_string(static_cast<std::int64_t>(static_cast<double>(pass_records_) / seconds)) +
          "/s");
    }
  }
  if (percent_shown_) add(std::to_string(percent_) + "%");
  if (pass_ > 0) add("pass " + std::to_string(pass_));
  if (!status_.empty()) add(status_);
  return text;
}

void CliObserver::Changed(bool at_once) {
  if (!out_.err_is_terminal) return;
  const Clock::time_point now = out_.now();
  if (!at_once && ever_drawn_ && now - last_draw_ < kRedrawInterval) return;
  std::string text = ProgressText();
  if (text.empty()) return;
  ever_drawn_ = true;
  last_draw_ = now;
  Draw(std::move(text));
}

void CliObserver::Draw(std::string text) {
  // The log's lines must reach the screen before the line that follows them.
  if (out_.out_is_terminal && out_.queue != nullptr) {
    out_.queue->WaitWritten(
        std::chrono::duration_cast<QueuedOutput::Milliseconds>(kRedrawInterval));
  } else if (out_.out_is_terminal) {
    std::fflush(out_.out);
  }
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
  const int columns = TerminalWidth(::fileno(out_.err));
  return columns > 0 ? columns : 80;
}

}  // namespace remoteccm
