// Runs the retrieval engine on a thread of its own and hands its reports to the window as
// queued signals; log lines go into the LogBuffer, which the window takes in batches.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "companion/companion_link.h"
#include "gui/app/log_buffer.h"
#include "gui/app/pause_clock.h"
#include "platform/dialup/dialer.h"
#include "profile/profile_file.h"
#include "retrieval/run/engine.h"

namespace remoteccm::gui {

class RunController : public QObject {
  Q_OBJECT

 public:
  // env, base_clock and dialer must outlive the controller.
  RunController(const ProfileEnvironment& env, Clock& base_clock, LogBuffer& log, Dialer& dialer,
                QObject* parent = nullptr);
  ~RunController() override;

  // Whether a run or a delete-all is going on (from its start until its finished signal).
  bool Busy() const { return busy_; }

  // Starts a run of the profile file. An unattended run logs the driver's message of a refused
  // connection instead of asking for a message box.
  void StartRun(const std::string& profile_path, bool unattended);
  // Starts emptying the profile's CDR table; its lines go to the log, or with to_dialog only
  // to DeleteAllLine (the properties dialog's memo).
  void StartDeleteAll(const ProfileSettings& settings, bool to_dialog = false);
  // Stops the run as soon as the engine can: safe at any time.
  void RequestAbort();
  // A line the window itself adds to the run's log ("Aborted..."): to the memo and the
  // companion, as the engine's lines go.
  void AddLogLine(const std::string& line);
  // Why no companion gets the log, when one was there but could not be used; "" otherwise.
  const std::string& CompanionProblem() const { return companion_problem_; }

  PauseClock& pause_clock() { return pause_clock_; }

 Q_SIGNALS:
  void LogChanged();
  void Status1Changed(const QString& text);
  void Status2Changed(const QString& text);
  void ProgressChanged(int position);
  void ProgressShown(bool shown);
  void RunningChanged(bool running);
  void ConnectionError(const QString& message);
  // A RunStatus, and the error line that says why a run failed ("" when none was logged).
  void RunFinished(int run_status, const QString& last_error);
  void DeleteAllFinished(bool deleted);
  void DeleteAllLine(const QString& line);

 private:
  class Observer;
  void Start(std::function<void()> work);
  void Join();
  // The status file (and metrics) of the run or delete-all that just ended, then the
  // companion's moment for the lines still waiting; on the worker.
  void ReportEnd(RunKind kind);

  const ProfileEnvironment& env_;
  LogBuffer& log_;
  PauseClock pause_clock_;
  // The companion found as the window is made, which is the program's start.
  std::string companion_problem_;
  std::unique_ptr<CompanionLink> companion_;
  std::unique_ptr<Observer> observer_;
  std::unique_ptr<Engine> engine_;
  std::thread thread_;
  bool busy_ = false;
};

}  // namespace remoteccm::gui
