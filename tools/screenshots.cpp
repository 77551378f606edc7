// remoteccm-screenshots OUTDIR [PROFILE]: takes pictures of the desktop program's windows
// (compact and expanded, idle and during a run, the pop-up menu, the about box) into PNG files,
// on whatever display Qt is given (Xvfb or the offscreen platform). The profile (default DEMO)
// must exist in the program home and pause between passes.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <cstdio>
#include <functional>
#include <vector>

#include "gui/about/about_box.h"
#include "gui/app/app_icon.h"
#include "gui/app/main_form.h"
#include "timezone/zone_list.h"

namespace {

void WaitUntil(const std::function<bool()>& done) {
  while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
}

void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Save(QWidget* widget, const QString& file) {
  Settle();
  const bool saved = widget->grab().save(file);
  std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(file));
  return saved;
}

template <typename W>
W* Child(QWidget* window, const char* name) {
  return window->findChild<W*>(QLatin1String(name));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QStringLiteral("Remote Access for CCM"));
  QApplication::setWindowIcon(remoteccm::gui::AppIcon());
  if (argc < 2) {
    std::fputs("usage: remoteccm-screenshots OUTDIR [PROFILE]\n", stderr);
    return 64;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  const std::string profile = argc > 2 ? argv[2] : "DEMO";
  const std::vector<remoteccm::TimeZoneEntry> zones =
      remoteccm::LoadTimeZones(remoteccm::DefaultZoneinfoDir());
  const remoteccm::ProfileEnvironment env = remoteccm::SystemProfileEnvironment(&zones, "");
  bool ok = true;

  {
    remoteccm::gui::TMainFrm missing(env, remoteccm::TheSystemClock(), {"/CONFIG", "NEWSITE"});
    missing.ShowAtStart();
    WaitUntil([&] { return missing.StartedUp(); });
    ok &= Save(&missing, out.filePath(QStringLiteral("compact-create-profile.png")));
    missing.close();
  }

  remoteccm::gui::TMainFrm window(env, remoteccm::TheSystemClock(), {"/CONFIG", profile});
  window.ShowAtStart();
  WaitUntil([&] { return window.StartedUp(); });
  ok &= Save(&window, out.filePath(QStringLiteral("compact-idle.png")));

  auto* combo = Child<QComboBox>(&window, "Profilenamebox1");
  auto* menu = Child<QMenu>(&window, "PopupMenu1");
  menu->popup(combo->mapToGlobal(QPoint(20, combo->height())));
  Settle();
  ok &= Save(menu, out.filePath(QStringLiteral("popup-menu.png")));
  menu->hide();

  Child<QPushButton>(&window, "DelFlagBtn1")->click();
  ok &= Save(&window, out.filePath(QStringLiteral("compact-delete-all-shown.png")));
  Child<QPushButton>(&window, "DelFlagBtn1")->click();

  Child<QPushButton>(&window, "TermBtn1")->click();
  ok &= Save(&window, out.filePath(QStringLiteral("expanded-idle.png")));

  // A run: the first pass, then the pause bar.
  auto* status2 = Child<QLabel>(&window, "DetailsLabel2");
  auto* bar = Child<QProgressBar>(&window, "FileProgBar1");
  Child<QPushButton>(&window, "ConnectBtn1")->click();
  WaitUntil(
      [&] { return status2->text().startsWith(QLatin1String("Pause:")) && bar->value() >= 20; });
  ok &= Save(&window, out.filePath(QStringLiteral("expanded-running-pause.png")));
  window.Controller().RequestAbort();
  WaitUntil([&] { return !window.Controller().Busy(); });
  ok &= Save(&window, out.filePath(QStringLiteral("expanded-after-abort.png")));

  Child<QPushButton>(&window, "TermBtn1")->click();
  ok &= Save(&window, out.filePath(QStringLiteral("compact-after-run.png")));

  remoteccm::gui::TAboutBox about(&window);
  about.show();
  ok &= Save(&about, out.filePath(QStringLiteral("about-box.png")));
  about.close();
  window.close();
  return ok ? 0 : 1;
}
