// How the retrieval engine talks to the program that runs it (the CLI or the desktop window):
// log lines, the two status lines, the progress bar, the pump hook and the connection error.
//
// Every call comes on the thread that runs the engine (the CLI's main thread, the desktop
// program's worker thread), never on two threads at once. The string arguments live only for
// the call: an observer that hands them to another thread copies them. LogLine fires once per
// line of the log, which in a large pass is several lines per record (tens of thousands a
// second): an observer that shows them must batch its repaints.
#pragma once

#include <cstdint>
#include <string_view>

namespace remoteccm {

// How much a log line matters, numbered as syslog and the journal number their priorities.
enum class LogPriority {
  kError = 3,    // the run, a pass or a file failed
  kWarning = 4,  // something the administrator should look at; the run goes on
  kInfo = 6,     // the run's progress
  kRecord = 7,   // a record's own line (destination or backup): calling and called numbers
};

class EngineObserver {
 public:
  virtual ~EngineObserver() = default;

  // Empties the log (the start of a run and of a poll cycle).
  virtual void ClearLog() = 0;
  // One line of the log (AddLogLine): every line the engine writes.
  virtual void LogLine(std::string_view line) = 0;
  // The same line with its priority; observers that sort lines by it override this.
  virtual void LogLineAt(LogPriority priority, std::string_view line) {
    (void)priority;
    LogLine(line);
  }
  // A line put straight into the log, not forwarded to a companion ("Error: Connection Failed.").
  virtual void LogLineDirect(std::string_view line) { LogLine(line); }
  // The upper ("Selection: ...") and lower status lines.
  virtual void SetStatus1(std::string_view text) = 0;
  virtual void SetStatus2(std::string_view text) = 0;
  // Progress bar position 0..100 and whether the bar (and "% Complete:") is shown.
  virtual void SetProgress(int position) = 0;
  virtual void ShowProgress(bool shown) = 0;
  // The window's running state: Connect reads "Abort", the profile controls are disabled.
  virtual void SetRunning(bool running) = 0;
  // The database refused the connection: the driver's message. Interactive programs show it
  // in a box; an unattended run must not wait for a user and logs it instead.
  virtual void ShowConnectionError(std::string_view message) = 0;
  // A pass selects its records now: its statement and status were shown just before.
  virtual void PassStarted() {}
  // The pass has read `count` records so far: once per record, before that record's Pump.
  virtual void RecordsRead(std::int64_t count) { (void)count; }
  // Called once per record, per 100 ms of a pause and per dial poll: where a single-threaded
  // program would run its message pump. Never per column or output line.
  virtual void Pump() {}
};

}  // namespace remoteccm
