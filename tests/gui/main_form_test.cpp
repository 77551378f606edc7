// The desktop program driven through its real widgets on the offscreen platform, over the real
// engine and the SQLite ODBC driver: runs, abort, start-up, profiles, delete-all, sizes.
#include "gui/app/main_form.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFocusEvent>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>
#include <QtTest>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "companion/socket_companion.h"
#include "gui/about/about_box.h"
#include "gui/app/log_buffer.h"
#include "gui/seams/message_box.h"
#include "platform/db/database.h"
#include "profile/profile_file.h"
#include "profile/profile_list.h"
#include "retrieval/report/status_file.h"
#include "support/cdr_database.h"
#include "support/mnemonics.h"
#include "support/scaled_font.h"
#include "support/silent_server.h"
#include "support/widgets.h"

using remoteccm::gui::MessageBox;
using remoteccm::gui::TMainFrm;
using remoteccm::testing::Child;
using remoteccm::testing::WaitUntil;

namespace {

// A clock that stands still; its ticks pass at once unless the gate is closed.
class GateClock : public remoteccm::Clock {
 public:
  double Now() override { return 1'800'000'000; }
  void Tick() override {
    std::unique_lock lock(mutex_);
    ++ticks_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  void SetOpen(bool open) {
    std::lock_guard lock(mutex_);
    open_ = open;
    changed_.notify_all();
  }
  int Ticks() {
    std::lock_guard lock(mutex_);
    return ticks_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = true;
  int ticks_ = 0;
};

QString Caption(QWidget* window, const char* button) {
  return Child<QPushButton>(window, button)->text();
}

}  // namespace

class GuiTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString home_;
  remoteccm::ProfileEnvironment env_;
  std::unique_ptr<GateClock> clock_;
  remoteccm::DbConnection db_;

  std::string Path(const QString& relative) const {
    return QDir(dir_.path()).filePath(relative).toStdString();
  }
  std::string Sqlite() const {
    return "Provider=MSDASQL;Driver=SQLite3;Database=" + Path(QStringLiteral("cdr.db"));
  }

  void WriteProfile(const char* name, const std::map<std::string, std::string>& keys) {
    std::map<std::string, std::string> all = {
        {"Login", "cdr"},
        {"ServerName", "ccm1"},
        {"DestinationFile", Path(QStringLiteral("out/CDR.TXT"))},
        {"ConnectSQLMode", "All Records"},
        {"SQLConnectionString", Sqlite()},
        {"SQLTimeZoneOption", "3"},
        {"DeleteRecs", "N"},
        {"PollAgain", "N"},
        {"WaitBeforePollingAgain", "0"}};
    for (auto& [key, value] : keys) all[key] = value;
    QFile file(home_ + QLatin1Char('/') + QLatin1String(name) + QLatin1String(".CCM"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[Options]\r\n");
    for (auto& [key, value] : all) file.write((key + "=" + value + "\r\n").c_str());
  }

  void InsertCalls(int count) {
    for (int i = 1; i <= count; ++i) {
      db_.Execute(
          "INSERT INTO CallDetailRecord (pkid, cdrRecordType, globalCallID_callId,"
          " dateTimeOrigination, dateTimeDisconnect, callingPartyNumber, duration)"
          " VALUES ('" +
          std::to_string(i) + "', 1, " + std::to_string(i) + ", " +
          std::to_string(1'700'000'000 + i * 60) + ", " + std::to_string(1'700'000'030 + i * 60) +
          ", '100" + std::to_string(i) + "', 30)");
    }
  }

  int ServerRows() {
    remoteccm::DbQuery query(db_);
    query.AddLine("SELECT COUNT(*) FROM CallDetailRecord");
    query.Open();
    return static_cast<int>(query.AsFloat(0));
  }

  static QByteArray Bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QStringList DestinationLines() {
    QFile file(QString::fromStdString(Path(QStringLiteral("out/CDR.TXT"))));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromLatin1(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  }

  std::unique_ptr<TMainFrm> Open(remoteccm::CommandLine params) {
    auto window = std::make_unique<TMainFrm>(env_, *clock_, std::move(params));
    window->ShowAtStart();
    WaitUntil([&] { return window->StartedUp(); });
    return window;
  }

  static QString Memo(TMainFrm& window) {
    window.DrainLog();
    return Child<QPlainTextEdit>(&window, "Memo1")->toPlainText();
  }

  // Starts program with this home, as from cron (no display at all); standard output goes to
  // `out` (nowhere when empty).
  void Start(QProcess& process, const char* program, const QStringList& args,
             const QString& companion = QString(), const QString& out = QString()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
      env.remove(QLatin1String(name));
    }
    env.insert(QStringLiteral("REMOTECCM_HOME"), home_);
    env.insert(QStringLiteral("REMOTECCM_REGISTRY"),
               QString::fromStdString(Path(QStringLiteral("install.ini"))));
    if (!companion.isEmpty()) env.insert(QStringLiteral("REMOTECCM_COMPANION"), companion);
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(out.isEmpty() ? QProcess::nullDevice() : out);
    process.start(QLatin1String(program), args);
  }

  static void RunToEnd(TMainFrm& window) {
    Child<QPushButton>(&window, "ConnectBtn1")->click();
    WaitUntil([&] { return !window.Controller().Busy(); });
  }

 private Q_SLOTS:
  void init() {
    QVERIFY(dir_.isValid());
    QDir(dir_.path()).removeRecursively();
    QVERIFY(QDir().mkpath(dir_.path() + QStringLiteral("/home")));
    QVERIFY(QDir().mkpath(dir_.path() + QStringLiteral("/out")));
    home_ = dir_.path() + QStringLiteral("/home");
    clock_ = std::make_unique<GateClock>();
    env_ = remoteccm::ProfileEnvironment();
    env_.program_home = home_.toStdString();
    env_.registry = remoteccm::TRegAccess(Path(QStringLiteral("install.ini")));
    env_.clock = clock_.get();
    db_.Connect(remoteccm::testing::NewSqliteDatabase(Path(QStringLiteral("cdr.db"))), "CDR", "",
                "");
    remoteccm::testing::CreateCdrTable(db_);
    InsertCalls(3);
    WriteProfile("SITE", {});
  }

  void cleanup() { db_.Disconnect(); }

  void connectRunsTheProfile() {
    auto window = Open({"/CONFIG", "SITE"});
    QCOMPARE(window->windowTitle(), QStringLiteral("Quorvan Remote CCM  SITE"));
    // Alt+C presses Connect (and only Connect).
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    auto* connect = Child<QPushButton>(window.get(), "ConnectBtn1");
    bool finished = false;
    QObject::connect(&window->Controller(), &remoteccm::gui::RunController::RunFinished,
                     window.get(), [&] { finished = true; });
    QTest::keyClick(window->windowHandle(), Qt::Key_C, Qt::AltModifier);
    // A mnemonic that two controls share would only move the focus between them.
    QVERIFY(connect->isDown());
    WaitUntil([&] { return finished; });
    QCOMPARE(DestinationLines().size(), 3);
    const QString memo = Memo(*window);
    QVERIFY2(memo.contains(QStringLiteral("Retrieved: 3 records.")), qPrintable(memo));
    QVERIFY(memo.endsWith(QStringLiteral("Close")));
    QCOMPARE(Child<QLabel>(window.get(), "DetailsLabel1")->text(),
             QStringLiteral("Selected All Records"));
    QCOMPARE(Child<QLabel>(window.get(), "DetailsLabel2")->text(),
             QStringLiteral("Operation Completed."));
    QCOMPARE(Caption(window.get(), "ConnectBtn1"), QStringLiteral("&Connect"));
    QVERIFY(Child(window.get(), "ProfilePanel1")->isEnabled());
    QVERIFY(Child(window.get(), "Close1")->isEnabled());
    QCOMPARE(window->windowTitle(), QStringLiteral("Quorvan Remote CCM "));
    QVERIFY(window->isVisible());
    // Monitoring sees the run as it sees remoteccm-cli's.
    const remoteccm::StatusFileRead status = remoteccm::ReadStatusFile(
        remoteccm::StatusFilePath(QString(home_ + QStringLiteral("/SITE.CCM")).toStdString()));
    QVERIFY2(status.record.has_value(), status.error.c_str());
    QCOMPARE(status.record->run.records_collected, std::int64_t{3});
    QCOMPARE(status.record->exit_status, 0);
  }

  // The pause bar runs, the question holds the pause clock, Yes stops the run at once, and the
  // next run starts afresh.
  void abortStopsTheRun() {
    WriteProfile("SITE", {{"ConnectSQLMode", "By SQL Query"},
                          {"ConnectSQL0", "SELECT * FROM CallDetailRecord"},
                          {"ConnectSQL1", "<end>"},
                          {"PollAgain", "Y"},
                          {"WaitBeforePollingAgain", "5"}});
    auto window = Open({"/CONFIG", "SITE"});
    clock_->SetOpen(false);
    const auto open_gate = qScopeGuard([&] { clock_->SetOpen(true); });  // also on a failure
    Child<QPushButton>(window.get(), "ConnectBtn1")->click();
    WaitUntil([&] { return clock_->Ticks() == 1; });  // in the pause
    auto* status2 = Child<QLabel>(window.get(), "DetailsLabel2");
    WaitUntil([&] { return status2->text() == QStringLiteral("Pause: 5 Seconds"); });
    QVERIFY(!Child(window.get(), "FileProgBar1")->isHidden());
    QCOMPARE(Caption(window.get(), "ConnectBtn1"), QStringLiteral("Abort"));
    QVERIFY(!Child(window.get(), "PropertiesBtn1")->isEnabled());

    bool held_while_asking = false;
    MessageBox::setNextAnswer(
        QMessageBox::No, [&] { held_while_asking = window->Controller().pause_clock().Held(); });
    Child<QPushButton>(window.get(), "ConnectBtn1")->click();
    QVERIFY(held_while_asking);
    QVERIFY(!window->Controller().pause_clock().Held());
    QVERIFY(Child(window.get(), "ConnectBtn1")->isEnabled());

    MessageBox::setNextAnswer(QMessageBox::Yes);
    Child<QPushButton>(window.get(), "ConnectBtn1")->click();
    QCOMPARE(MessageBox::lastText(),
             QStringLiteral("Are you sure you want to abort the operation?"));
    QVERIFY(!Child(window.get(), "ConnectBtn1")->isEnabled());
    clock_->SetOpen(true);
    WaitUntil([&] { return !window->Controller().Busy(); });
    QCOMPARE(clock_->Ticks(), 1);
    QVERIFY(Memo(*window).contains(QStringLiteral("Aborted...")));
    QCOMPARE(status2->text(), QStringLiteral("Operation Aborted."));
    QVERIFY(Child(window.get(), "ConnectBtn1")->isEnabled());

    WriteProfile("SITE", {});
    RunToEnd(*window);
    QCOMPARE(status2->text(), QStringLiteral("Operation Completed."));
  }

  // A stop asked for as soon as the run is asked for, whether its thread has begun or not, is
  // kept: the run ends aborted (how far it got first is the threads' order).
  void aStopAsTheRunStartsIsKept() {
    auto window = Open({"/CONFIG", "SITE"});
    int status = -1;
    QObject::connect(&window->Controller(), &remoteccm::gui::RunController::RunFinished,
                     window.get(), [&](int run_status) { status = run_status; });
    window->Controller().StartRun(Path(QStringLiteral("home/SITE.CCM")), false);
    window->Controller().RequestAbort();
    WaitUntil([&] { return status >= 0; });
    QCOMPARE(status, static_cast<int>(remoteccm::RunStatus::kAborted));
  }

  void startUp_data() {
    QTest::addColumn<QStringList>("params");
    QTest::addColumn<bool>("runs_at_once");
    QTest::addColumn<bool>("minimised");
    QTest::addColumn<bool>("connect_closes");  // a run started with Connect closes the window
    QTest::addColumn<int>("exit_status");
    const QString s = QStringLiteral("SITE");
    QTest::newRow("none: the last profile") << QStringList() << false << false << false << 0;
    QTest::newRow("SITE") << QStringList{s} << true << true << true << 0;
    QTest::newRow("SITE /VISIBLE")
        << QStringList{s, QStringLiteral("/VISIBLE")} << true << false << true << 0;
    QTest::newRow("/CONFIG SITE") << QStringList{QStringLiteral("/CONFIG"), s} << false << false
                                  << false << 0;
    QTest::newRow("SITE /CONFIG") << QStringList{s, QStringLiteral("/CONFIG")} << false << false
                                  << true << 0;
    QTest::newRow("/config SITE") << QStringList{QStringLiteral("/config"), s} << false << false
                                  << true << 0;
    QTest::newRow("/DEFAULT") << QStringList{QStringLiteral("/DEFAULT")} << true << true << true
                              << 0;
    QTest::newRow("/CONFIG /DEFAULT: runs, stays open")
        << QStringList{QStringLiteral("/CONFIG"), QStringLiteral("/DEFAULT")} << true << false
        << false << 0;
    QTest::newRow("/ENTITYX SITE")
        << QStringList{QStringLiteral("/ENTITYX"), s} << true << true << true << 0;
    QTest::newRow("refused connection: logged, no box")
        << QStringList{QStringLiteral("DOWN")} << true << true << true << 4;
    QTest::newRow("unusable settings")
        << QStringList{QStringLiteral("BLANK")} << true << true << true << 3;
    QTest::newRow("garbage profile")
        << QStringList{QStringLiteral("JUNK")} << true << true << true << 3;
    QTest::newRow("missing driver")
        << QStringList{QStringLiteral("NODRIVER")} << true << true << true << 4;
  }

  void startUp() {
    QFETCH(QStringList, params);
    QFETCH(bool, runs_at_once);
    QFETCH(bool, minimised);
    QFETCH(bool, connect_closes);
    QFETCH(int, exit_status);
    WriteProfile("DOWN",
                 {{"SQLConnectionString", "Provider=MSDASQL;Driver=SQLite3;Database=" +
                                              Path(QStringLiteral("no-such-folder/cdr.db"))}});
    WriteProfile("BLANK", {{"SQLConnectionString", "Database=nowhere"}});
    WriteProfile("NODRIVER", {{"SQLConnectionString", "Driver=No Such Driver;Database=x"}});
    QFile junk(home_ + QStringLiteral("/JUNK.CCM"));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray("\xff\x00[Options\r\n=\x00\x01SQLConnectionString\n[[\r", 32));
    junk.close();
    remoteccm::SaveLastProfile(env_.registry, home_.toStdString() + "/SITE.CCM");
    remoteccm::CommandLine line;
    for (const QString& p : params) line.push_back(p.toStdString());
    MessageBox::setNextAnswer(QMessageBox::NoButton);
    const QString no_box = MessageBox::lastText();

    auto window = std::make_unique<TMainFrm>(env_, *clock_, line);
    window->ShowAtStart();
    QCOMPARE(window->isMinimized(), minimised);
    WaitUntil([&] { return window->StartedUp() && !window->Controller().Busy(); });
    QCOMPARE(DestinationLines().isEmpty(), !runs_at_once || exit_status != 0);
    QCOMPARE(window->isVisible(), !runs_at_once || !connect_closes);
    QCOMPARE(window->ExitStatus(), exit_status);
    QCOMPARE(MessageBox::lastText(), no_box);  // an unattended run asks nothing
    if (runs_at_once && exit_status == 4) {
      QVERIFY(Memo(*window).contains(QStringLiteral("Error: Connection Failed.")));
    }
    if (runs_at_once) return;
    QVERIFY(!window->isMinimized());
    RunToEnd(*window);
    QCOMPARE(DestinationLines().size(), 3);
    QCOMPARE(window->isVisible(), !connect_closes);
    QCOMPARE(remoteccm::ReadLastProfile(env_.registry), home_.toStdString() + "/SITE.CCM");
  }

  void missingProfileOpensToBeCreated() {
    auto window = Open({"NEWSITE"});
    QVERIFY(window->isVisible());
    QCOMPARE(Caption(window.get(), "PropertiesBtn1"), QStringLiteral("Create Profile"));
    QVERIFY(!Child(window.get(), "ConnectBtn1")->isEnabled());
    QCOMPARE(Child<QComboBox>(window.get(), "Profilenamebox1")->currentText(),
             QStringLiteral("NEWSITE"));
    QVERIFY(DestinationLines().isEmpty());
    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(Child(window.get(), "Login1"), &leave);
    QVERIFY(QFile::exists(home_ + QStringLiteral("/NEWSITE.CCM")));
    QVERIFY(Child(window.get(), "ConnectBtn1")->isEnabled());
  }

  void interactiveConnectionErrorIsShownInABox() {
    WriteProfile("SITE", {{"SQLConnectionString", "Provider=MSDASQL;Driver=SQLite3;Database=" +
                                                      Path(QStringLiteral("none/cdr.db"))}});
    auto window = Open({"/CONFIG", "SITE"});
    MessageBox::setNextAnswer(QMessageBox::Ok);
    RunToEnd(*window);
    QVERIFY(!MessageBox::lastText().isEmpty());
    const QString memo = Memo(*window);
    QVERIFY(memo.contains(QStringLiteral("Error: Connection Failed.")));
    QVERIFY(memo.contains(QStringLiteral("Cannot Connect to CCM SQL Server!\nQuit\nClose")));
  }

  // The combo's clean-up, the edits that save, Remove with its question, Add cancelled, and a
  // refused write shown in a box.
  void profilesFromTheWindow() {
    WriteProfile("BRANCH", {});
    auto window = Open({"/CONFIG", "SITE"});
    auto* combo = Child<QComboBox>(window.get(), "Profilenamebox1");
    QCOMPARE(combo->count(), 2);

    combo->setEditText(QStringLiteral("My.Site 2"));
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    QCOMPARE(combo->currentText(), QStringLiteral("MySite2"));
    QCOMPARE(window->Settings().profile_path, home_.toStdString() + "/MySite2.CCM");
    QVERIFY(Child(window.get(), "ConnectBtn1")->isEnabled());
    auto* login = Child<QLineEdit>(window.get(), "Login1");
    login->setText(QStringLiteral("alice"));
    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(login, &leave);
    QVERIFY(QFile::exists(home_ + QStringLiteral("/MySite2.CCM")));
    QCOMPARE(combo->count(), 3);
    QCOMPARE(window->windowTitle(), QStringLiteral("Quorvan Remote CCM  MySite2"));

    combo->setCurrentIndex(combo->findText(QStringLiteral("BRANCH")));
    MessageBox::setNextAnswer(QMessageBox::No);
    Child<QAction>(window.get(), "Remove1")->trigger();
    QVERIFY(QFile::exists(home_ + QStringLiteral("/BRANCH.CCM")));
    MessageBox::setNextAnswer(QMessageBox::Yes);
    Child<QAction>(window.get(), "Remove1")->trigger();
    QVERIFY(!QFile::exists(home_ + QStringLiteral("/BRANCH.CCM")));
    QCOMPARE(combo->count(), 2);
    QCOMPARE(combo->currentText(), combo->itemText(0));
    QCOMPARE(window->Settings().profile_path, home_.toStdString() + "/MySite2.CCM");

    QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
    Child<QAction>(window.get(), "Add1")->trigger();
    QCOMPARE(window->Settings().profile_path, home_.toStdString() + "/MySite2.CCM");
    QCOMPARE(combo->currentText(), QStringLiteral("MySite2"));

    QVERIFY(QDir(home_).mkdir(QStringLiteral("LOCKED.CCM")));  // a folder: no file can go there
    combo->setEditText(QStringLiteral("LOCKED"));
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    QApplication::sendEvent(login, &leave);
    QVERIFY2(MessageBox::lastText().startsWith(QStringLiteral("Unable to write to")),
             qPrintable(MessageBox::lastText()));
    QVERIFY(Child(window.get(), "ConnectBtn1")->isEnabled());
  }

  void deleteAllAfterTheQuestion() {
    auto window = Open({"/CONFIG", "SITE"});
    auto* command = Child<QPushButton>(window.get(), "DeleteAllRecs1");
    QVERIFY(command->isHidden());
    Child<QPushButton>(window.get(), "DelFlagBtn1")->click();
    QVERIFY(!command->isHidden());
    QCOMPARE(Caption(window.get(), "DelFlagBtn1"), QStringLiteral(">"));
    MessageBox::setNextAnswer(QMessageBox::No);
    command->click();
    QVERIFY(!window->Controller().Busy());
    QCOMPARE(ServerRows(), 3);
    MessageBox::setNextAnswer(QMessageBox::Yes);
    command->click();
    WaitUntil([&] { return !window->Controller().Busy(); });
    QCOMPARE(ServerRows(), 0);
    QVERIFY(Memo(*window).endsWith(QStringLiteral("Open Connection cdr\nDeleted Records\nDone")));
  }

  // The designed sizes less the frame, growing with the font: nothing cut, no strip left empty
  // under the buttons, and in every state of the window one control for each mnemonic.
  void windowSizesAndKeys_data() {
    QTest::addColumn<double>("scale");
    QTest::newRow("the desktop's font") << 1.0;
    QTest::newRow("1.5 times as large") << 1.5;
  }

  void windowSizesAndKeys() {
    QFETCH(double, scale);
    QCOMPARE(remoteccm::gui::ExpandedLeft(1024, 642), 282);
    QCOMPARE(remoteccm::gui::ExpandedLeft(700, 642), 1);
    QCOMPARE(remoteccm::gui::ExpandedLeft(600, 642), 0);
    const remoteccm::testing::ScaledAppFont font(scale);
    auto window = Open({"/CONFIG", "NOFILE"});
    const QSize compact = window->size();
    const auto check = [&](const char* state, int designed_width) {
      QVERIFY2(window->width() >= qRound(designed_width * scale), state);
      for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(window.get())) continue;
        const QString what = QLatin1String(state) + QLatin1Char(' ') + widget->objectName();
        QVERIFY2(widget->parentWidget()->rect().contains(widget->geometry()), qPrintable(what));
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
          const QString text = button->text().remove(QLatin1Char('&'));
          QVERIFY2(button->width() >= button->fontMetrics().horizontalAdvance(text) + 4,
                   qPrintable(what));
        } else if (auto* label = qobject_cast<QLabel*>(widget); label && !label->wordWrap()) {
          QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(what));
        }
      }
      const QWidget* connect = Child(window.get(), "ConnectBtn1");
      const int below =
          window->height() - connect->mapTo(window.get(), QPoint(0, 0)).y() - connect->height();
      QVERIFY2(
          below <= 12,
          qPrintable(
              QStringLiteral("%1: %2 px under the buttons").arg(QLatin1String(state)).arg(below)));
      const QStringList collisions = remoteccm::testing::MnemonicCollisions(window.get());
      QVERIFY2(collisions.isEmpty(), qPrintable(collisions.join(QLatin1Char('\n'))));
    };
    check("compact", remoteccm::gui::kCompactWidth - 8);
    Child<QPushButton>(window.get(), "DelFlagBtn1")->click();
    check("delete-all shown", remoteccm::gui::kCompactWidth - 8);
    Child<QPushButton>(window.get(), "DelFlagBtn1")->click();
    Child<QPushButton>(window.get(), "TermBtn1")->click();
    QCOMPARE(window->height(), compact.height());
    QCOMPARE(Caption(window.get(), "TermBtn1"), QStringLiteral("<<"));
    QVERIFY(Child(window.get(), "Memo1")->isVisible());
    check("expanded", remoteccm::gui::kExpandedWidth - 8);
    Child<QPushButton>(window.get(), "TermBtn1")->click();
    QCOMPARE(window->size(), compact);
    QCOMPARE(Caption(window.get(), "TermBtn1"), QStringLiteral(">>"));
    auto* menu = Child<QMenu>(window.get(), "PopupMenu1");
    QVERIFY2(remoteccm::testing::MnemonicCollisions(menu).isEmpty(),
             qPrintable(remoteccm::testing::MnemonicCollisions(menu).join(QLatin1Char('\n'))));
  }

  // Leaving the box after typing a name opens that profile (one without a file yet, to be
  // created), as Enter does; a value typed afterwards goes to the profile the box shows.
  void leavingTheProfileBoxOpensTheNameTyped() {
    WriteProfile("WATCH", {{"Login", "watcher"}});
    auto window = Open({"/CONFIG", "WATCH"});
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    auto* combo = Child<QComboBox>(window.get(), "Profilenamebox1");
    auto* login = Child<QLineEdit>(window.get(), "Login1");
    combo->setFocus();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo, QStringLiteral("NEW.TWO"));
    QTest::keyClick(combo, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), login);
    QCOMPARE(combo->currentText(), QStringLiteral("NEWTWO"));
    QCOMPARE(window->Settings().profile_path, home_.toStdString() + "/NEWTWO.CCM");
    login->selectAll();
    QTest::keyClicks(login, QStringLiteral("newlogin"));
    QTest::keyClick(login, Qt::Key_Tab);
    QCOMPARE(combo->currentText(), QStringLiteral("NEWTWO"));
    const std::string home = home_.toStdString();
    QCOMPARE(remoteccm::ReadProfileValue(home + "/NEWTWO.CCM", remoteccm::kProfileSection, "Login"),
             std::string("newlogin"));
    QCOMPARE(remoteccm::ReadProfileValue(home + "/WATCH.CCM", remoteccm::kProfileSection, "Login"),
             std::string("watcher"));
  }

  // Connect from the button, from Alt+C or from the box's own pop-up runs the profile the box
  // holds, typed and not left yet.
  void connectRunsTheNameTyped_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("the button") << QStringLiteral("button");
    QTest::newRow("Alt+C") << QStringLiteral("Alt+C");
    QTest::newRow("the pop-up's Connect") << QStringLiteral("pop-up");
  }

  void connectRunsTheNameTyped() {
    QFETCH(QString, how);
    WriteProfile("OTHER", {{"DestinationFile", Path(QStringLiteral("out/OTHER.TXT"))}});
    auto window = Open({"/CONFIG", "SITE"});
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    auto* combo = Child<QComboBox>(window.get(), "Profilenamebox1");
    combo->setFocus();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo, QStringLiteral("OTHER"));
    bool finished = false;
    QObject::connect(&window->Controller(), &remoteccm::gui::RunController::RunFinished,
                     window.get(), [&] { finished = true; });
    if (how == QLatin1String("button")) {
      Child<QPushButton>(window.get(), "ConnectBtn1")->click();
    } else if (how == QLatin1String("Alt+C")) {
      QTest::keyClick(window->windowHandle(), Qt::Key_C, Qt::AltModifier);
    } else {
      Child<QAction>(window.get(), "Close2")->trigger();
    }
    WaitUntil([&] { return finished; });
    QCOMPARE(window->Settings().profile_path, home_.toStdString() + "/OTHER.CCM");
    QVERIFY(DestinationLines().isEmpty());
    QCOMPARE(Bytes(QString::fromStdString(Path(QStringLiteral("out/OTHER.TXT")))).count('\n'), 3);
  }

  // A run that fails says what failed in the status area, not what the run before said; a log
  // line wider than the memo reads whole as the tooltip where it stands.
  void aFailedRunSaysWhatFailed() {
    auto window = Open({"/CONFIG", "SITE"});
    RunToEnd(*window);
    auto* status2 = Child<QLabel>(window.get(), "DetailsLabel2");
    QCOMPARE(status2->text(), QStringLiteral("Operation Completed."));
    const std::string destination = Path(QStringLiteral("gone/CDR.TXT"));
    WriteProfile("SITE", {{"DestinationFile", destination}});
    RunToEnd(*window);
    const QString failed = QString::fromStdString("The folder of the destination file " +
                                                  destination + " does not exist.");
    QCOMPARE(status2->text(), QStringLiteral("Operation Failed: ") + failed);
    QCOMPARE(status2->toolTip(), status2->text());
    QCOMPARE(Child<QLabel>(window.get(), "DetailsLabel1")->text(),
             QStringLiteral("Selection: Idle"));

    Child<QPushButton>(window.get(), "TermBtn1")->click();
    auto* memo = Child<QPlainTextEdit>(window.get(), "Memo1");
    window->DrainLog();
    const QTextBlock line = memo->document()->find(failed).block();
    QVERIFY(line.isValid());
    QTextCursor at(line);
    const QPoint where = memo->cursorRect(at).center();
    QHelpEvent ask(QEvent::ToolTip, where, memo->viewport()->mapToGlobal(where));
    QApplication::sendEvent(memo->viewport(), &ask);
    QCOMPARE(QToolTip::text(), failed);
  }

  void memoEmptiesPast100Lines() {
    remoteccm::gui::LogBuffer log;
    log.Clear();
    for (int i = 1; i <= 100; ++i) log.Add("line " + std::to_string(i));
    log.Add("two\r\nlines");
    QCOMPARE(log.LineCount(), 102);
    log.AddDirect("direct");
    QCOMPARE(log.LineCount(), 103);
    log.Take();
    log.Add("fresh");
    const auto changes = log.Take();
    QVERIFY(changes.reset);
    QCOMPARE(changes.lines, std::vector<std::string>{"fresh"});
  }

  void aboutBox_data() {
    QTest::addColumn<QList<int>>("version");
    QTest::addColumn<QString>("shown");
    QTest::newRow("1.1.0.22") << QList<int>{1, 1, 0, 22} << QStringLiteral("1.1.0.022");
    QTest::newRow("2.0.0.0") << QList<int>{2, 0, 0, 0} << QStringLiteral("2.0");
    QTest::newRow("2.10.0.0") << QList<int>{2, 10, 0, 0} << QStringLiteral("2.1");
  }

  void aboutBox() {
    QFETCH(QList<int>, version);
    QFETCH(QString, shown);
    QCOMPARE(remoteccm::gui::VersionText(version[0], version[1], version[2], version[3], true),
             shown);
    remoteccm::gui::TAboutBox box;
    box.Refresh();
    auto* facts = Child<QListWidget>(&box, "lbVerItems");
    QCOMPARE(facts->item(0)->text(), QStringLiteral("Product Version"));
    QCOMPARE(facts->currentItem()->text(), QStringLiteral("Operating System"));
    QCOMPARE(Child<QPlainTextEdit>(&box, "memVerStr")->toPlainText(),
             QSysInfo::prettyProductName());
  }

  // `remoteccm PROFILE` ends with remoteccm-cli's exit status for the same run, also where
  // there is no display.
  void exitStatusIsTheCliStatus_data() {
    QTest::addColumn<QString>("profile");
    QTest::addColumn<int>("status");
    QTest::newRow("success") << QStringLiteral("SITE") << 0;
    QTest::newRow("refused connection") << QStringLiteral("DOWN") << 4;
    QTest::newRow("unusable settings") << QStringLiteral("BLANK") << 3;
  }

  void exitStatusIsTheCliStatus() {
    QFETCH(QString, profile);
    QFETCH(int, status);
    WriteProfile("DOWN", {{"SQLConnectionString", "Provider=MSDASQL;Driver=SQLite3;Database=" +
                                                      Path(QStringLiteral("none/cdr.db"))}});
    WriteProfile("BLANK", {{"SQLConnectionString", "Database=nowhere"}});
    for (const char* program : {REMOTECCM_GUI_PATH, REMOTECCM_CLI_PATH}) {
      QProcess process;
      Start(process, program, {profile});
      QVERIFY(process.waitForFinished(-1));
      QCOMPARE(process.exitStatus(), QProcess::NormalExit);
      QCOMPARE(process.exitCode(), status);
    }
  }

  // A stop signal ends the desktop program's unattended run as an abort (exit status 6, the
  // status file written), as it ends remoteccm-cli's; the companion gets the run's end. The
  // signal comes once the run is in its pause between polls, as the companion is told.
  void aStopSignalAbortsTheRun_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
  }

  void aStopSignalAbortsTheRun() {
    QFETCH(int, signal);
    WriteProfile("SITE", {{"ConnectSQLMode", "By SQL Query"},
                          {"ConnectSQL0", "SELECT * FROM CallDetailRecord"},
                          {"ConnectSQL1", "<end>"},
                          {"PollAgain", "Y"},
                          {"WaitBeforePollingAgain", "3600"}});
    const std::string socket = Path(QStringLiteral("companion.sock"));
    remoteccm::FileDescriptor listener = remoteccm::ListenOnCompanionSocket(socket);
    QProcess program;
    Start(program, REMOTECCM_GUI_PATH, {QStringLiteral("SITE")}, QString::fromStdString(socket));
    remoteccm::FileDescriptor companion(::accept(listener.Get(), nullptr, nullptr));
    std::string heard;
    char buffer[4096];
    ssize_t got = 0;
    while (heard.find("Total Records Retrieved: 3\n") == std::string::npos &&
           (got = ::recv(companion.Get(), buffer, sizeof buffer, 0)) > 0) {
      heard.append(buffer, static_cast<std::size_t>(got));
    }
    ::kill(static_cast<pid_t>(program.processId()), signal);
    QVERIFY(program.waitForFinished(-1));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 6);
    while ((got = ::recv(companion.Get(), buffer, sizeof buffer, 0)) > 0) {
      heard.append(buffer, static_cast<std::size_t>(got));
    }
    // The window's line comes as the signal does, the run's own as it stops: either first.
    const std::string end = heard.substr(heard.find("Total Records Retrieved: 3\n"));
    QVERIFY2(end.ends_with("Aborted...\nOperation Aborted.\nClose\n") ||
                 end.ends_with("Operation Aborted.\nAborted...\nClose\n"),
             heard.c_str());
    const remoteccm::StatusFileRead status = remoteccm::ReadStatusFile(
        remoteccm::StatusFilePath(QString(home_ + QStringLiteral("/SITE.CCM")).toStdString()));
    QVERIFY2(status.record.has_value(), status.error.c_str());
    QCOMPARE(status.record->run.status, remoteccm::RunStatus::kAborted);
    QCOMPARE(status.record->exit_status, 6);
  }

  // A stop while the run logs in to a server that never answers ends the program at once, as
  // it ends remoteccm-cli, not at the login time-out.
  void aStopDuringALoginToASilentServerEndsAtOnce() {
    const remoteccm::testing::SilentServer silent;
    WriteProfile("SITE", {{"SQLConnectionString",
                           "Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=" +
                               std::to_string(silent.port()) + ";Database=CDR;UID=x;PWD=y"}});
    QProcess program;
    Start(program, REMOTECCM_GUI_PATH, {QStringLiteral("SITE")});
    QVERIFY(silent.WaitForClient());
    QElapsedTimer stopped;
    stopped.start();
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    QVERIFY(program.waitForFinished(-1));
    QCOMPARE(program.exitCode(), 6);
    QVERIFY(stopped.elapsed() < remoteccm::kLoginTimeoutSeconds * 1000 / 3);
  }

  // The companion listener gets every line of a run of 20,000 records from both programs, the
  // end of each run included: the desktop program's lines are those remoteccm-cli logs.
  void theCompanionGetsEveryLineFromBothPrograms() {
    db_.Execute(
        "INSERT INTO CallDetailRecord (pkid, cdrRecordType, globalCallID_callId,"
        " dateTimeOrigination, dateTimeDisconnect, callingPartyNumber, duration)"
        " WITH RECURSIVE n(i) AS (SELECT 4 UNION ALL SELECT i + 1 FROM n WHERE i < 20003)"
        " SELECT i, 1, i, 1700000000 + i * 60, 1700000030 + i * 60, '100' || i, 30 FROM n");
    const QString socket = QString::fromStdString(Path(QStringLiteral("companion.sock")));
    const QString heard = QString::fromStdString(Path(QStringLiteral("companion.out")));
    QProcess listener;
    listener.setStandardOutputFile(heard);
    listener.setReadChannel(QProcess::StandardError);
    listener.start(QLatin1String(REMOTECCM_CLI_PATH),
                   {QStringLiteral("--companion-listen"), socket});
    QByteArray said;
    while (!said.contains('\n') && listener.waitForReadyRead(-1)) said += listener.readAll();
    QVERIFY2(said.startsWith("remoteccm-cli: listening at"), said.constData());
    const QString log = QString::fromStdString(Path(QStringLiteral("cli.log")));
    for (const char* program : {REMOTECCM_CLI_PATH, REMOTECCM_GUI_PATH}) {
      QProcess run;
      Start(run, program, {QStringLiteral("SITE")}, socket,
            program == std::string(REMOTECCM_CLI_PATH) ? log : QString());
      QVERIFY(run.waitForFinished(-1));
      QCOMPARE(run.exitCode(), 0);
    }
    listener.terminate();
    QVERIFY(listener.waitForFinished(-1));
    QByteArray one_run;
    for (const QByteArray& line : Bytes(log).split('\n')) {
      if (!line.isEmpty()) one_run += line + '\n';
    }
    QVERIFY(one_run.count('\n') > 20000);
    QVERIFY(Bytes(heard) == one_run + one_run);
  }
};

QTEST_MAIN(GuiTest)
#include "main_form_test.moc"
