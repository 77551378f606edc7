// remoteccm: the desktop program. The same command line as remoteccm-cli; a run started from it
// works minimised, closes the window at its end and gives remoteccm-cli's exit status.
#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "gui/app/app_icon.h"
#include "gui/app/main_form.h"
#include "platform/home/program_home.h"
#include "timezone/zone_list.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("remoteccm"));
  QApplication::setApplicationVersion(QStringLiteral(REMOTECCM_VERSION));
  QApplication::setApplicationDisplayName(QStringLiteral("Remote Access for CCM"));

  // Qt has taken its own options out of the arguments; what is left is the program's.
  remoteccm::CommandLine params;
  const QStringList args = QApplication::arguments();
  for (qsizetype i = 1; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--home") && i + 1 < args.size()) {
      remoteccm::SetProgramHome(args[++i].toStdString());
    } else if (args[i] == QLatin1String("--version")) {
      std::puts("remoteccm " REMOTECCM_VERSION);
      return 0;
    } else {
      params.push_back(args[i].toStdString());
    }
  }

  const std::vector<remoteccm::TimeZoneEntry> zones =
      remoteccm::LoadTimeZones(remoteccm::DefaultZoneinfoDir());
  const remoteccm::ProfileEnvironment env =
      remoteccm::SystemProfileEnvironment(&zones, remoteccm::EntityName(params));
  QApplication::setWindowIcon(remoteccm::gui::AppIcon());
  remoteccm::gui::TMainFrm window(env, remoteccm::TheSystemClock(), params);
  window.ShowAtStart();
  QApplication::exec();
  return window.ExitStatus();
}
