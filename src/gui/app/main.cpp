// remoteccm: the desktop program. The same command line as remoteccm-cli; a run started from it
// works minimised, closes the window at its end and gives remoteccm-cli's exit status.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gui/app/app_icon.h"
#include "gui/app/main_form.h"
#include "platform/db/database.h"
#include "platform/dialup/system_dialer.h"
#include "platform/home/program_home.h"
#include "profile/profile_list.h"
#include "remoteccm_version.h"
#include "retrieval/report/run_status.h"
#include "timezone/zone_list.h"
#include "util/posix_file.h"
#include "util/stop_signals.h"

namespace {

bool HasDisplay() {
  return !qEnvironmentVariableIsEmpty("DISPLAY") ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
         !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// Whether the command line runs an existing profile at once (and so needs no one to look).
bool UnattendedRun(const remoteccm::CommandLine& params) {
  const remoteccm::StartupDecision decision = remoteccm::DecideStartup(params);
  const std::string name =
      decision.use_last_profile
          ? remoteccm::ReadLastProfile(remoteccm::TRegAccess(remoteccm::RegistryStorePath()))
          : decision.profile;
  const std::string path = remoteccm::ProfilePathFor(name, remoteccm::ProgramHome());
  return remoteccm::RunsAtOnce(params, remoteccm::ProfileFileExists(path));
}

}  // namespace

int main(int argc, char** argv) {
  remoteccm::OpenMissingStandardDescriptors();
  // Before Qt starts a thread: a stop signal then reaches the watcher below only.
  remoteccm::BlockStopSignals();
  // The program's own arguments: --home DIR, --version and the parameters of remoteccm-cli.
  remoteccm::CommandLine params;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--home") == 0 && i + 1 < argc) {
      remoteccm::SetProgramHome(argv[++i]);
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("remoteccm " REMOTECCM_VERSION);
      return remoteccm::kExitOk;
    } else {
      params.push_back(argv[i]);
    }
  }
  // A scheduled run without a desktop (cron, a systemd timer) draws its window off screen;
  // a window that someone has to use needs a display.
  if (!HasDisplay()) {
    if (!UnattendedRun(params)) {
      std::fputs(
          "remoteccm: there is no display to show the window on (DISPLAY is not set); "
          "remoteccm-cli runs profiles without one\n",
          stderr);
      return remoteccm::kExitUsage;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  remoteccm::RemoveStaleTemporaryFiles();
  remoteccm::RemoveDialLeftovers();

  int qt_argc = 1;
  QApplication app(qt_argc, argv);
  QApplication::setApplicationName(QStringLiteral("remoteccm"));
  QApplication::setApplicationVersion(QStringLiteral(REMOTECCM_VERSION));
  QApplication::setWindowIcon(remoteccm::gui::AppIcon());

  const std::vector<remoteccm::TimeZoneEntry> zones =
      remoteccm::LoadTimeZones(remoteccm::DefaultZoneinfoDir());
  const remoteccm::ProfileEnvironment env =
      remoteccm::SystemProfileEnvironment(&zones, remoteccm::EntityName(params));
  remoteccm::gui::TMainFrm window(env, remoteccm::TheSystemClock(), params);
  const remoteccm::StopSignalWatcher stop_signals([&window] {
    QMetaObject::invokeMethod(
        &window, [&window] { window.StopBySignal(); }, Qt::QueuedConnection);
  });
  window.ShowAtStart();
  QApplication::exec();
  const int status = window.ExitStatus();
  // A stop during a login to a server that never answers: the connect waits on in its driver
  // until the login time-out. The process ends now, without tearing down what it is inside.
  if (remoteccm::ConnectGivenUpStillWaiting()) {
    std::fflush(nullptr);
    std::_Exit(status);
  }
  return status;
}
