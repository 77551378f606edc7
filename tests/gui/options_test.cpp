// The properties dialog driven through its real widgets on the offscreen platform, from the
// main window's Properties button, over the SQLite ODBC driver (and the PostgreSQL test server
// where REMOTECCM_TEST_PG names one): every page saved as the settings model saves it, Cancel,
// the checks of OK, field selection, a database that cannot be reached or answers late, script
// files, the connection-string builder, the dial-up page, the time there, texts that fit.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "gui/about/about_box.h"
#include "gui/app/designed_size.h"
#include "gui/app/main_form.h"
#include "gui/options/conn_builder.h"
#include "gui/options/conn_string_edit.h"
#include "gui/options/connect_page.h"
#include "gui/options/db_worker.h"
#include "gui/options/opt_form.h"
#include "gui/seams/file_dialog.h"
#include "gui/seams/message_box.h"
#include "platform/db/connection_builder.h"
#include "platform/db/database.h"
#include "profile/profile_file.h"
#include "support/cdr_database.h"
#include "support/fake_clock.h"
#include "support/mnemonics.h"
#include "support/scaled_font.h"
#include "support/widgets.h"

using remoteccm::gui::FileDialog;
using remoteccm::gui::MessageBox;
using remoteccm::gui::TMainFrm;
using remoteccm::gui::TOptFrm;
using remoteccm::testing::Child;
using remoteccm::testing::WaitUntil;

namespace {

// 2027-01-15 08:00:00 UTC.
constexpr double kNow = 1'800'000'000;

// Runs act on the next modal window once it is up; one still open afterwards is closed.
void WhenModalOpens(const std::function<void(QWidget*)>& act) {
  QTimer::singleShot(0, [act] {
    WaitUntil([] { return QApplication::activeModalWidget() != nullptr; });
    QWidget* modal = QApplication::activeModalWidget();
    const QPointer<QWidget> guard(modal);
    act(modal);
    if (guard && guard->isVisible()) qobject_cast<QDialog*>(modal)->reject();
  });
}

QByteArray Bytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void Put(const QString& path, const QByteArray& content) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(content);
}

// A CDR file of one call, last changed at `modified` (seconds since 1970).
void PutCdrFile(const QString& path, int pkid, double modified) {
  Put(path,
      "\"cdrRecordType\",\"pkid\",\"dateTimeDisconnect\",\"callingPartyNumber\"\n"
      "INTEGER,UNIQUEIDENTIFIER,INTEGER,VARCHAR(50)\n1,\"PK-" +
          QByteArray::number(pkid) + "\",1793491260,\"2001\"\n");
  QFile file(path);
  QVERIFY(file.open(QIODevice::ReadWrite));
  QVERIFY(file.setFileTime(QDateTime::fromSecsSinceEpoch(static_cast<qint64>(modified)),
                           QFileDevice::FileModificationTime));
}

int ZoneIndex(QComboBox* zones, const char* id) {
  for (int i = 0; i < zones->count(); ++i) {
    if (zones->itemText(i).endsWith(QLatin1String(id))) return i;
  }
  qFatal("no zone %s", id);
}

QStringList GridNames(QWidget* form) {
  auto* grid = Child<QTableWidget>(form, "CCMFldStringGrid1");
  QStringList names;
  for (int row = 0; row < grid->rowCount(); ++row) {
    names.append(grid->item(row, 0)->text() + QLatin1Char('=') + grid->item(row, 1)->text());
  }
  return names;
}

QString SelectedLabel(QWidget* form) { return Child<QLabel>(form, "SelectFldLabel")->text(); }

void SelectField(QWidget* form, const char* name) {
  auto* list = Child<QListWidget>(form, "CDRFieldsListBox1");
  const auto found = list->findItems(QLatin1String(name), Qt::MatchExactly);
  if (found.isEmpty()) qFatal("no column %s", name);
  list->setCurrentItem(found.first());
  Child<QPushButton>(form, "SelectFldBtn")->click();
}

void SetWidth(QWidget* form, int row, const QString& width) {
  Child<QTableWidget>(form, "CCMFldStringGrid1")->item(row, 1)->setText(width);
}

// A phone book of two entries, each with its stored dial parameters.
class PhoneBookDialer : public remoteccm::UnavailableDialer {
 public:
  int ListEntries(std::vector<std::string>& names) override {
    names = {"Head office", "Branch"};
    return 0;
  }
  int GetDialParams(const std::string& entry, remoteccm::DialParams& params) override {
    if (stored.count(entry) == 0) return 1;
    params = stored[entry];
    return 0;
  }
  int SetDialParams(const std::string& entry, const remoteccm::DialParams& params) override {
    stored[entry] = params;
    return 0;
  }
  int EditEntry(const std::string&) override { return edit_result; }
  std::string ErrorText(int code) override {
    if (code == kLongError) {
      return "NetworkManager: Connection activation failed: the VPN service stopped "
             "unexpectedly while the secrets of the connection were asked for";
    }
    return UnavailableDialer::ErrorText(code);
  }
  static constexpr int kLongError = 77;
  int edit_result = 0;
  std::map<std::string, remoteccm::DialParams> stored = {
      {"Head office", {"555", "", "hq-user", "hq-pw", "HQ"}},
      {"Branch", {"556", "", "br-user", "", "BR"}}};
};

}  // namespace

class OptionsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QTemporaryDir nm_dir_;  // the stand-in NetworkManager, kept from test to test
  QString home_;
  std::vector<remoteccm::TimeZoneEntry> zones_;
  remoteccm::ProfileEnvironment env_;
  remoteccm::testing::FakeClock clock_{kNow};
  remoteccm::DbConnection db_;

  std::string Path(const QString& relative) const {
    return QDir(dir_.path()).filePath(relative).toStdString();
  }
  QString HomeFile(const char* name) const {
    return home_ + QLatin1Char('/') + QLatin1String(name);
  }
  std::string Sqlite(const char* file = "cdr.db") const {
    return "Provider=MSDASQL;Driver=SQLite3;Database=" + Path(QLatin1String(file));
  }

  void WriteProfile(const char* name, const std::map<std::string, std::string>& keys) {
    std::map<std::string, std::string> all = {
        {"Login", "cdr"},
        {"ServerName", "ccm1"},
        {"DestinationFile", Path(QStringLiteral("out/CDR.TXT"))},
        {"ConnectSQLMode", "All Records"},
        {"SQLConnectionString", Sqlite()},
        {"SQLTimeZoneOption", "3"},
        {"SQLTimeZoneOffset", "-5"},
        {"PollAgain", "N"},
        {"WaitBeforePollingAgain", "0"}};
    for (auto& [key, value] : keys) all[key] = value;
    QByteArray content("[Options]\r\n");
    for (auto& [key, value] : all) content += QByteArray::fromStdString(key + "=" + value + "\r\n");
    Put(HomeFile(name) + QStringLiteral(".CCM"), content);
  }

  std::unique_ptr<TMainFrm> Open(const char* profile = "SITE") {
    auto window =
        std::make_unique<TMainFrm>(env_, clock_, remoteccm::CommandLine{"/CONFIG", profile});
    window->ShowAtStart();
    WaitUntil([&] { return window->StartedUp(); });
    return window;
  }

  // Properties, then act on the dialog once its columns are read.
  static void InDialog(TMainFrm& window, const std::function<void(TOptFrm*)>& act) {
    bool ran = false;
    WhenModalOpens([&](QWidget* modal) {
      auto* form = qobject_cast<TOptFrm*>(modal);
      WaitUntil([&] { return !form->ReadingColumns(); });
      ran = true;
      act(form);
    });
    Child<QPushButton>(&window, "PropertiesBtn1")->click();
    QVERIFY(ran);
  }

  static void Page(TOptFrm* form, const char* page) {
    Child<QTabWidget>(form, "PageControl1")->setCurrentWidget(Child(form, page));
  }

 private Q_SLOTS:
  void initTestCase() {
    zones_ = remoteccm::LoadTimeZones(remoteccm::DefaultZoneinfoDir());
    // The window's dialer finds a stopped stand-in NetworkManager and an editor that fails,
    // whatever this machine has.
    const std::string bin = nm_dir_.filePath(QStringLiteral("bin")).toStdString();
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(nm_dir_.filePath(QStringLiteral("nm")).toStdString());
    std::filesystem::create_symlink(REMOTECCM_SOURCE_DIR "/tests/platform/dialup/fake-nmcli",
                                    bin + "/nmcli");
    std::filesystem::create_symlink("/bin/false", bin + "/nm-connection-editor");
    qputenv("FAKE_NM_DIR", nm_dir_.filePath(QStringLiteral("nm")).toUtf8());
    qputenv("PATH", QByteArray::fromStdString(bin) + ':' + qgetenv("PATH"));
  }

  void init() {
    QVERIFY(dir_.isValid());
    QDir(dir_.path()).removeRecursively();
    QVERIFY(QDir().mkpath(dir_.path() + QStringLiteral("/home")));
    QVERIFY(QDir().mkpath(dir_.path() + QStringLiteral("/out")));
    home_ = dir_.path() + QStringLiteral("/home");
    env_ = remoteccm::ProfileEnvironment();
    env_.program_home = home_.toStdString();
    env_.zones = &zones_;
    env_.registry = remoteccm::TRegAccess(Path(QStringLiteral("install.ini")));
    env_.clock = &clock_;
    db_.Connect(remoteccm::testing::NewSqliteDatabase(Path(QStringLiteral("cdr.db"))), "", "", "");
    remoteccm::testing::CreateCdrTable(db_);
    db_.Execute(
        "INSERT INTO CallDetailRecord (pkid, cdrRecordType, dateTimeOrigination,"
        " dateTimeDisconnect, callingPartyNumber, duration) VALUES ('1', 1, 1700000000,"
        " 1700000030, '1001', 30)");
    WriteProfile("SITE", {});
  }

  void cleanup() {
    db_.Disconnect();
    MessageBox::setNextAnswer(QMessageBox::NoButton);
  }

  // A change on every page, then OK: the file is the one the settings model writes for the
  // same settings; CCM_FIELDS.INF holds the default selection.
  void everyPageSavedAsTheSettingsModelWritesIt() {
    const QString expected_home = dir_.path() + QStringLiteral("/expected");
    QVERIFY(QDir().mkpath(expected_home));
    QVERIFY(QFile::copy(HomeFile("SITE.CCM"), expected_home + QStringLiteral("/SITE.CCM")));
    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      Child<QLineEdit>(form, "ServerName1")->setText(QStringLiteral("ccm2.example.com"));
      Child<QCheckBox>(form, "UseDialupCheckBox1")->setChecked(true);
      Child<QLineEdit>(form, "UserNameEdit")->setText(QStringLiteral("dialer"));
      Child<QLineEdit>(form, "PasswordEdit")->setText(QStringLiteral("dial pw"));
      Child<QLineEdit>(form, "DomainEdit")->setText(QStringLiteral("CORP"));
      Child<QLineEdit>(form, "Login1")->setText(QStringLiteral("alice"));
      Child<QLineEdit>(form, "Password1")->setText(QStringLiteral("s3cret"));
      Child<QLineEdit>(form, "DestFileName1")
          ->setText(QString::fromStdString(Path(QStringLiteral("out/NEW.TXT"))));
      Child<QCheckBox>(form, "Overwrite1")->setChecked(true);
      Child<QCheckBox>(form, "SQLBackup1")->setChecked(true);
      Child<QComboBox>(form, "RetrieveListBox1")->setCurrentIndex(4);
      Child<QPlainTextEdit>(form, "ConnectSQL1")
          ->setPlainText(QStringLiteral("SELECT * FROM CallDetailRecord\n  WHERE duration > 0"));
      Child<QPlainTextEdit>(form, "DisconnectSQL1")
          ->setPlainText(QStringLiteral("DELETE FROM CallDetailRecord"));
      Child<QSpinBox>(form, "NewRecSpinEdit1")->setValue(5);
      Child<QComboBox>(form, "NewRecComboBox1")->setCurrentIndex(1);
      Child<QSpinBox>(form, "LateArrivalSpinEdit1")->setValue(90);
      Child<QDateEdit>(form, "SQLFromDateTimePicker1")->setDate(QDate(2026, 1, 2));
      Child<QDateEdit>(form, "SQLToDateTimePicker1")->setDate(QDate(2026, 1, 5));
      Child<QSpinBox>(form, "SQLDateRangeSpinEdit1")->setValue(2);
      Child<QComboBox>(form, "SQLDateRangeComboBox1")->setCurrentIndex(0);
      Child<QCheckBox>(form, "SQLDeleteRecsChkBox1")->setChecked(true);
      Child<QCheckBox>(form, "PollAgain1")->setChecked(false);
      Child<QSpinBox>(form, "WaitBeforePollingAgain1")->setValue(7);
      Child<QRadioButton>(form, "TZSelectedRadioButton1")->setChecked(true);
      auto* zones = Child<QComboBox>(form, "TZComboBox1");
      zones->setCurrentIndex(ZoneIndex(zones, "Europe/Berlin"));
      Child<QPushButton>(form, "OkBtn")->click();
      QVERIFY(!form->isVisible());
    });

    remoteccm::ProfileEnvironment expected_env = env_;
    expected_env.program_home = expected_home.toStdString();
    const std::string expected_path = expected_home.toStdString() + "/SITE.CCM";
    remoteccm::ProfileSettings s = remoteccm::LoadProfile(expected_path, expected_env);
    s.server_name = "ccm2.example.com";
    s.use_dialup = true;
    s.dial_user_name = "dialer";
    s.dial_password = "dial pw";
    s.dial_domain = "CORP";
    s.login = "alice";
    s.password = "s3cret";
    s.destination_file = Path(QStringLiteral("out/NEW.TXT"));
    s.overwrite = s.sql_backup = true;
    s.connect_sql_mode = remoteccm::RetrievalMode::kBySqlQuery;
    s.connect_sql = {"SELECT * FROM CallDetailRecord", "  WHERE duration > 0"};
    s.disconnect_sql = {"DELETE FROM CallDetailRecord"};
    s.new_rec_incr_value = 5;
    s.new_rec_incr_mode = remoteccm::IncrementMode::kHours;
    s.late_arrival_minutes = 90;
    s.from_date_range = static_cast<double>(QDate(1899, 12, 30).daysTo(QDate(2026, 1, 2)));
    s.to_date_range = static_cast<double>(QDate(1899, 12, 30).daysTo(QDate(2026, 1, 5)));
    s.date_range_incr_value = 2;
    s.date_range_incr_mode = remoteccm::IncrementMode::kMinutes;
    s.delete_recs = true;
    s.poll_again = false;
    s.wait_before_polling_again = 7;
    s.time_zone_option = remoteccm::TimeZoneOption::kSelected;
    const int berlin = remoteccm::FindTimeZone(zones_, "Europe/Berlin");
    s.time_zone_name = zones_[static_cast<std::size_t>(berlin)].display_name;
    s.time_zone_rule = zones_[static_cast<std::size_t>(berlin)].rule;
    s.sql_database_name = Path(QStringLiteral("cdr.db"));  // the string's Database=
    remoteccm::SaveProfile(s, expected_env);
    QCOMPARE(Bytes(HomeFile("SITE.CCM")), Bytes(QString::fromStdString(expected_path)));
    QCOMPARE(Bytes(HomeFile("CCM_FIELDS.INF")),
             QByteArray("[CCM_FIELDS]\r\ncdrRecordType=1\r\ndateTimeOrigination=22\r\n"
                        "callingPartyNumber=22\r\noriginalCalledPartyNumber=24\r\nduration=8\r\n"
                        "clientMatterCode=16\r\n"));
  }

  // Cancel after changes on every kind of page leaves both files byte for byte; the page that
  // was current is current again at the next showing.
  void cancelLeavesTheFilesUntouched() {
    Put(HomeFile("CCM_FIELDS.INF"), "[CCM_FIELDS]\r\nduration = 8\r\nCSV=N\r\n");
    const QByteArray profile = Bytes(HomeFile("SITE.CCM"));
    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      QCOMPARE(GridNames(form), QStringList{QStringLiteral("duration=8")});
      Child<QLineEdit>(form, "ProfileName1")->setText(QStringLiteral("OTHER"));
      Child<QComboBox>(form, "RetrieveListBox1")->setCurrentIndex(3);
      Child<QRadioButton>(form, "TZComputerRadioButton1")->setChecked(true);
      SelectField(form, "pkid");
      Page(form, "LoginTabSheet1");
      Child<QPushButton>(form, "Button2")->click();
    });
    QCOMPARE(Bytes(HomeFile("SITE.CCM")), profile);
    QCOMPARE(Bytes(HomeFile("CCM_FIELDS.INF")),
             QByteArray("[CCM_FIELDS]\r\nduration = 8\r\nCSV=N\r\n"));
    QVERIFY(!QFile::exists(HomeFile("OTHER.CCM")));
    InDialog(*window, [&](TOptFrm* form) {
      QCOMPARE(Child<QTabWidget>(form, "PageControl1")->currentWidget(),
               Child(form, "LoginTabSheet1"));
      QCOMPARE(Child<QLineEdit>(form, "ProfileName1")->text(), QStringLiteral("SITE"));
    });
  }

  // Each check of OK keeps the dialog open with its message and writes nothing.
  void okChecks_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("page");
    QTest::newRow("selected zone, none chosen") << "zone"
                                                << "Please select a time zone."
                                                << "AdvancedTabSheet";
    QTest::newRow("no field") << "clear"
                              << "The Selected Fields list must contain at least one field."
                              << "AdvancedTabSheet";
    QTest::newRow("width 0, not the current row")
        << "width 0"
        << "Field Length cannot be zero nor greater than 40"
        << "AdvancedTabSheet";
    QTest::newRow("width 41") << "width 41"
                              << "Field Length cannot be zero nor greater than 40"
                              << "AdvancedTabSheet";
    QTest::newRow("total 251") << "total 251"
                               << "The total record length (251) must be 250 or less."
                               << "AdvancedTabSheet";
    QTest::newRow("start changed, No")
        << "start"
        << "The data collection retrieve records starting at values have been changed. These "
           "changes will be lost unless the Update button is pressed. Proceed?"
        << "RetrievalTabSheet1";
    QTest::newRow("blank profile name") << "name  "
                                        << "Please enter a profile name."
                                        << "GeneralTabSheet1";
    QTest::newRow("profile name with a slash") << "name a/b"
                                               << "A profile name cannot contain \"/\""
                                               << "GeneralTabSheet1";
  }

  void okChecks() {
    QFETCH(QString, change);
    QFETCH(QString, message);
    QFETCH(QString, page);
    const QByteArray profile = Bytes(HomeFile("SITE.CCM"));
    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      auto* grid = Child<QTableWidget>(form, "CCMFldStringGrid1");
      if (change == QLatin1String("zone")) {
        Child<QRadioButton>(form, "TZSelectedRadioButton1")->setChecked(true);
      } else if (change == QLatin1String("clear")) {
        MessageBox::setNextAnswer(QMessageBox::Yes);
        Child<QPushButton>(form, "ClearFldsBtn")->click();
      } else if (change.startsWith(QLatin1String("width"))) {
        SetWidth(form, 3, change.mid(6));
        grid->setCurrentCell(0, 0);
      } else if (change == QLatin1String("total 251")) {
        for (int row = 1; row < 6; ++row) SetWidth(form, row, QStringLiteral("40"));  // 207
        SelectField(form, "dateTimeConnect");                                         // 230
        SetWidth(form, 6, QStringLiteral("40"));                                      // 248
        SetWidth(form, 0, QStringLiteral("4"));                                       // 251
      } else if (change == QLatin1String("start")) {
        Page(form, "RetrievalTabSheet1");
        Child<QComboBox>(form, "RetrieveListBox1")->setCurrentIndex(2);
        MessageBox::setNextAnswer(QMessageBox::Ok);
        Child<QPushButton>(form, "EditNewRecsBtn")->click();
        Child<QTimeEdit>(form, "NewRecTimePicker1")->setTime(QTime(13, 14));
        Page(form, "GeneralTabSheet1");
        MessageBox::setNextAnswer(QMessageBox::No);
      } else if (change.startsWith(QLatin1String("name"))) {
        Child<QLineEdit>(form, "ProfileName1")->setText(change.mid(5));
      }
      MessageBox::setNextAnswer(change == QLatin1String("start") ? QMessageBox::No
                                                                 : QMessageBox::Ok);
      Child<QPushButton>(form, "OkBtn")->click();
      QVERIFY2(MessageBox::lastText().startsWith(message), qPrintable(MessageBox::lastText()));
      QVERIFY(form->isVisible());
      QCOMPARE(Child<QTabWidget>(form, "PageControl1")->currentWidget()->objectName(), page);
      if (change == QLatin1String("zone")) {
        QVERIFY(Child<QTabWidget>(form, "AdvancedPageControl1")->currentWidget() ==
                Child(form, "AdvTimeZoneTabSheet"));
      }
      if (change.startsWith(QLatin1String("width"))) QCOMPARE(grid->currentRow(), 3);
      if (change == QLatin1String("start")) {
        QCOMPARE(form->focusWidget(), Child(form, "EditNewRecsBtn"));
      }
    });
    QCOMPARE(Bytes(HomeFile("SITE.CCM")), profile);
    QVERIFY(!QFile::exists(HomeFile("CCM_FIELDS.INF")));
  }

  // Add, remove, reorder, widths and the 250-character record against the SQLite table; the
  // grid as written to CCM_FIELDS.INF.
  void fieldSelection() {
    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      QCOMPARE(Child<QListWidget>(form, "CDRFieldsListBox1")->count(), 68);
      QCOMPARE(SelectedLabel(form), QStringLiteral("Selected Fields (99 characters)"));
      auto* grid = Child<QTableWidget>(form, "CCMFldStringGrid1");
      SelectField(form, "dateTimeConnect");
      QCOMPARE(SelectedLabel(form), QStringLiteral("Selected Fields (122 characters)"));
      QCOMPARE(grid->currentRow(), 6);
      SelectField(form, "dateTimeConnect");  // already there: nothing
      QCOMPARE(grid->rowCount(), 7);
      Child<QPushButton>(form, "UpBitBtn")->click();
      Child<QPushButton>(form, "UpBitBtn")->click();
      QCOMPARE(grid->item(4, 0)->text(), QStringLiteral("dateTimeConnect"));
      Child<QPushButton>(form, "DownBitBtn")->click();
      QCOMPARE(grid->currentRow(), 5);
      grid->setCurrentCell(0, 0);
      Child<QPushButton>(form, "RemoveFldBtn")->click();  // cdrRecordType
      QCOMPARE(SelectedLabel(form), QStringLiteral("Selected Fields (120 characters)"));
      // To exactly 250, then one field more is refused.
      for (int row = 0; row < 6; ++row) SetWidth(form, row, QStringLiteral("40"));
      QCOMPARE(SelectedLabel(form), QStringLiteral("Selected Fields (246 characters)"));
      SetWidth(form, 5, QStringLiteral("21"));  // clientMatterCode: 227
      MessageBox::setNextAnswer(QMessageBox::Ok);
      SelectField(form, "origDeviceName");  // 129 wide: refused
      QVERIFY(MessageBox::lastText().startsWith(QStringLiteral("Adding field origDeviceName")));
      SelectField(form, "globalCallID_callId");  // 10 + 1: 238
      SelectField(form, "origSpan");             // 249
      QCOMPARE(SelectedLabel(form), QStringLiteral("Selected Fields (249 characters)"));
      MessageBox::setNextAnswer(QMessageBox::Ok);
      SelectField(form, "cdrRecordType");  // 1 + 1: 251
      QCOMPARE(MessageBox::lastText(),
               QStringLiteral("Adding field cdrRecordType will exceed the 250 record size limit. "
                              "Field not added."));
      SetWidth(form, 7, QStringLiteral("9"));
      SelectField(form, "cdrRecordType");
      QCOMPARE(SelectedLabel(form), QStringLiteral("Selected Fields (250 characters)"));
      // Letters never reach a width; a name is never edited.
      grid->setCurrentCell(1, 1);
      QTest::keyClicks(grid, QStringLiteral("x"));
      QCOMPARE(grid->item(1, 1)->text(), QStringLiteral("40"));
      QVERIFY(!(grid->item(1, 0)->flags() & Qt::ItemIsEditable));
      // A click on another row while this one's width is refused keeps row and highlight here.
      SetWidth(form, 1, QStringLiteral("0"));
      MessageBox::setNextAnswer(QMessageBox::Ok);
      Page(form, "AdvancedTabSheet");
      QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                        grid->visualItemRect(grid->item(4, 0)).center());
      QCOMPARE(MessageBox::lastText(),
               QStringLiteral("Field Length cannot be zero nor greater than 40"));
      QCOMPARE(grid->currentRow(), 1);
      for (const QTableWidgetItem* item : grid->selectedItems()) QCOMPARE(item->row(), 1);
      SetWidth(form, 1, QStringLiteral("40"));
      Child<QPushButton>(form, "OkBtn")->click();
    });
    QCOMPARE(Bytes(HomeFile("CCM_FIELDS.INF")),
             QByteArray("[CCM_FIELDS]\r\ndateTimeOrigination=40\r\ncallingPartyNumber=40\r\n"
                        "originalCalledPartyNumber=40\r\nduration=40\r\ndateTimeConnect=40\r\n"
                        "clientMatterCode=21\r\nglobalCallID_callId=10\r\norigSpan=9\r\n"
                        "cdrRecordType=1\r\n"));
  }

  // What CCM_FIELDS.INF may hold, by mistake or from another source: a column this table lacks
  // (shown in grey), widths of 0, -3, "abc" and 41, a column twice, 300 entries. Each is shown,
  // and OK refuses the bad widths until they are mended; default.inf for Default.
  void fieldListWithBadEntries() {
    QByteArray list(
        "[CCM_FIELDS]\r\nnoSuchColumn=10\r\nduration=0\r\npkid=-3\r\n"
        "origSpan=abc\r\nclientMatterCode=41\r\ncallingPartyNumber=20\r\n"
        "callingPartyNumber=12\r\nCSV=Y\r\n[Other]\r\nkept=1\r\n");
    Put(HomeFile("CCM_FIELDS.INF"), list);
    Put(HomeFile("default.inf"), "[CCM_FIELDS]\r\nduration=0\r\npkid=5\r\nnothing=3\r\n");
    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      QCOMPARE(GridNames(form).join(QLatin1Char(' ')),
               QStringLiteral("noSuchColumn=10 duration=0 pkid=-3 origSpan=abc "
                              "clientMatterCode=41 callingPartyNumber=20 callingPartyNumber=12"));
      auto* grid = Child<QTableWidget>(form, "CCMFldStringGrid1");
      QCOMPARE(grid->item(0, 0)->toolTip(),
               QStringLiteral("Not in this source: this profile leaves it blank."));
      QVERIFY(grid->item(1, 0)->toolTip().isEmpty());
      QVERIFY2(Child<QLabel>(form, "SharedFieldsLabel1")
                   ->text()
                   .endsWith(QStringLiteral("Those in grey are not in this source: this profile "
                                            "leaves them blank.")),
               qPrintable(Child<QLabel>(form, "SharedFieldsLabel1")->text()));
      MessageBox::setNextAnswer(QMessageBox::Ok);
      Child<QPushButton>(form, "OkBtn")->click();
      QVERIFY(form->isVisible());
      QCOMPARE(grid->currentRow(), 1);
      MessageBox::setNextAnswer(QMessageBox::Yes);
      Child<QPushButton>(form, "DefaultFldsBtn")->click();
      QCOMPARE(GridNames(form),
               (QStringList{QStringLiteral("duration=8"), QStringLiteral("pkid=5")}));
      Child<QPushButton>(form, "OkBtn")->click();
      QVERIFY(!form->isVisible());
    });
    QCOMPARE(Bytes(HomeFile("CCM_FIELDS.INF")),
             QByteArray("[Other]\r\nkept=1\r\n[CCM_FIELDS]\r\nduration=8\r\npkid=5\r\nCSV=Y\r\n"));

    QByteArray many("[CCM_FIELDS]\r\n");
    for (int i = 0; i < 300; ++i) many += "duration=1\r\n";
    Put(HomeFile("CCM_FIELDS.INF"), many);
    InDialog(*window, [&](TOptFrm* form) {
      QCOMPARE(SelectedLabel(form), QStringLiteral("Selected Fields (600 characters)"));
      MessageBox::setNextAnswer(QMessageBox::Ok);
      Child<QPushButton>(form, "OkBtn")->click();
      QCOMPARE(MessageBox::lastText(),
               QStringLiteral("The total record length (600) must be 250 or less."));
    });
  }

  // A database that cannot be reached: the notice instead of the sub-pages, OK still saves
  // and the stored selection stays. One that answers late: the dialog says it is reading, stays
  // responsive, and Cancel closes it at once.
  void unreachableOrLateDatabase() {
    Put(HomeFile("CCM_FIELDS.INF"), "[CCM_FIELDS]\r\nduration=8\r\n");
    WriteProfile("SITE", {{"SQLConnectionString", Sqlite("none/cdr.db")}});
    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      Page(form, "AdvancedTabSheet");
      QVERIFY(!Child(form, "AdvancedPageControl1")->isVisible());
      QVERIFY(Child(form, "AdvancedPanelCaption1")->isVisible());
      Child<QLineEdit>(form, "ServerName1")->setText(QStringLiteral("ccm9"));
      Page(form, "GeneralTabSheet1");  // the field checks are skipped
      Child<QPushButton>(form, "OkBtn")->click();
      QVERIFY(!form->isVisible());
    });
    QCOMPARE(window->Settings().server_name, std::string("ccm9"));
    QCOMPARE(Bytes(HomeFile("CCM_FIELDS.INF")), QByteArray("[CCM_FIELDS]\r\nduration=8\r\n"));

    WriteProfile("SITE", {});
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    remoteccm::gui::DbWorker::SetBeforeWork([&] {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return released; });
    });
    const auto release = qScopeGuard([&] {
      {
        std::lock_guard lock(mutex);
        released = true;
      }
      changed.notify_all();
      remoteccm::gui::DbWorker::SetBeforeWork(nullptr);
    });
    bool reading = false;
    WhenModalOpens([&](QWidget* modal) {
      auto* form = qobject_cast<TOptFrm*>(modal);
      QTest::qWait(50);  // events flow while the query waits
      reading = form->ReadingColumns() && !Child(form, "ReadingLabel1")->isHidden();
      Child<QPushButton>(form, "Button2")->click();
    });
    Child<QPushButton>(window.get(), "PropertiesBtn1")->click();
    QVERIFY(reading);
    QVERIFY(!window->OptFrm()->isVisible());
  }

  // Browse loads a script into the two memos by its rules; a cancelled choice changes nothing.
  void scriptFiles_data() {
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("selection");
    QTest::addColumn<QString>("deletion");
    const QString kept_selection = QStringLiteral("SELECT kept");
    const QString kept_deletion = QStringLiteral("DELETE kept");
    QTest::newRow("no sections") << QByteArray("ConnectSQL0=SELECT 1\r\n") << kept_selection
                                 << kept_deletion;
    QTest::newRow("cancelled") << QByteArray() << kept_selection << kept_deletion;
    QTest::newRow("numbered from 1, <end> in the middle, blanks kept")
        << QByteArray(
               "[CONNECT_SQL]\r\nConnectSQL3=  WHERE x\r\nconnectsql1=SELECT *\r\n"
               "ConnectSQL2=<end>\r\n[DISCONNECT_SQL]\r\nDisconnectSQL0=DELETE\r\n"
               "DisconnectSQL1=   \r\n")
        << QStringLiteral("SELECT *\n  WHERE x") << QStringLiteral("DELETE");
    QTest::newRow("a gap hides what follows; no deletion section empties it")
        << QByteArray("[CONNECT_SQL]\r\nConnectSQL0=A\r\nConnectSQL1=B\r\nConnectSQL5=C\r\n")
        << QStringLiteral("A\nB") << QString();
    QTest::newRow("only <end>") << QByteArray("[CONNECT_SQL]\r\nConnectSQL0=<end>\r\n") << QString()
                                << QString();
    QFile sample(QStringLiteral(REMOTECCM_SOURCE_DIR "/packaging/sql/last-day.ssq"));
    QVERIFY(sample.open(QIODevice::ReadOnly));
    const QString window = QStringLiteral(
        "WHERE dateTimeDisconnect >=\n  (SELECT MAX(dateTimeDisconnect) FROM CallDetailRecord) - "
        "86400");
    QTest::newRow("the shipped last-day.ssq")
        << sample.readAll() << QStringLiteral("SELECT * FROM CallDetailRecord\n") + window
        << QStringLiteral("DELETE FROM CallDetailRecord\n") + window;
    QByteArray big("[CONNECT_SQL]\r\n");
    for (int i = 0; i < 10000; ++i) big += "ConnectSQL" + QByteArray::number(i) + "=L\r\n";
    QTest::newRow("10,000 lines") << big
                                  << QStringList(10000, QStringLiteral("L")).join(QLatin1Char('\n'))
                                  << QString();
  }

  void scriptFiles() {
    QFETCH(QByteArray, script);
    QFETCH(QString, selection);
    QFETCH(QString, deletion);
    const QString path = dir_.path() + QStringLiteral("/sample.ssq");
    Put(path, script);
    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      Page(form, "RetrievalTabSheet1");
      Child<QComboBox>(form, "RetrieveListBox1")->setCurrentIndex(4);
      Child<QPlainTextEdit>(form, "ConnectSQL1")->setPlainText(QStringLiteral("SELECT kept"));
      Child<QPlainTextEdit>(form, "DisconnectSQL1")->setPlainText(QStringLiteral("DELETE kept"));
      FileDialog::setNextFileName(script.isEmpty() ? QString() : path);
      Child<QPushButton>(form, "Button7")->click();
      QCOMPARE(FileDialog::lastRequest().filter,
               QStringLiteral("Sample SQL Scripts (*.ssq);;All Files (*)"));
      QCOMPARE(FileDialog::lastRequest().folder, dir_.path() + QStringLiteral("/out"));
      QCOMPARE(Child<QPlainTextEdit>(form, "ConnectSQL1")->toPlainText(), selection);
      QCOMPARE(Child<QPlainTextEdit>(form, "DisconnectSQL1")->toPlainText(), deletion);
    });
  }

  // The builder shows the parts of the current string, tests the connection off the
  // user-interface thread without showing the password, and returns the string; the login
  // the string names becomes the profile's, and the columns are read from the new database.
  void connectionBuilder_data() {
    QTest::addColumn<bool>("postgres");
    QTest::newRow("SQLite") << false;
    QTest::newRow("PostgreSQL") << true;
  }

  void connectionBuilder() {
    QFETCH(bool, postgres);
    remoteccm::ConnectionParts server;
    if (postgres) {
      const char* pg = std::getenv("REMOTECCM_TEST_PG");
      if (pg == nullptr) {
        if (std::getenv("REMOTECCM_REQUIRE_PG") != nullptr) QFAIL("no REMOTECCM_TEST_PG");
        QSKIP("no test PostgreSQL server (REMOTECCM_TEST_PG)");
      }
      server = remoteccm::SplitConnectionString(pg);
      remoteccm::DbConnection pg_db;
      pg_db.Connect(pg, "", "", "");
      remoteccm::testing::CreateCdrTable(pg_db);
    }
    const QString other_db = QString::fromStdString(Path(QStringLiteral("other.db")));
    QVERIFY(QFile::copy(QString::fromStdString(Path(QStringLiteral("cdr.db"))), other_db));
    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      Page(form, "LoginTabSheet1");
      WhenModalOpens([&](QWidget* modal) {
        auto* builder = qobject_cast<remoteccm::gui::TConnBuildFrm*>(modal);
        QCOMPARE(Child<QComboBox>(builder, "DriverComboBox1")->currentText(),
                 QStringLiteral("SQLite3"));
        QCOMPARE(Child<QLineEdit>(builder, "FileNameEdit1")->text(),
                 QString::fromStdString(Path(QStringLiteral("cdr.db"))));
        if (postgres) {
          auto* drivers = Child<QComboBox>(builder, "DriverComboBox1");
          drivers->setCurrentIndex(drivers->findText(QString::fromStdString(server.driver)));
          Child<QLineEdit>(builder, "HostEdit1")->setText(QString::fromStdString(server.host));
          Child<QLineEdit>(builder, "PortEdit1")->setText(QString::fromStdString(server.port));
          Child<QLineEdit>(builder, "DatabaseEdit1")
              ->setText(QString::fromStdString(server.database));
          Child<QLineEdit>(builder, "UserEdit1")->setText(QString::fromStdString(server.user));
          Child<QLineEdit>(builder, "PasswordEdit1")
              ->setText(QString::fromStdString(server.password));
        } else {
          Child<QLineEdit>(builder, "FileNameEdit1")->setText(other_db);
        }
        Child<QPushButton>(builder, "TestBtn1")->click();
        WaitUntil([&] { return !builder->Testing(); });
        const QString said = Child<QPlainTextEdit>(builder, "TestMemo1")->toPlainText();
        QVERIFY2(said.contains(QStringLiteral("Table CallDetailRecord reachable: 68 columns")),
                 qPrintable(said));
        if (postgres) {
          QVERIFY(!said.contains(QString::fromStdString(server.password)));
          QVERIFY(said.contains(QStringLiteral("PWD=***")));
        }
        Child<QPushButton>(builder, "OkBtn1")->click();
      });
      Child<QPushButton>(form, "Build1")->click();
      const QString expected =
          postgres
              ? QString::fromStdString("Driver=" + server.driver + ";Server=" + server.host +
                                       ";Port=" + server.port + ";Database=" + server.database +
                                       ";UID=" + server.user + ";PWD=" + server.password)
              : QStringLiteral("Provider=MSDASQL;Driver=SQLite3;Database=") + other_db;
      QCOMPARE(Child<QLineEdit>(form, "SQLConnString")->text(), expected);
      QCOMPARE(Child<QLineEdit>(form, "Login1")->text(),
               postgres ? QString::fromStdString(server.user) : QStringLiteral("cdr"));
      QVERIFY(form->ReadingColumns());
      WaitUntil([&] { return !form->ReadingColumns(); });
      QCOMPARE(Child<QListWidget>(form, "CDRFieldsListBox1")->count(), 68);
      Child<QPushButton>(form, "OkBtn")->click();
    });
    QCOMPARE(window->Settings().sql_database_name,
             postgres ? server.database : other_db.toStdString());
  }

  // The dial-up page over a phone book: the profile's entry or else the first, the stored
  // credentials shown, the edits stored as the entry's on save; without dial-up networking it
  // says so.
  void dialUpPage() {
    PhoneBookDialer dialer;
    remoteccm::gui::TConnectPage page(dialer);
    remoteccm::ProfileSettings settings;
    settings.use_dialup = true;
    settings.phonebook_entry = "branch";
    settings.dial_user_name = "profile-user";
    page.Load(settings);
    page.RefreshEntryListClick();
    auto* entries = Child<QComboBox>(&page, "EntrySelect");
    QCOMPARE(entries->currentText(), QStringLiteral("Branch"));
    QCOMPARE(Child<QLineEdit>(&page, "UserNameEdit")->text(), QStringLiteral("br-user"));
    QCOMPARE(Child<QLineEdit>(&page, "PasswordEdit")->text(), QString());
    QCOMPARE(page.StatusText(), QStringLiteral("Branch"));
    entries->setCurrentIndex(0);
    Q_EMIT entries->activated(0);
    QCOMPARE(Child<QLineEdit>(&page, "DomainEdit")->text(), QStringLiteral("HQ"));
    Child<QLineEdit>(&page, "UserNameEdit")->setText(QStringLiteral("new-user"));
    page.Collect(settings);
    page.StoreDialParams();
    QCOMPARE(settings.phonebook_entry, std::string("Head office"));
    QCOMPARE(dialer.stored["Head office"].user_name, std::string("new-user"));
    QCOMPARE(dialer.stored["Head office"].phone_number, std::string("555"));
    // A long error text wraps in the status bar instead of being cut.
    dialer.edit_result = PhoneBookDialer::kLongError;
    page.setFixedWidth(360);
    page.show();
    Child<QPushButton>(&page, "DialProperties1")->click();
    auto* status = Child<QLabel>(&page, "StatusPanel1");
    QCOMPARE(status->text(), QString::fromStdString(dialer.ErrorText(PhoneBookDialer::kLongError)));
    QApplication::processEvents();
    QVERIFY(status->width() < status->fontMetrics().horizontalAdvance(status->text()));
    QVERIFY(status->height() >= status->heightForWidth(status->width()));
    QVERIFY(Child(&page, "StatusBar1")->rect().contains(status->geometry()));
    page.hide();

    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      auto* use = Child<QCheckBox>(form, "UseDialupCheckBox1");
      use->setChecked(true);
      QVERIFY(!Child(form, "DialParametersGrp1")->isHidden());
      QCOMPARE(Child<QLabel>(form, "StatusPanel1")->text(),
               QStringLiteral("Invalid or Blank Entry List"));
      // The window's own dialer, over a NetworkManager that does not run.
      QCOMPARE(Child<QLabel>(form, "DialNoteLabel1")->text(),
               QStringLiteral("NetworkManager is not running."));
      Child<QPushButton>(form, "DialProperties1")->click();
      QCOMPARE(Child<QLabel>(form, "StatusPanel1")->text(),
               QStringLiteral("No NetworkManager connection is chosen."));
      Child<QPushButton>(form, "NewEntry1")->click();
      QCOMPARE(Child<QLabel>(form, "StatusPanel1")->text(),
               QStringLiteral("The connection editor failed."));
      use->setChecked(false);
      QVERIFY(Child(form, "DialParametersGrp1")->isHidden());
      QCOMPARE(Child<QLabel>(form, "StatusPanel1")->text(), QString());
    });
  }

  // The time there now, by the option chosen (the clock stands at 2027-01-15 08:00 UTC).
  void timeThere_data() {
    QTest::addColumn<QString>("radio");
    QTest::addColumn<QString>("zone");
    QTest::addColumn<QString>("shown");
    QTest::newRow("manual -5") << "TZManualRadioButton1" << QString() << "2027-01-15 03:00";
    QTest::newRow("New York") << "TZSelectedRadioButton1"
                              << "America/New_York"
                              << "2027-01-15 03:00";
    QTest::newRow("Kolkata") << "TZSelectedRadioButton1"
                             << "Asia/Kolkata"
                             << "2027-01-15 13:30";
    QTest::newRow("a zone no longer in the list") << "TZSelectedRadioButton1"
                                                  << "Atlantis/Capital"
                                                  << "Choose the time zone";
  }

  void timeThere() {
    QFETCH(QString, radio);
    QFETCH(QString, zone);
    QFETCH(QString, shown);
    WriteProfile("SITE",
                 {{"SQLTimeZoneOption", radio.contains(QLatin1String("Manual")) ? "3" : "2"},
                  {"SQLTimeZoneName", zone.toStdString()}});
    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      QVERIFY(Child<QRadioButton>(form, radio.toLatin1().constData())->isChecked());
      QVERIFY2(Child<QLabel>(form, "TZNowLabel1")->text().contains(shown),
               qPrintable(Child<QLabel>(form, "TZNowLabel1")->text()));
    });
  }

  // At the desktop's font and at 1.5 times its size, no text of any page is cut in any
  // retrieval mode, and each control has its own mnemonic on every page (the tabs and the
  // buttons under them count on every page), in the builder and the about box too.
  void textsAndKeysFit_data() {
    QTest::addColumn<double>("scale");
    QTest::newRow("the desktop's font") << 1.0;
    QTest::newRow("1.5 times as large") << 1.5;
  }

  void textsAndKeysFit() {
    QFETCH(double, scale);
    const remoteccm::testing::ScaledAppFont font(scale);
    const auto keys_apart = [](QWidget* window, const QString& where) {
      const QStringList collisions = remoteccm::testing::MnemonicCollisions(window);
      QVERIFY2(collisions.isEmpty(),
               qPrintable(where + QStringLiteral(": ") + collisions.join(QStringLiteral("; "))));
    };
    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      form->FitInto(QRect(0, 0, 4000, 3000));  // nothing scrolls
      auto* pages = Child<QTabWidget>(form, "PageControl1");
      auto* advanced = Child<QTabWidget>(form, "AdvancedPageControl1");
      const auto check = [&](const QString& where) {
        for (QWidget* widget : form->findChildren<QWidget*>()) {
          if (!widget->isVisible()) continue;
          bool fits = true;
          QString text;
          if (auto* label = qobject_cast<QLabel*>(widget)) {
            text = label->text();
            fits = label->wordWrap() ? label->height() >= label->heightForWidth(label->width())
                                     : label->width() >= label->sizeHint().width() &&
                                           label->height() >= label->sizeHint().height();
          } else if (auto* push = qobject_cast<QPushButton*>(widget)) {
            text = push->text();
            const int icon = push->icon().isNull() ? 0 : push->iconSize().width();
            fits = push->width() >=
                   push->fontMetrics().horizontalAdvance(QString(text).remove(QLatin1Char('&'))) +
                       icon + 8;
          } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            text = button->text();
            fits = button->width() >= button->sizeHint().width();
          }
          QVERIFY2(fits, qPrintable(where + QStringLiteral(": ") + text));
        }
        keys_apart(form, where);
      };
      for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        for (int mode = 0; mode < 5 && i == 3; ++mode) {
          Child<QComboBox>(form, "RetrieveListBox1")->setCurrentIndex(mode);
          check(QStringLiteral("mode %1").arg(mode));
        }
        for (int sub = 0; sub < 2 && i == 4; ++sub) {
          advanced->setCurrentIndex(sub);
          check(advanced->tabText(sub));
        }
        if (i == 1) {
          Child<QCheckBox>(form, "UseDialupCheckBox1")->setChecked(true);
          check(QStringLiteral("dial-up"));
          Child<QCheckBox>(form, "UseDialupCheckBox1")->setChecked(false);
        }
        check(pages->tabText(i));
      }
      QVERIFY(!pages->isTabVisible(pages->indexOf(Child(form, "DeleteRecsTabSheet1"))));
      // The longest names of current releases' CDR files read whole in Available Fields.
      pages->setCurrentWidget(Child(form, "AdvancedTabSheet"));
      advanced->setCurrentIndex(0);
      auto* available = Child<QListWidget>(form, "CDRFieldsListBox1");
      available->addItems({QStringLiteral("originalCalledPartyNumberPartition"),
                           QStringLiteral("outpulsedOriginalCalledPartyNumber")});
      QCoreApplication::processEvents();
      QCOMPARE(available->horizontalScrollBar()->maximum(), 0);

      WhenModalOpens([&](QWidget* builder) {
        keys_apart(builder, QStringLiteral("builder, a file"));
        auto* drivers = Child<QComboBox>(builder, "DriverComboBox1");
        drivers->setCurrentIndex(drivers->findText(QStringLiteral("PostgreSQL Unicode")));
        keys_apart(builder, QStringLiteral("builder, a server"));
      });
      pages->setCurrentWidget(Child(form, "LoginTabSheet1"));
      Child<QPushButton>(form, "Build1")->click();
      remoteccm::gui::TAboutBox about(form);
      keys_apart(&about, QStringLiteral("about box"));
    });
  }

  // The dialog with its frame fits the area a screen leaves for windows: a 1024x768 screen with
  // its taskbar at the desktop's font and at 1.5 times, every page whole; an 800x600 one at 1.5
  // times, its pages scrolling. A screen that holds more gives it the designed size, grown with
  // the font, and no page scrolls.
  void theDialogFitsTheScreen_data() {
    QTest::addColumn<double>("scale");
    QTest::addColumn<QSize>("area");
    QTest::addColumn<bool>("whole");
    QTest::newRow("1024x768, the desktop's font") << 1.0 << QSize(1024, 728) << true;
    QTest::newRow("1024x768, 1.5 times as large") << 1.5 << QSize(1024, 728) << true;
    QTest::newRow("800x600, 1.5 times as large") << 1.5 << QSize(800, 560) << false;
  }

  void theDialogFitsTheScreen() {
    QFETCH(double, scale);
    QFETCH(QSize, area);
    QFETCH(bool, whole);
    const remoteccm::testing::ScaledAppFont font(scale);
    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      auto* pages = Child<QTabWidget>(form, "PageControl1");
      const auto scrolling_pages = [&] {
        QStringList scrolling;
        for (int i = 0; i < pages->count(); ++i) {
          pages->setCurrentIndex(i);
          QCoreApplication::processEvents();
          auto* page = qobject_cast<QScrollArea*>(pages->currentWidget());
          if (page->verticalScrollBar()->maximum() > 0 ||
              page->horizontalScrollBar()->maximum() > 0) {
            scrolling.append(page->objectName());
          }
        }
        return scrolling;
      };
      form->FitInto(QRect(QPoint(0, 0), area));
      const QSize outer = form->size() + remoteccm::gui::kWindowFrame;
      QVERIFY2(outer.width() <= area.width() && outer.height() <= area.height(),
               qPrintable(QStringLiteral("%1x%2").arg(outer.width()).arg(outer.height())));
      QCOMPARE(scrolling_pages().isEmpty(), whole);
      form->FitInto(QRect(0, 0, 4000, 3000));
      QVERIFY(form->width() >= qRound(470 * scale) && form->height() >= qRound(410 * scale));
      QCOMPARE(scrolling_pages(), QStringList());
    });
  }

  // Enter in a list, grid, text area, spin box, date field or drop-down list of any page, of the
  // builder and of the about box acts on that control only: it never presses OK (which would
  // save every edit of the dialog, or replace the connection string).
  void enterActsOnItsControlOnly() {
    const QByteArray profile = Bytes(HomeFile("SITE.CCM"));
    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      auto* pages = Child<QTabWidget>(form, "PageControl1");
      const auto press_enter_in = [&](QWidget* dialog, const QString& where) {
        for (QWidget* widget : dialog->findChildren<QWidget*>()) {
          const bool takes_enter = qobject_cast<QAbstractItemView*>(widget) != nullptr ||
                                   qobject_cast<QPlainTextEdit*>(widget) != nullptr ||
                                   qobject_cast<QAbstractSpinBox*>(widget) != nullptr ||
                                   qobject_cast<QComboBox*>(widget) != nullptr;
          if (!takes_enter || !widget->isVisible() || !widget->isEnabled()) continue;
          widget->setFocus();
          QTest::keyClick(widget, Qt::Key_Return);
          if (auto* combo = qobject_cast<QComboBox*>(widget)) combo->hidePopup();
          QVERIFY2(dialog->isVisible(),
                   qPrintable(where + QLatin1Char(' ') + widget->objectName()));
        }
      };
      const auto press_enter = [&](const QString& where) { press_enter_in(form, where); };
      for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        for (int mode = 1; mode < 5 && i == 3; ++mode) {
          Child<QComboBox>(form, "RetrieveListBox1")->setCurrentIndex(mode);
          press_enter(QStringLiteral("mode %1").arg(mode));
        }
        if (i == 1) Child<QCheckBox>(form, "UseDialupCheckBox1")->setChecked(true);
        if (i == 4) Child<QTabWidget>(form, "AdvancedPageControl1")->setCurrentIndex(1);
        press_enter(pages->tabText(i));
      }
      // In the fields: Enter adds the field chosen; in the grid's editor it ends the edit.
      pages->setCurrentWidget(Child(form, "AdvancedTabSheet"));
      Child<QTabWidget>(form, "AdvancedPageControl1")->setCurrentIndex(0);
      auto* list = Child<QListWidget>(form, "CDRFieldsListBox1");
      list->setCurrentItem(list->findItems(QStringLiteral("pkid"), Qt::MatchExactly).first());
      list->setFocus();
      QTest::keyClick(list, Qt::Key_Return);
      QVERIFY2(GridNames(form).last().startsWith(QStringLiteral("pkid=")),
               qPrintable(GridNames(form).join(QLatin1Char(' '))));
      auto* grid = Child<QTableWidget>(form, "CCMFldStringGrid1");
      grid->setFocus();
      grid->setCurrentCell(0, 1);
      grid->editItem(grid->item(0, 1));
      QWidget* editor = QApplication::focusWidget();
      QVERIFY(editor != nullptr && grid->isAncestorOf(editor));
      QTest::keyClicks(editor, QStringLiteral("12"));  // over the width, which is selected
      QTest::keyClick(editor, Qt::Key_Return);
      QApplication::processEvents();
      QVERIFY(form->isVisible());
      QCOMPARE(grid->item(0, 1)->text(), QStringLiteral("12"));

      const QString string = Child<QLineEdit>(form, "SQLConnString")->text();
      WhenModalOpens([&](QWidget* builder) {
        Child<QComboBox>(builder, "DriverComboBox1")
            ->setCurrentText(QStringLiteral("PostgreSQL Unicode"));
        press_enter_in(builder, QStringLiteral("builder"));
      });
      pages->setCurrentWidget(Child(form, "LoginTabSheet1"));
      Child<QPushButton>(form, "Build1")->click();
      QCOMPARE(Child<QLineEdit>(form, "SQLConnString")->text(), string);
      remoteccm::gui::TAboutBox about(form);
      about.show();
      press_enter_in(&about, QStringLiteral("about box"));
      Child<QPushButton>(form, "Button2")->click();
    });
    QCOMPARE(Bytes(HomeFile("SITE.CCM")), profile);
    QVERIFY(!QFile::exists(HomeFile("CCM_FIELDS.INF")));
  }

  // The password parts of the connection string are masked while its edit has no focus; the
  // string saved is the one typed.
  void theConnectionStringsPasswordIsMasked() {
    WriteProfile("SITE", {{"SQLConnectionString", Sqlite() + ";PWD=secret123"}});
    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      Page(form, "LoginTabSheet1");
      auto* edit = Child<remoteccm::gui::ConnectionStringEdit>(form, "SQLConnString");
      auto* masked = Child<QLabel>(edit, "MaskedText");
      QVERIFY(!edit->hasFocus());
      QCOMPARE(edit->ShownText(), QString::fromStdString(Sqlite() + ";PWD=***"));
      QVERIFY(masked->isVisible() && edit->rect().contains(masked->geometry()));
      QCOMPARE(edit->text(), QString::fromStdString(Sqlite() + ";PWD=secret123"));
      form->activateWindow();
      edit->setFocus();
      QVERIFY(edit->hasFocus());
      QVERIFY(!masked->isVisible());
      QCOMPARE(edit->ShownText(), edit->text());
      edit->end(false);
      QTest::keyClicks(edit, QStringLiteral("4"));
      Child<QLineEdit>(form, "Login1")->setFocus();
      QCOMPARE(edit->ShownText(), QString::fromStdString(Sqlite() + ";PWD=***"));
      WaitUntil([&] { return !form->ReadingColumns(); });
      Child<QPushButton>(form, "OkBtn")->click();
    });
    QCOMPARE(remoteccm::ReadProfileValue(HomeFile("SITE.CCM").toStdString(),
                                         remoteccm::kProfileSection, "SQLConnectionString"),
             Sqlite() + ";PWD=secret1234");
  }

  // The hidden Delete Recs page's command reports in its own memo.
  void deleteRecsPage() {
    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      Child<QPushButton>(form, "DeleteRecsBtn")->click();
      WaitUntil([&] { return !window->Controller().Busy(); });
      QVERIFY(Child<QPlainTextEdit>(form, "Memo2")
                  ->toPlainText()
                  .endsWith(QStringLiteral("Open Connection cdr\nDeleted Records\nDone")));
    });
    remoteccm::DbQuery count(db_);
    count.AddLine("SELECT COUNT(*) FROM CallDetailRecord");
    count.Open();
    QCOMPARE(count.AsFloat(0), 0.0);
  }

  // A profile from nothing: Add, a name with dots and blanks, the connection built and tested,
  // the mode, the destination, the fields and the zone; OK, Connect, and the lines are there.
  void newProfileFromNothingRuns() {
    QFile::remove(HomeFile("SITE.CCM"));
    auto window = Open("<none>");
    WhenModalOpens([&](QWidget* modal) {
      auto* form = qobject_cast<TOptFrm*>(modal);
      WaitUntil([&] { return !form->ReadingColumns(); });
      QCOMPARE(Child<QLineEdit>(form, "ProfileName1")->text(), QString());
      Child<QLineEdit>(form, "ProfileName1")->setText(QStringLiteral("New. Site"));
      WhenModalOpens([&](QWidget* builder) {
        Child<QLineEdit>(builder, "FileNameEdit1")
            ->setText(QString::fromStdString(Path(QStringLiteral("cdr.db"))));
        Child<QPushButton>(builder, "OkBtn1")->click();
      });
      Child<QPushButton>(form, "Build1")->click();
      Child<QComboBox>(form, "RetrieveListBox1")->setCurrentIndex(1);
      Child<QLineEdit>(form, "DestFileName1")
          ->setText(QString::fromStdString(Path(QStringLiteral("out/NEW.TXT"))));
      WaitUntil([&] { return !form->ReadingColumns(); });
      Child<QRadioButton>(form, "TZManualRadioButton1")->setChecked(true);
      Child<QSpinBox>(form, "TZOffSet1")->setValue(0);
      Child<QPushButton>(form, "OkBtn")->click();
    });
    Child<QAction>(window.get(), "Add1")->trigger();
    QVERIFY(QFile::exists(HomeFile("NewSite.CCM")));
    QCOMPARE(Child<QComboBox>(window.get(), "Profilenamebox1")->currentText(),
             QStringLiteral("NewSite"));
    Child<QPushButton>(window.get(), "ConnectBtn1")->click();
    WaitUntil([&] { return !window->Controller().Busy(); });
    const QByteArray lines = Bytes(QString::fromStdString(Path(QStringLiteral("out/NEW.TXT"))));
    QVERIFY2(lines.count('\n') == 1 && lines.contains(" 1001 "), lines.constData());
  }

  // A CallManager 5 or later: the Login page takes the folder its CDR files arrive in, the test
  // counts the complete files waiting, CDR Fields lists the fields of their header (a newer
  // release's too, with its type's width), and OK saves the folder; the database's login is not
  // used meanwhile. Back on the database, the field only the files have stays in the shared
  // list, byte for byte.
  void cdrFileFolderTestedAndItsFieldsListed() {
    const QString folder = dir_.path() + QStringLiteral("/incoming");
    QVERIFY(QDir().mkpath(folder));
    Put(folder + QStringLiteral("/cdr_C_01_202611010000_1"),
        "\"cdrRecordType\",\"pkid\",\"dateTimeDisconnect\",\"callingPartyNumber\","
        "\"huntPilotPattern\"\nINTEGER,UNIQUEIDENTIFIER,INTEGER,VARCHAR(50),"
        "VARCHAR(50)\n1,\"PK-1\",1793491260,\"2001\",\"+492001\"\n");
    Put(folder + QStringLiteral("/.cdr_C_01_202611010001_2"), "still being written");
    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      Page(form, "LoginTabSheet1");
      Child<QRadioButton>(form, "CdrFilesRadioButton1")->setChecked(true);
      QVERIFY(!Child<QGroupBox>(form, "GroupBox1")->isEnabled());
      Child<QLineEdit>(form, "CdrFileFolderEdit1")->setText(folder);
      Child<QPushButton>(form, "CdrFolderTestBtn1")->click();
      auto* result = Child<QLabel>(form, "CdrFolderResultLabel1");
      WaitUntil([&] { return Child<QPushButton>(form, "CdrFolderTestBtn1")->isEnabled(); });
      QVERIFY2(result->text().contains(QStringLiteral("1 complete CDR file waits in it")),
               qPrintable(result->text()));
      WaitUntil([&] { return !form->ReadingColumns(); });
      auto* fields = Child<QListWidget>(form, "CDRFieldsListBox1");
      QVERIFY(!fields->findItems(QStringLiteral("huntPilotPattern"), Qt::MatchExactly).isEmpty());
      QCOMPARE(fields->count(), 5);
      SelectField(form, "huntPilotPattern");
      QCOMPARE(GridNames(form).last(), QStringLiteral("huntPilotPattern=50"));
      SetWidth(form, 2, QStringLiteral("30"));
      // REMOTECCM_SCREENSHOTS=DIR keeps a picture of the pages, to look at them.
      if (const QString shots = qEnvironmentVariable("REMOTECCM_SCREENSHOTS"); !shots.isEmpty()) {
        form->grab().save(shots + QStringLiteral("/properties-cdr-files-login.png"));
        Page(form, "AdvancedTabSheet");
        QCoreApplication::processEvents();
        form->grab().save(shots + QStringLiteral("/properties-cdr-files-fields.png"));
      }
      Child<QPushButton>(form, "OkBtn")->click();
    });
    const QByteArray profile = Bytes(HomeFile("SITE.CCM"));
    QVERIFY2(profile.contains(QByteArray(QByteArray("CdrFileFolder=") + folder.toUtf8())),
             profile.constData());
    const QByteArray field_list = Bytes(HomeFile("CCM_FIELDS.INF"));
    QCOMPARE(field_list, QByteArray("[CCM_FIELDS]\r\ncdrRecordType=1\r\ncallingPartyNumber=22\r\n"
                                    "huntPilotPattern=30\r\n"));
    InDialog(*window, [&](TOptFrm* form) {
      QVERIFY(Child<QRadioButton>(form, "CdrFilesRadioButton1")->isChecked());
      QCOMPARE(Child<QLineEdit>(form, "CdrFileFolderEdit1")->text(), folder);
      Child<QRadioButton>(form, "DatabaseRadioButton1")->setChecked(true);
      WaitUntil([&] { return !form->ReadingColumns(); });
      QCOMPARE(Child<QListWidget>(form, "CDRFieldsListBox1")->count(), 68);
      QCOMPARE(GridNames(form).last(), QStringLiteral("huntPilotPattern=30"));
      QVERIFY(!Child<QTableWidget>(form, "CCMFldStringGrid1")->item(2, 0)->toolTip().isEmpty());
      Child<QPushButton>(form, "OkBtn")->click();
    });
    // Back to the database: the folder is cleared in the file, and the field list is as the
    // files profile left it.
    QVERIFY(!Bytes(HomeFile("SITE.CCM")).contains(folder.toUtf8()));
    QCOMPARE(Bytes(HomeFile("CCM_FIELDS.INF")), field_list);
  }

  // Test Connection on a files profile tells the files still settling (changed within the settle
  // time, by the change time the system keeps) from those waiting, and, once a run has imported
  // every file that came, says so.
  void testConnectionSaysWhatTheFolderHolds() {
    const QString folder = dir_.path() + QStringLiteral("/incoming");
    QVERIFY(QDir().mkpath(folder));
    const QString names[] = {QStringLiteral("/cdr_C_01_202701150740_1"),
                             QStringLiteral("/cdr_C_01_202701150750_2"),
                             QStringLiteral("/cdr_C_01_202701150759_3")};
    const double pushed[] = {kNow - 600, kNow - 300, kNow - 12};  // as the files say
    double changed = 0;
    for (int i = 0; i < 3; ++i) {
      PutCdrFile(folder + names[i], i + 1, pushed[i]);
      changed = std::max(
          changed, static_cast<double>(
                       QFileInfo(folder + names[i]).metadataChangeTime().toMSecsSinceEpoch()) /
                       1000);
    }
    changed = std::floor(changed);  // the window's clock counts whole seconds
    const auto back = qScopeGuard([&] { clock_.Set(kNow); });
    WriteProfile("SITE", {{"CdrFileFolder", folder.toStdString()}});
    auto window = Open();
    const auto tested = [&](const QString& said) {
      InDialog(*window, [&](TOptFrm* form) {
        Page(form, "LoginTabSheet1");
        auto* test = Child<QPushButton>(form, "CdrFolderTestBtn1");
        test->click();
        WaitUntil([&] { return test->isEnabled(); });
        const QString text = Child<QLabel>(form, "CdrFolderResultLabel1")->text();
        QVERIFY2(text.startsWith(QStringLiteral("The folder can be read; ")) && text.endsWith(said),
                 qPrintable(text));
        Child<QPushButton>(form, "Button2")->click();
      });
    };
    clock_.Set(changed + 12);
    tested(QStringLiteral(
        "no complete CDR file waits in it: 3 files are still settling; the newest came 12 s ago."));
    clock_.Set(changed + 60);
    tested(QStringLiteral("3 complete CDR files wait in it, the newest from ") +
           QDateTime::fromSecsSinceEpoch(static_cast<qint64>(kNow - 12))
               .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
           u'.');
    Child<QPushButton>(window.get(), "ConnectBtn1")->click();
    WaitUntil([&] { return !window->Controller().Busy(); });
    tested(QStringLiteral("no CDR file waits in it: all 3 files are imported."));
    Put(HomeFile("SITE.cdr.sqlite"), "not a database");
    tested(
        QStringLiteral("no CDR file waits in it. The profile's CDR database cannot be read to "
                       "tell what it imported."));
  }

  // A profile being made, on a folder where no CDR file has come yet: its fields, its test and
  // its folder chooser make no CDR database (neither for the profile without a name, nor in the
  // folder the program was started in) and start nowhere but in the program home.
  void aNewFilesProfileUsesNothingOutsideTheHome() {
    const QString folder = dir_.path() + QStringLiteral("/incoming");
    const QString work = dir_.path() + QStringLiteral("/work");
    QVERIFY(QDir().mkpath(folder) && QDir().mkpath(work));
    const QString started_in = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work));
    const auto back = qScopeGuard([&] { QDir::setCurrent(started_in); });
    QFile::remove(HomeFile("SITE.CCM"));
    auto window = Open("<none>");
    WhenModalOpens([&](QWidget* modal) {
      auto* form = qobject_cast<TOptFrm*>(modal);
      Page(form, "LoginTabSheet1");
      Child<QRadioButton>(form, "CdrFilesRadioButton1")->setChecked(true);
      FileDialog::setNextFileName(QString());
      Child<QPushButton>(form, "CdrFolderBrowseBtn1")->click();
      QCOMPARE(FileDialog::lastRequest().folder, home_);
      Child<QLineEdit>(form, "CdrFileFolderEdit1")->setText(folder);
      WaitUntil([&] { return !form->ReadingColumns(); });
      QVERIFY(Child<QLabel>(form, "AdvancedErrorLabel1")
                  ->text()
                  .startsWith(QStringLiteral("No complete CDR file waits in ") + folder));
      for (const QString& name : {QString(), QStringLiteral("NEW")}) {
        Child<QLineEdit>(form, "ProfileName1")->setText(name);
        Child<QPushButton>(form, "CdrFolderTestBtn1")->click();
        WaitUntil([&] { return Child<QPushButton>(form, "CdrFolderTestBtn1")->isEnabled(); });
        QCOMPARE(Child<QLabel>(form, "CdrFolderResultLabel1")->text(),
                 QStringLiteral("The folder can be read; no CDR file waits in it, and this "
                                "profile has imported none yet."));
      }
      Child<QPushButton>(form, "Button2")->click();
    });
    Child<QAction>(window.get(), "Add1")->trigger();
    const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
    QCOMPARE(QDir(work).entryList(all), QStringList());
    QCOMPARE(QDir(home_).entryList({QStringLiteral("*.sqlite*")}, all), QStringList());
  }

  // Choosing CDR files proposes All Records with deletion, which takes every file once; without
  // deletion the Retrieval page says that every run writes every imported record again.
  void choosingCdrFilesProposesDeletion() {
    WriteProfile("SITE", {{"ConnectSQLMode", "New Records Only"}});
    auto window = Open();
    InDialog(*window, [&](TOptFrm* form) {
      auto* mode = Child<QComboBox>(form, "RetrieveListBox1");
      auto* deletion = Child<QCheckBox>(form, "SQLDeleteRecsChkBox1");
      auto* note = Child<QLabel>(form, "FilesNoteLabel1");
      Page(form, "LoginTabSheet1");
      MessageBox::setNextAnswer(QMessageBox::No);
      Child<QRadioButton>(form, "CdrFilesRadioButton1")->click();
      QVERIFY(MessageBox::lastText().startsWith(QStringLiteral("For CDR files, All Records")));
      QCOMPARE(mode->currentText(), QStringLiteral("New Records Only"));
      Child<QRadioButton>(form, "DatabaseRadioButton1")->click();
      MessageBox::setNextAnswer(QMessageBox::Yes);
      Child<QRadioButton>(form, "CdrFilesRadioButton1")->click();
      QCOMPARE(mode->currentText(), QStringLiteral("All Records"));
      QVERIFY(deletion->isChecked());
      Page(form, "RetrievalTabSheet1");
      QVERIFY(!note->isVisible());
      deletion->setChecked(false);
      QVERIFY(note->isVisible());
      Child<QRadioButton>(form, "DatabaseRadioButton1")->setChecked(true);
      QVERIFY(!note->isVisible());
      Child<QPushButton>(form, "Button2")->click();
    });
  }

  // Alt with a letter that is no mnemonic types nothing: not in the profile box (leaving it
  // would then open the longer name as a new profile), nor in an edit, memo or spin box.
  void altWithALetterNeverTypes() {
    WriteProfile("SITE", {{"ConnectSQLMode", "By SQL Query"}, {"ConnectSQL0", "SELECT 1"}});
    auto window = Open();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    const auto alt_types_nothing = [](QWidget* edit, const char* property) {
      const QVariant before = edit->property(property);
      edit->setFocus();
      for (Qt::Key key : {Qt::Key_J, Qt::Key_Q, Qt::Key_P})
        QTest::keyClick(edit, key, Qt::AltModifier);
      QCOMPARE(edit->property(property), before);
    };
    alt_types_nothing(Child<QComboBox>(window.get(), "Profilenamebox1")->lineEdit(), "text");
    QTest::keyClick(Child(window.get(), "Profilenamebox1"), Qt::Key_Tab);
    QCOMPARE(window->Settings().profile_path, home_.toStdString() + "/SITE.CCM");
    InDialog(*window, [&](TOptFrm* form) {
      alt_types_nothing(Child(form, "ProfileName1"), "text");
      Page(form, "RetrievalTabSheet1");
      alt_types_nothing(Child(form, "ConnectSQL1"), "plainText");
      alt_types_nothing(Child(form, "WaitBeforePollingAgain1"), "value");
      Child<QPushButton>(form, "Button2")->click();
    });
  }
};

QTEST_MAIN(OptionsTest)
#include "options_test.moc"
