// remoteccm-screenshots OUTDIR [PROFILE [FONT-SCALE]]: takes pictures of the desktop program's
// windows (compact and expanded, idle and during a run, the pop-up menu, the about box, every page
// of the properties dialog (two of them on the area of an 800x600 screen), those of the profile of
// CDR files FILES, and the connection-string builder) into PNG files, on whatever display Qt is
// given (Xvfb or the offscreen platform). The profile (default DEMO) must exist in the program home
// and pause between passes; FONT-SCALE (default 1) enlarges the desktop's font, to see that the
// windows grow with it.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <vector>

#include "gui/about/about_box.h"
#include "gui/app/app_icon.h"
#include "gui/app/main_form.h"
#include "gui/options/conn_builder.h"
#include "gui/options/opt_form.h"
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

// Runs `act` once the next modal window (a dialog opened by a click) is up.
void WhenModalOpens(std::function<void(QWidget*)> act) {
  QTimer::singleShot(0, [act = std::move(act)] {
    WaitUntil([] { return QApplication::activeModalWidget() != nullptr; });
    act(QApplication::activeModalWidget());
  });
}

// Every page of the properties dialog, the retrieval modes, both Advanced sub-pages (and the
// page without a database), and the builder.
bool PropertiesPictures(remoteccm::gui::TMainFrm& window, const QDir& out) {
  bool ok = true;
  WhenModalOpens([&](QWidget* dialog) {
    auto* form = qobject_cast<remoteccm::gui::TOptFrm*>(dialog);
    WaitUntil([&] { return !form->ReadingColumns(); });
    auto* pages = Child<QTabWidget>(form, "PageControl1");
    const auto page = [&](const char* name, const char* file) {
      pages->setCurrentWidget(Child<QWidget>(form, name));
      ok &= Save(form, out.filePath(QLatin1String(file)));
    };
    page("GeneralTabSheet1", "properties-general.png");
    Child<QCheckBox>(form, "UseDialupCheckBox1")->setChecked(true);
    page("ConnectTabSheet1", "properties-connect-dialup.png");
    Child<QCheckBox>(form, "UseDialupCheckBox1")->setChecked(false);
    page("LoginTabSheet1", "properties-login.png");
    auto* mode = Child<QComboBox>(form, "RetrieveListBox1");
    const int stored_mode = mode->currentIndex();
    const struct {
      int index;
      const char* file;
    } modes[] = {{2, "properties-retrieval-new-records.png"},
                 {3, "properties-retrieval-by-date.png"},
                 {4, "properties-retrieval-by-sql.png"},
                 {1, "properties-retrieval-all-records.png"}};
    for (const auto& m : modes) {
      mode->setCurrentIndex(m.index);
      page("RetrievalTabSheet1", m.file);
    }
    mode->setCurrentIndex(stored_mode);
    auto* advanced = Child<QTabWidget>(form, "AdvancedPageControl1");
    advanced->setCurrentIndex(0);
    page("AdvancedTabSheet", "properties-advanced-cdr-fields.png");
    advanced->setCurrentIndex(1);
    page("AdvancedTabSheet", "properties-advanced-time-zone.png");
    page("NoticeTabSheet1", "properties-notes.png");

    // The builder, from the profile's SQLite string, then for a PostgreSQL server.
    WhenModalOpens([&](QWidget* builder) {
      ok &= Save(builder, out.filePath(QStringLiteral("builder-sqlite.png")));
      auto* drivers = Child<QComboBox>(builder, "DriverComboBox1");
      const int postgres = drivers->findText(QStringLiteral("PostgreSQL Unicode"));
      if (postgres >= 0) {
        drivers->setCurrentIndex(postgres);
        Child<QLineEdit>(builder, "HostEdit1")->setText(QStringLiteral("cdr-db.example.com"));
        Child<QLineEdit>(builder, "DatabaseEdit1")->setText(QStringLiteral("CDR"));
        Child<QLineEdit>(builder, "UserEdit1")->setText(QStringLiteral("cdruser"));
        Child<QLineEdit>(builder, "PasswordEdit1")->setText(QStringLiteral("secret"));
      }
      Child<QPushButton>(builder, "TestBtn1")->click();
      WaitUntil([&] { return !qobject_cast<remoteccm::gui::TConnBuildFrm*>(builder)->Testing(); });
      ok &= Save(builder, out.filePath(QStringLiteral("builder-postgres-tested.png")));
      qobject_cast<QDialog*>(builder)->reject();
    });
    pages->setCurrentWidget(Child<QWidget>(form, "LoginTabSheet1"));
    Child<QPushButton>(form, "Build1")->click();

    // Without a database: the Advanced page says what is needed.
    auto* string = Child<QLineEdit>(form, "SQLConnString");
    const QString stored = string->text();
    string->setText(QStringLiteral("Provider=MSDASQL;Driver=SQLite3;Database=/nonexistent/cdr.db"));
    WaitUntil([&] { return !form->ReadingColumns(); });
    page("AdvancedTabSheet", "properties-advanced-no-database.png");
    string->setText(stored);
    WaitUntil([&] { return !form->ReadingColumns(); });
    // On the area an 800x600 screen with a taskbar leaves for windows, where the pages scroll.
    form->FitInto(QRect(0, 0, 800, 560));
    page("RetrievalTabSheet1", "properties-800x600-retrieval.png");
    advanced->setCurrentIndex(0);
    page("AdvancedTabSheet", "properties-800x600-advanced.png");
    form->FitInto(form->screen()->availableGeometry());
    pages->setCurrentWidget(Child<QWidget>(form, "GeneralTabSheet1"));
    Child<QPushButton>(form, "Button2")->click();
  });
  Child<QPushButton>(&window, "PropertiesBtn1")->click();
  return ok;
}

