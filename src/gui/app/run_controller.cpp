#include "gui/app/run_controller.h"

#include "companion/socket_companion.h"
#include "retrieval/report/run_report.h"

namespace remoteccm::gui {
namespace {

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

// Called on the engine's thread: copies what it is given and signals the window.
class RunController::Observer : public EngineObserver {
 public:
  explicit Observer(RunController& owner) : owner_(owner) {}

  void ClearLog() override { Notify(owner_.log_.Clear()); }
  void LogLine(std::string_view line) override { Notify(owner_.log_.Add(line)); }
  void LogLineDirect(std::string_view line) override { Notify(owner_.log_.AddDirect(line)); }
  void SetStatus1(std::string_view text) override { Q_EMIT owner_.Status1Changed(Text(text)); }
  void SetStatus2(std::string_view text) override { Q_EMIT owner_.Status2Changed(Text(text)); }
  void SetProgress(int position) override {
    if (position == position_) return;
    position_ = position;
    Q_EMIT owner_.ProgressChanged(position);
  }
  void ShowProgress(bool shown) override { Q_EMIT owner_.ProgressShown(shown); }
  void SetRunning(bool running) override {
    position_ = -1;
    Q_EMIT owner_.RunningChanged(running);
  }
  void ShowConnectionError(std::string_view message) override {
    // Nobody may have to click a box before an unattended run can end.
    if (unattended) {
      LogLineDirect(message);
    } else {
      Q_EMIT owner_.ConnectionError(Text(message));
    }
  }

  bool unattended = false;

 private:
  void Notify(bool first_change) {
    if (first_change) Q_EMIT owner_.LogChanged();
  }

  RunController& owner_;
  int position_ = -1;
};

RunController::RunController(const ProfileEnvironment& env, Clock& base_clock, LogBuffer& log,
                             Dialer& dialer, QObject* parent)
    : QObject(parent),
      env_(env),
      log_(log),
      pause_clock_(base_clock),
      companion_(FindCompanionLink(&companion_problem_)),
      observer_(std::make_unique<Observer>(*this)),
      engine_(std::make_unique<Engine>(env, *observer_, pause_clock_, dialer, companion_.get())) {}

RunController::~RunController() {
  if (thread_.joinable()) {
    engine_->RequestAbort();
    pause_clock_.Release();
    thread_.join();
  }
}

void RunController::Join() {
  if (thread_.joinable()) thread_.join();
}

void RunController::Start(std::function<void()> work) {
  Join();
  busy_ = true;
  // Here, on the thread that asks for the run: a stop asked for from now on stops it, even one
  // that comes before the worker has started.
  engine_->ClearAbort();
  thread_ = std::thread(std::move(work));
}

void RunController::StartRun(const std::string& profile_path, bool unattended) {
  observer_->unattended = unattended;
  Start([this, profile_path] {
    const RunStatus status = engine_->RunProfile(profile_path);
    const QString last_error = Text(engine_->LastRun().last_error);
    ReportEnd(RunKind::kRun);
    QMetaObject::invokeMethod(
        this,
        [this, status, last_error] {
          Join();
          busy_ = false;
          Q_EMIT RunFinished(static_cast<int>(status), last_error);
        },
        Qt::QueuedConnection);
  });
}

void RunController::StartDeleteAll(const ProfileSettings& settings, bool to_dialog) {
  observer_->unattended = false;
  Start([this, settings, to_dialog] {
    std::function<void(std::string_view)> report;
    if (to_dialog) {
      report = [this](std::string_view line) { Q_EMIT DeleteAllLine(Text(line)); };
    }
    const bool deleted = engine_->DeleteAllRecords(settings, report);
    ReportEnd(RunKind::kDeleteAll);
    QMetaObject::invokeMethod(
        this,
        [this, deleted] {
          Join();
          busy_ = false;
          Q_EMIT DeleteAllFinished(deleted);
        },
        Qt::QueuedConnection);
  });
}

void RunController::RequestAbort() { engine_->RequestAbort(); }

void RunController::AddLogLine(const std::string& line) {
  if (log_.Add(line)) Q_EMIT LogChanged();
  if (companion_ && !line.empty()) companion_->Send(line + "\n");
}

void RunController::ReportEnd(RunKind kind) {
  for (const std::string& line :
       ReportRun(SummaryToReport(engine_->LastRun(), kind, env_), MetricsFolder({}))) {
    engine_->AddLogLine(line);
  }
  if (const std::string line = FinishCompanionRun(companion_.get()); !line.empty()) {
    observer_->LogLine(line);
  }
}

}  // namespace remoteccm::gui
