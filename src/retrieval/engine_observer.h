// How the retrieval engine talks to the program that runs it (the CLI or the desktop window):
// log lines, the two status lines, the progress bar, the message pump and the abort request.
#pragma once

#include <string_view>

namespace remoteccm {

class EngineObserver {
 public:
  virtual ~EngineObserver() = default;

  // Empties the log (the start of a run and of a poll cycle).
  virtual void ClearLog() = 0;
  // One line of the log (AddLogLine): every line the engine writes.
  virtual void LogLine(std::string_view line) = 0;
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
  // The database refused the connection: the driver's message for the user.
  virtual void ShowConnectionError(std::string_view message) = 0;
  // Called per column, record, output line and 100 ms of a pause: the message pump.
  virtual void Pump() {}
};

// Forwards log lines to a companion call-accounting program (nothing when none listens).
class CompanionLink {
 public:
  virtual ~CompanionLink() = default;
  // The line followed by one line feed, sent as it is; never waits for the companion.
  virtual void Send(std::string_view text) = 0;
};

// The engine's time: the current moment and the 100 ms ticks of a pause; tests replace it.
class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since 1970-01-01 00:00 UTC.
  virtual double Now() = 0;
  // Waits one tick of a pause (100 ms).
  virtual void Tick() = 0;
};

class SystemClock : public Clock {
 public:
  double Now() override;
  void Tick() override;
};

}  // namespace remoteccm