// The pages of the profile FILES, which collects CDR files: the folder tested, All Records
// without deletion, and the fields of the files.
bool FilesProfilePictures(remoteccm::gui::TMainFrm& window, const QDir& out) {
  auto* combo = Child<QComboBox>(&window, "Profilenamebox1");
  combo->setEditText(QStringLiteral("FILES"));
  Q_EMIT combo->lineEdit()->returnPressed();
  bool ok = true;
  WhenModalOpens([&](QWidget* dialog) {
    auto* form = qobject_cast<remoteccm::gui::TOptFrm*>(dialog);
    WaitUntil([&] { return !form->ReadingColumns(); });
    auto* pages = Child<QTabWidget>(form, "PageControl1");
    const auto page = [&](const char* name, const char* file) {
      pages->setCurrentWidget(Child<QWidget>(form, name));
      ok &= Save(form, out.filePath(QLatin1String(file)));
    };
    // The newest file comes just now: the folder test tells it from the files that settled.
    if (const QByteArray newest = qgetenv("REMOTECCM_SCREENSHOT_NEWEST"); !newest.isEmpty()) {
      QFile file(QString::fromLocal8Bit(newest));
      ok &= file.open(QIODevice::ReadWrite) &&
            file.setFileTime(QDateTime::currentDateTime(), QFileDevice::FileModificationTime);
    }
    auto* test = Child<QPushButton>(form, "CdrFolderTestBtn1");
    test->click();
    WaitUntil([&] { return test->isEnabled(); });
    page("LoginTabSheet1", "properties-cdr-files-login.png");
    page("RetrievalTabSheet1", "properties-cdr-files-all-records.png");
    Child<QTabWidget>(form, "AdvancedPageControl1")->setCurrentIndex(0);
    page("AdvancedTabSheet", "properties-cdr-files-fields.png");
    pages->setCurrentWidget(Child<QWidget>(form, "GeneralTabSheet1"));
    Child<QPushButton>(form, "Button2")->click();
  });
  Child<QPushButton>(&window, "PropertiesBtn1")->click();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setWindowIcon(remoteccm::gui::AppIcon());
  if (argc < 2) {
    std::fputs("usage: remoteccm-screenshots OUTDIR [PROFILE [FONT-SCALE]]\n", stderr);
    return 64;
  }
  if (argc > 3) {
    QFont font = QApplication::font();
    font.setPointSizeF(font.pointSizeF() * QString::fromLocal8Bit(argv[3]).toDouble());
    QApplication::setFont(font);
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

  ok &= PropertiesPictures(window, out);
  ok &= FilesProfilePictures(window, out);

  remoteccm::gui::TAboutBox about(&window);
  about.show();
  ok &= Save(&about, out.filePath(QStringLiteral("about-box.png")));
  about.close();
  window.close();
  return ok ? 0 : 1;
}
