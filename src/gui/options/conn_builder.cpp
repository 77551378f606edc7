#include "gui/options/conn_builder.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "gui/app/designed_size.h"
#include "gui/app/dialog_keys.h"
#include "gui/app/widget_text.h"
#include "gui/options/db_worker.h"
#include "gui/seams/file_dialog.h"
#include "gui/seams/message_box.h"
#include "platform/db/connection_check.h"
#include "platform/db/db_error.h"
#include "profile/connection_fields.h"
#include "util/text_routines.h"

namespace remoteccm::gui {
TConnBuildFrm::TConnBuildFrm(const Start& start, const std::vector<std::string>& drivers,
                             const std::vector<OdbcDataSource>& sources, QWidget* parent)
    : QDialog(parent), start_(start), worker_(new DbWorker(this)) {
  setObjectName(QStringLiteral("ConnBuildFrm"));
  setWindowTitle(QStringLiteral("Build Connection String"));

  MakeControls(drivers, sources);
  LayOut();
  StartFrom(drivers);
  ConnectControls();
  ArrangeForDriver();
  // As wide as designed, grown with the font: the connection string and the test's answer wrap
  // less.
  resize(sizeHint().expandedTo(QSize(qRound(540 * FontScale(this)), 0)));
}

void TConnBuildFrm::MakeControls(const std::vector<std::string>& drivers,
                                 const std::vector<OdbcDataSource>& sources) {
  driver_radio_button1_ =
      Named(new QRadioButton(QStringLiteral("ODBC dri&ver:"), this), "DriverRadioButton1");
  data_source_radio_button1_ = Named(new QRadioButton(QStringLiteral("Data &source (DSN):"), this),
                                     "DataSourceRadioButton1");
  driver_combo_box1_ = Named(new QComboBox(this), "DriverComboBox1");
  for (const std::string& driver : drivers) driver_combo_box1_->addItem(Q(driver));
  data_source_combo_box1_ = Named(new QComboBox(this), "DataSourceComboBox1");
  for (const OdbcDataSource& source : sources) {
    data_source_combo_box1_->addItem(Q(source.name + " (" + source.driver + ")"), Q(source.name));
  }
  data_source_radio_button1_->setEnabled(!sources.empty());

  file_name_edit1_ = Named(new QLineEdit(this), "FileNameEdit1");
  browse_btn1_ = Named(new QPushButton(QStringLiteral("Bro&wse..."), this), "BrowseBtn1");
  browse_btn1_->setAutoDefault(false);
  host_edit1_ = Named(new QLineEdit(this), "HostEdit1");
  port_edit1_ = Named(new QLineEdit(this), "PortEdit1");
  port_edit1_->setValidator(new QIntValidator(1, 65535, port_edit1_));
  port_edit1_->setMaximumWidth(
      port_edit1_->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16);
  database_edit1_ = Named(new QLineEdit(this), "DatabaseEdit1");
  user_edit1_ = Named(new QLineEdit(this), "UserEdit1");
  password_edit1_ = Named(new QLineEdit(this), "PasswordEdit1");
  password_edit1_->setEchoMode(QLineEdit::Password);
  other_edit1_ = Named(new QLineEdit(this), "OtherEdit1");
  other_edit1_->setToolTip(
      QStringLiteral("Further key=value pairs for the driver, separated "
                     "by \";\""));
  note_label1_ = Named(new QLabel(this), "NoteLabel1");
  note_label1_->setWordWrap(true);
  note_label1_->hide();
  conn_string_label1_ = Named(new QLabel(this), "ConnStringLabel1");
  conn_string_label1_->setWordWrap(true);
  conn_string_label1_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  test_btn1_ = Named(new QPushButton(QStringLiteral("&Test Connection"), this), "TestBtn1");
  test_btn1_->setAutoDefault(false);
  test_memo1_ = Named(new QPlainTextEdit(this), "TestMemo1");
  test_memo1_->setReadOnly(true);
  test_memo1_->setMinimumHeight(5 * test_memo1_->fontMetrics().lineSpacing());
  ok_btn1_ = Named(new QPushButton(QStringLiteral("&OK"), this), "OkBtn1");
  ok_btn1_->setDefault(true);
  cancel_btn1_ = Named(new QPushButton(QStringLiteral("&Cancel"), this), "CancelBtn1");
  cancel_btn1_->setAutoDefault(false);
}

void TConnBuildFrm::LayOut() {
  // One grid, so that every field lines up; the rows a driver does not need are hidden.
  auto* grid = new QGridLayout;
  grid->addWidget(driver_radio_button1_, 0, 0);
  grid->addWidget(driver_combo_box1_, 0, 1, 1, 2);
  grid->addWidget(data_source_radio_button1_, 1, 0);
  grid->addWidget(data_source_combo_box1_, 1, 1, 1, 2);
  int row = 2;
  const auto add_row = [&](const char* caption, const char* name, QWidget* field,
                           QWidget* extra = nullptr) -> QWidget* {
    auto* label = Named(new QLabel(QLatin1String(caption), this), name);
    label->setBuddy(field);
    grid->addWidget(label, row, 0);
    grid->addWidget(field, row, 1, 1, extra == nullptr ? 2 : 1);
    if (extra != nullptr) grid->addWidget(extra, row, 2);
    ++row;
    return label;
  };
  file_rows_ = {add_row("Database &file:", "Label1", file_name_edit1_, browse_btn1_),
                file_name_edit1_, browse_btn1_};
  server_rows_ = {add_row("S&erver:", "Label2", host_edit1_),       host_edit1_,
                  add_row("Po&rt:", "Label3", port_edit1_),         port_edit1_,
                  add_row("Data&base:", "Label4", database_edit1_), database_edit1_};
  // A SQLite file has no user.
  server_rows_.push_back(add_row("&User name:", "Label5", user_edit1_));
  server_rows_.push_back(user_edit1_);
  server_rows_.push_back(add_row("&Password:", "Label6", password_edit1_));
  server_rows_.push_back(password_edit1_);
  add_row("Other optio&ns:", "Label7", other_edit1_);
  grid->setColumnStretch(1, 1);
  auto* string_caption = Named(new QLabel(QStringLiteral("Connection string:"), this), "Label8");
  auto* test_row = new QHBoxLayout;
  test_row->addWidget(test_btn1_);
  test_row->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_btn1_);
  buttons->addWidget(cancel_btn1_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(note_label1_);
  layout->addWidget(string_caption);
  layout->addWidget(conn_string_label1_);
  layout->addLayout(test_row);
  layout->addWidget(test_memo1_, 1);
  layout->addLayout(buttons);
}

void TConnBuildFrm::StartFrom(const std::vector<std::string>& drivers) {
  // The start: the parts of the current string, or empty parts and the reason.
  try {
    initial_parts_ = SplitConnectionString(start_.connection_string, [drivers] { return drivers; });
  } catch (const DbError& error) {
    note_label1_->setText(QStringLiteral("The current connection string could not be read "
                                         "(%1). Start again from the fields above.")
                              .arg(QString::fromStdString(error.what())));
    note_label1_->show();
    initial_parts_ = ConnectionParts();
  }
  if (initial_parts_.user.empty() && initial_parts_.password.empty()) {
    initial_parts_.user = start_.login;
    initial_parts_.password = start_.password;
  }
  if (initial_parts_.driver.empty() && !initial_parts_.use_data_source) {
    // A new profile starts with the embedded default, SQLite, where it is installed.
    for (const std::string& driver : drivers) {
      if (KindOfDriver(driver) == DriverKind::kSqlite) initial_parts_.driver = driver;
      if (driver == "SQLite3") break;
    }
  }
  ShowParts(initial_parts_);
}

void TConnBuildFrm::ConnectControls() {
  connect(driver_radio_button1_, &QRadioButton::toggled, this, &TConnBuildFrm::ArrangeForDriver);
  connect(driver_combo_box1_, &QComboBox::currentIndexChanged, this,
          &TConnBuildFrm::ArrangeForDriver);
  connect(data_source_combo_box1_, &QComboBox::currentIndexChanged, this,
          &TConnBuildFrm::ShowPreview);
  for (QLineEdit* edit : {file_name_edit1_, host_edit1_, port_edit1_, database_edit1_, user_edit1_,
                          password_edit1_, other_edit1_}) {
    connect(edit, &QLineEdit::textChanged, this, &TConnBuildFrm::ShowPreview);
  }
  connect(browse_btn1_, &QPushButton::clicked, this, &TConnBuildFrm::BrowseBtn1Click);
  connect(test_btn1_, &QPushButton::clicked, this, &TConnBuildFrm::TestBtn1Click);
  connect(ok_btn1_, &QPushButton::clicked, this, &TConnBuildFrm::OkBtnClick);
  connect(cancel_btn1_, &QPushButton::clicked, this, &QDialog::reject);
}

TConnBuildFrm::~TConnBuildFrm() = default;

void TConnBuildFrm::ShowParts(const ConnectionParts& parts) {
  (parts.use_data_source ? data_source_radio_button1_ : driver_radio_button1_)->setChecked(true);
  int driver = driver_combo_box1_->findText(Q(parts.driver), Qt::MatchFixedString);
  if (driver < 0 && !parts.driver.empty()) {
    // A driver that is not installed is still shown: the string names it.
    driver_combo_box1_->addItem(Q(parts.driver));
    driver = driver_combo_box1_->count() - 1;
  }
  driver_combo_box1_->setCurrentIndex(driver);
  int source = data_source_combo_box1_->findData(Q(parts.data_source));
  if (source < 0 && !parts.data_source.empty()) {
    data_source_combo_box1_->addItem(Q(parts.data_source), Q(parts.data_source));
    source = data_source_combo_box1_->count() - 1;
  }
  data_source_combo_box1_->setCurrentIndex(source);
  file_name_edit1_->setText(Q(parts.file));
  host_edit1_->setText(Q(parts.host));
  port_edit1_->setText(Q(parts.port));
  database_edit1_->setText(Q(parts.database));
  user_edit1_->setText(Q(parts.user));
  password_edit1_->setText(Q(parts.password));
  std::string other = FormatOdbcConnectionString(parts.other);
  if (other.ends_with(';')) other.pop_back();
  other_edit1_->setText(Q(other));
}

ConnectionParts TConnBuildFrm::Parts() const {
  ConnectionParts parts;
  parts.use_data_source = data_source_radio_button1_->isChecked();
  parts.data_source = S(data_source_combo_box1_->currentData().toString());
  parts.driver = S(driver_combo_box1_->currentText());
  const bool file = !parts.use_data_source && KindOfDriver(parts.driver) == DriverKind::kSqlite;
  if (file) {
    parts.file = S(file_name_edit1_->text().trimmed());
  } else {
    parts.host = S(host_edit1_->text().trimmed());
    parts.port = S(port_edit1_->text().trimmed());
    parts.database = S(database_edit1_->text().trimmed());
  }
  if (!file) {
    parts.user = S(user_edit1_->text());
    parts.password = S(password_edit1_->text());
  }
  return parts;
}

bool TConnBuildFrm::Build(std::string& text, QString& error) const {
  ConnectionParts parts = Parts();
  try {
    parts.other = ParseConnectionString(S(other_edit1_->text()));
  } catch (const DbError& e) {
    error = QStringLiteral("Other options: ") + QString::fromStdString(e.what());
    return false;
  }
  ConnectionParts initial = initial_parts_;
  // Fields the chosen driver does not ask for do not count as changes.
  if (!parts.use_data_source && KindOfDriver(parts.driver) == DriverKind::kSqlite) {
    initial.user.clear();
    initial.password.clear();
  }
  text = parts == initial && !start_.connection_string.empty() ? start_.connection_string
                                                               : JoinConnectionString(parts);
  return true;
}

void TConnBuildFrm::ArrangeForDriver() {
  const bool by_source = data_source_radio_button1_->isChecked();
  driver_combo_box1_->setEnabled(!by_source);
  data_source_combo_box1_->setEnabled(by_source);
  const DriverKind kind = KindOfDriver(S(driver_combo_box1_->currentText()));
  const bool file = !by_source && kind == DriverKind::kSqlite;
  for (QWidget* widget : file_rows_) widget->setVisible(file);
  for (QWidget* widget : server_rows_) widget->setVisible(!file);
  port_edit1_->setPlaceholderText(QLatin1String(DefaultPort(kind)));
  ShowPreview();
}

void TConnBuildFrm::ShowPreview() {
  std::string text;
  QString error;
  conn_string_label1_->setText(Build(text, error) ? Q(MaskConnectionPasswords(text)) : error);
}

void TConnBuildFrm::BrowseBtn1Click() {
  FileDialog::Request request;
  request.caption = QStringLiteral("SQLite CDR database");
  request.filter = QStringLiteral("SQLite databases (*.db *.sqlite *.sqlite3);;All Files (*)");
  const QFileInfo current(file_name_edit1_->text().trimmed());
  request.folder = current.absolutePath();
  request.file_name = current.fileName();
  const QString chosen = FileDialog::GetOpenFileName(this, request);
  if (!chosen.isEmpty()) file_name_edit1_->setText(chosen);
}

bool TConnBuildFrm::Testing() const { return worker_->Busy(); }

void TConnBuildFrm::TestBtn1Click() {
  std::string text;
  QString error;
  if (!Build(text, error)) {
    test_memo1_->setPlainText(error);
    return;
  }
  // The database a run opens: the one the string names.
  ProfileSettings settings;
  settings.sql_connection_string = text;
  settings.sql_table_name = start_.table_name;
  TakeDatabaseFromConnectionString(settings);
  const ConnectionParts parts = Parts();
  const ConnectionCheckRequest request{text, settings.sql_database_name, settings.sql_table_name,
                                       parts.user, parts.password};
  test_memo1_->setPlainText(QStringLiteral("Testing the connection..."));
  test_btn1_->setEnabled(false);
  worker_->Start(
      [this, request](DbConnection& db) -> DbWorker::Delivery {
        const ConnectionCheckResult result = CheckConnection(db, request);
        return [this, result] {
          QStringList lines;
          for (const std::string& line : result.lines) lines.append(Q(line));
          if (result.outcome == ConnectionCheckOutcome::kReachable) {
            lines.append(QStringLiteral("The connection works."));
          }
          test_memo1_->setPlainText(lines.join(QLatin1Char('\n')));
          test_btn1_->setEnabled(true);
        };
      },
      [this](const std::string& message) {
        test_memo1_->setPlainText(Q(message));
        test_btn1_->setEnabled(true);
      });
}

void TConnBuildFrm::OkBtnClick() {
  std::string text;
  QString error;
  if (!Build(text, error)) {
    MessageBox::Information(this, error);
    other_edit1_->setFocus();
    return;
  }
  result_ = text;
  accept();
}

void TConnBuildFrm::keyPressEvent(QKeyEvent* event) {
  if (EnterBelongsToControl(this, event)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TConnBuildFrm::done(int result) {
  // A test still running is stopped; its answer is no longer wanted.
  worker_->Cancel();
  test_btn1_->setEnabled(true);
  QDialog::done(result);
}

}  // namespace remoteccm::gui
