// What remoteccm-cli shows of a run: every log line on standard output as it comes and, only
// when standard error is a terminal, one progress line there (records read, their rate, the
// pass and its window), redrawn at most ten times a second and cleared at the end. Cron mail
// and the journal get the log alone. Under systemd (or with --log-level) each log line starts
// with its priority ("<3>" an error ... "<7>" a record's line), which the journal files it by.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "cli/queued_output.h"
#include "retrieval/run/engine_observer.h"

namespace remoteccm {

class CliObserver : public EngineObserver {
 public:
  using Clock = std::chrono::steady_clock;

  // Where the observer writes and what it knows of its terminal; tests give their own.
  struct Output {
    std::FILE* out = stdout;         // the log, unless it goes to `queue`
    QueuedOutput* queue = nullptr;   // standard output written without holding up the run
    std::FILE* err = stderr;         // the progress line and error messages
    bool err_is_terminal = false;    // draw the progress line at all
    bool out_is_terminal = false;    // the log shares the screen: clear the line before a log line
    bool err_is_out = false;         // both are one file: error messages wait in `queue` too
    int width = 0;                   // columns of the progress terminal; 0: ask it at each draw
    bool priority_prefixes = false;  // each log line starts with "<N>", its priority
    LogPriority least_priority = LogPriority::kRecord;  // less important lines are left out
    std::function<Clock::time_point()> now = [] { return Clock::now(); };
  };

  // Standard output and standard error of this process.
  CliObserver();
  explicit CliObserver(Output output);
  ~CliObserver() override;

  CliObserver(const CliObserver&) = delete;
  CliObserver& operator=(const CliObserver&) = delete;

  void ClearLog() override {}
  void LogLine(std::string_view line) override { LogLineAt(LogPriority::kInfo, line); }
  void LogLineAt(LogPriority priority, std::string_view line) override;
  // The engine's one direct line tells that the database refused the connection.
  void LogLineDirect(std::string_view line) override { LogLineAt(LogPriority::kError, line); }
  void SetStatus1(std::string_view text) override;
  void SetStatus2(std::string_view text) override;
  void SetProgress(int position) override;
  void ShowProgress(bool shown) override;
  void SetRunning(bool running) override;
  void ShowConnectionError(std::string_view message) override;
  void PassStarted() override;
  void RecordsRead(std::int64_t count) override;
  void Pump() override { Changed(); }

  // Whether the run in progress wants its record lines in the log (LogRecordLines); asked at
  // each record line. Unset: it does.
  void set_record_lines_wanted(std::function<bool()> wanted) {
    record_lines_wanted_ = std::move(wanted);
  }

  // The text of the progress line as it stands (before it is cut to the terminal's width).
  std::string ProgressText() const;

  static constexpr Clock::duration kRedrawInterval = std::chrono::milliseconds(100);

 private:
  // Either status line: the newest text the progress line shows.
  void SetStatus(std::string_view text);
  void Changed(bool at_once = false);
  void Draw(std::string text);
  void Erase();
  int Width() const;

  Output out_;
  std::function<bool()> record_lines_wanted_;
  std::string line_text_;    // the line being written, its buffer kept from line to line
  bool drawn_ = false;       // the line is on the screen now
  bool ever_drawn_ = false;  // the first change draws at once
  Clock::time_point last_draw_{};

  std::string status_;
  bool reading_ = false;  // a pass reads what it selected: its rate is shown
  int pass_ = 0;
  std::int64_t earlier_passes_ = 0;  // records read by the passes before this one
  std::int64_t pass_records_ = 0;
  Clock::time_point pass_start_{};
  bool percent_shown_ = false;
  int percent_ = 0;
};

// Whether the two descriptors are one file (2>&1, or the journal's stream for both).
bool SameOpenFile(int fd, int other_fd);

// Whether the descriptor is the journal's stream: JOURNAL_STREAM names its device and inode.
bool IsJournalStream(int fd);

// "remoteccm-cli: MESSAGE" on standard error, as an error ("<3>") when that is the journal.
void PrintError(std::string_view message);

// A priority by its syslog name ("err", "warning", "info", "debug"...) or number (0 to 7);
// nothing for another text.
std::optional<LogPriority> ParseLogPriority(std::string_view text);

}  // namespace remoteccm
