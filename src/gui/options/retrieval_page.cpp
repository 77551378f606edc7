#include "gui/options/retrieval_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QTimeZone>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>
#include <exception>
#include <limits>

#include "gui/app/widget_text.h"
#include "gui/options/local_time.h"
#include "gui/seams/file_dialog.h"
#include "gui/seams/message_box.h"
#include "profile/profile_file.h"
#include "profile/sql_script.h"
#include "util/ini_file.h"
#include "util/text_routines.h"

namespace remoteccm::gui {
namespace {

// The pages of the panel place, by retrieval mode.
enum PanelPage { kNoPanel = 0, kNewRecPanel, kDateQueryPanel, kSqlPanel };

QComboBox* IncrementCombo(QWidget* parent, const char* name) {
  auto* combo = Named(new QComboBox(parent), name);
  for (std::string_view item : kIncrementModeItems) combo->addItem(QLatin1String(item));
  return combo;
}

QSpinBox* IncrementSpin(QWidget* parent, const char* name) {
  auto* spin = Named(new QSpinBox(parent), name);
  spin->setRange(1, 365);
  return spin;
}

QLabel* Buddy(const char* caption, const char* name, QWidget* buddy, QWidget* parent) {
  auto* label = Named(new QLabel(QLatin1String(caption), parent), name);
  label->setBuddy(buddy);
  return label;
}

double DayPart(double value) { return std::floor(value); }

double DayValue(const QDate& date) {
  return DateTimeToLocalValue(QDateTime(date, QTime(0, 0), QTimeZone::utc()));
}

QStringList Lines(const std::vector<std::string>& lines) {
  QStringList list;
  for (const std::string& line : lines) list.append(Q(line));
  return list;
}

std::vector<std::string> LinesOf(const QPlainTextEdit* memo) {
  std::vector<std::string> lines;
  const QString text = memo->toPlainText();
  if (text.isEmpty()) return lines;
  for (const QString& line : text.split(QLatin1Char('\n'))) lines.push_back(S(line));
  return lines;
}

}  // namespace

TRetrievalPage::TRetrievalPage(std::filesystem::path program_home, std::filesystem::path samples,
                               std::function<TimeZoneSettings()> zone, QWidget* parent)
    : QWidget(parent),
      program_home_(std::move(program_home)),
      samples_(std::move(samples)),
      zone_(std::move(zone)) {
  QGroupBox* destination = BuildDestinationBox();
  QGroupBox* collection = BuildCollectionBox();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(destination);
  layout->addWidget(collection, 1);
  ConnectControls();
}

// Where the lines go: the destination file, overwriting it, the backup.
QGroupBox* TRetrievalPage::BuildDestinationBox() {
  auto* destination =
      Named(new QGroupBox(QStringLiteral("Destination Path && Filename"), this), "GroupBox3");
  dest_file_name1_ = Named(new QLineEdit(destination), "DestFileName1");
  button3_ = Named(new QPushButton(QStringLiteral("&Browse"), destination), "Button3");
  button3_->setAutoDefault(false);
  overwrite1_ =
      Named(new QCheckBox(QStringLiteral("Overwrite existing file when merging new transfers"),
                          destination),
            "Overwrite1");
  sql_backup1_ = Named(new QCheckBox(QStringLiteral("Make a backup copy of all data (.bak) "
                                                    "transferred (in .CSV)"),
                                     destination),
                       "SQLBackup1");
  auto* destination_row = new QHBoxLayout;
  destination_row->addWidget(dest_file_name1_, 1);
  destination_row->addWidget(button3_);
  auto* destination_layout = new QVBoxLayout(destination);
  destination_layout->setSpacing(4);
  destination_layout->addLayout(destination_row);
  destination_layout->addWidget(overwrite1_);
  destination_layout->addWidget(sql_backup1_);
  return destination;
}

// What is collected, and what is done after: the mode and its panel, deletion, polling.
QGroupBox* TRetrievalPage::BuildCollectionBox() {
  auto* collection =
      Named(new QGroupBox(QStringLiteral("Data Collection / Deletion Options"), this), "GroupBox4");
  retrieve_list_box1_ = Named(new QComboBox(collection), "RetrieveListBox1");
  for (std::string_view item : kRetrievalModeItems) {
    retrieve_list_box1_->addItem(QLatin1String(item));
  }
  panels_ = Named(new QStackedWidget(collection), "RetrievalPanels1");
  // The place of the panels, empty in All Records, says what that does to CDR files.
  auto* no_panel = new QWidget(panels_);
  files_note_label_ = Named(
      new QLabel(QStringLiteral("A profile of CDR files on All Records without Delete Selected "
                                "Records writes every imported record again on every run."),
                 no_panel),
      "FilesNoteLabel1");
  files_note_label_->setWordWrap(true);
  files_note_label_->hide();
  auto* no_panel_layout = new QVBoxLayout(no_panel);
  no_panel_layout->setContentsMargins(0, 4, 0, 0);
  no_panel_layout->addWidget(files_note_label_);
  no_panel_layout->addStretch(1);
  panels_->addWidget(no_panel);
  panels_->addWidget(BuildNewRecPanel());
  panels_->addWidget(BuildDateQueryPanel());
  panels_->addWidget(BuildSqlPanel());
  sql_delete_recs_chk_box1_ =
      Named(new QCheckBox(QStringLiteral("Delete Selecte&d Records"), collection),
            "SQLDeleteRecsChkBox1");
  poll_again1_ = Named(new QCheckBox(QStringLiteral("&Poll again until zero records returned. "
                                                    "Pause for"),
                                     collection),
                       "PollAgain1");
  wait_before_polling_again1_ = Named(new QSpinBox(collection), "WaitBeforePollingAgain1");
  wait_before_polling_again1_->setRange(std::numeric_limits<int>::min(),
                                        std::numeric_limits<int>::max());
  wait_before_polling_again1_->setAccessibleName(QStringLiteral("Pause between connections"));
  wait_before_polling_again1_->setMaximumWidth(
      wait_before_polling_again1_->fontMetrics().horizontalAdvance(QStringLiteral("-000000")) + 32);
  poll_again_label2_ = Named(new QLabel(QStringLiteral("seconds between connections."), collection),
                             "PollAgainLabel2");
  LayOutCollection(collection);
  return collection;
}

void TRetrievalPage::LayOutCollection(QGroupBox* collection) {
  auto* mode_row = new QHBoxLayout;
  mode_row->addWidget(
      Buddy("Connect to CCM and Retrie&ve", "Label9", retrieve_list_box1_, collection));
  mode_row->addWidget(retrieve_list_box1_, 1);
  // The check box's caption, the pause and its unit read as one sentence, on one line.
  auto* poll_row = new QHBoxLayout;
  poll_row->addWidget(poll_again1_);
  poll_row->addWidget(wait_before_polling_again1_);
  poll_row->addWidget(poll_again_label2_);
  poll_row->addStretch(1);
  auto* collection_layout = new QVBoxLayout(collection);
  collection_layout->setSpacing(4);
  collection_layout->addLayout(mode_row);
  collection_layout->addWidget(panels_, 1);
  collection_layout->addWidget(sql_delete_recs_chk_box1_);
  collection_layout->addLayout(poll_row);
  // The delete box and the poll line keep their places while hidden: nothing jumps.
  for (QWidget* widget :
       std::initializer_list<QWidget*>{sql_delete_recs_chk_box1_, poll_again1_,
                                       wait_before_polling_again1_, poll_again_label2_}) {
    QSizePolicy keep = widget->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(keep);
  }
}

void TRetrievalPage::ConnectControls() {
  connect(retrieve_list_box1_, &QComboBox::currentIndexChanged, this,
          &TRetrievalPage::RetrieveListBox1Change);
  connect(edit_new_recs_btn_, &QPushButton::clicked, this, &TRetrievalPage::EditNewRecsBtnClick);
  connect(new_rec_date_picker1_, &QDateEdit::dateChanged, this,
          [this] { start_values_changed_ = true; });
  connect(new_rec_time_picker1_, &QTimeEdit::timeChanged, this,
          [this] { start_values_changed_ = true; });
  connect(sql_delete_recs_chk_box1_, &QCheckBox::toggled, this, &TRetrievalPage::ShowFilesNote);
  connect(button3_, &QPushButton::clicked, this, &TRetrievalPage::Button3Click);
  connect(button7_, &QPushButton::clicked, this, &TRetrievalPage::Button4Click);
  RetrieveListBox1Change();
}

QWidget* TRetrievalPage::BuildNewRecPanel() {
  sql_new_rec_date_panel_ = Named(new QWidget(panels_), "SQLNewRecDatePanel");
  QWidget* panel = sql_new_rec_date_panel_;
  new_rec_date_picker1_ = Named(new QDateEdit(panel), "NewRecDatePicker1");
  new_rec_date_picker1_->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  new_rec_date_picker1_->setCalendarPopup(true);
  new_rec_time_picker1_ = Named(new QTimeEdit(panel), "NewRecTimePicker1");
  new_rec_time_picker1_->setDisplayFormat(QStringLiteral("HH:mm:ss"));
  edit_new_recs_btn_ = Named(new QPushButton(QStringLiteral("Edit"), panel), "EditNewRecsBtn");
  edit_new_recs_btn_->setAutoDefault(false);
  new_rec_spin_edit1_ = IncrementSpin(panel, "NewRecSpinEdit1");
  new_rec_combo_box1_ = IncrementCombo(panel, "NewRecComboBox1");
  late_arrival_spin_edit1_ = Named(new QSpinBox(panel), "LateArrivalSpinEdit1");
  late_arrival_spin_edit1_->setRange(0, 1440);
  late_arrival_spin_edit1_->setSuffix(QStringLiteral(" minutes"));
  auto* late_note =
      Named(new QLabel(QStringLiteral("Each pass also selects this far back before its start, "
                                      "for records the CallManager wrote late; none is written "
                                      "twice."),
                       panel),
            "LateArrivalLabel2");
  late_note->setWordWrap(true);

  auto* grid = new QGridLayout(panel);
  grid->setContentsMargins(0, 4, 0, 0);
  grid->addWidget(Buddy("Retrieves records &starting at", "Label13", new_rec_date_picker1_, panel),
                  0, 0);
  auto* start_row = new QHBoxLayout;
  start_row->addWidget(new_rec_date_picker1_);
  start_row->addWidget(new_rec_time_picker1_);
  start_row->addWidget(edit_new_recs_btn_);
  start_row->addStretch(1);
  grid->addLayout(start_row, 0, 1);
  grid->addWidget(Buddy("In &increments of ", "Label14", new_rec_spin_edit1_, panel), 1, 0);
  auto* increment_row = new QHBoxLayout;
  increment_row->addWidget(new_rec_spin_edit1_);
  increment_row->addWidget(new_rec_combo_box1_);
  increment_row->addStretch(1);
  grid->addLayout(increment_row, 1, 1);
  grid->addWidget(
      Buddy("Loo&k back for late records", "LateArrivalLabel1", late_arrival_spin_edit1_, panel), 2,
      0);
  auto* late_row = new QHBoxLayout;
  late_row->addWidget(late_arrival_spin_edit1_);
  late_row->addStretch(1);
  grid->addLayout(late_row, 2, 1);
  grid->addWidget(late_note, 3, 0, 1, 2);
  grid->setRowStretch(4, 1);
  grid->setColumnStretch(1, 1);
  return panel;
}

QWidget* TRetrievalPage::BuildDateQueryPanel() {
  sql_date_query_panel_ = Named(new QWidget(panels_), "SQLDateQueryPanel");
  QWidget* panel = sql_date_query_panel_;
  sql_from_date_time_picker1_ = Named(new QDateEdit(panel), "SQLFromDateTimePicker1");
  sql_to_date_time_picker1_ = Named(new QDateEdit(panel), "SQLToDateTimePicker1");
  for (QDateEdit* picker : {sql_from_date_time_picker1_, sql_to_date_time_picker1_}) {
    picker->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    picker->setCalendarPopup(true);
  }
  sql_date_range_spin_edit1_ = IncrementSpin(panel, "SQLDateRangeSpinEdit1");
  sql_date_range_combo_box1_ = IncrementCombo(panel, "SQLDateRangeComboBox1");
  auto* grid = new QGridLayout(panel);
  grid->setContentsMargins(0, 4, 0, 0);
  grid->addWidget(Buddy("&From:", "Label10", sql_from_date_time_picker1_, panel), 0, 0);
  grid->addWidget(sql_from_date_time_picker1_, 0, 1);
  grid->addWidget(Buddy("&To:", "Label11", sql_to_date_time_picker1_, panel), 1, 0);
  grid->addWidget(sql_to_date_time_picker1_, 1, 1);
  grid->addWidget(Buddy("In &increments of ", "Label15", sql_date_range_spin_edit1_, panel), 2, 0);
  auto* increment_row = new QHBoxLayout;
  increment_row->addWidget(sql_date_range_spin_edit1_);
  increment_row->addWidget(sql_date_range_combo_box1_);
  increment_row->addStretch(1);
  grid->addLayout(increment_row, 2, 1);
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(3, 1);
  return panel;
}

QWidget* TRetrievalPage::BuildSqlPanel() {
  sql_panel_ = Named(new QWidget(panels_), "SQLPanel");
  QWidget* panel = sql_panel_;
  connect_sql1_ = Named(new QPlainTextEdit(panel), "ConnectSQL1");
  disconnect_sql1_ = Named(new QPlainTextEdit(panel), "DisconnectSQL1");
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  for (QPlainTextEdit* memo : {connect_sql1_, disconnect_sql1_}) {
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo->setFont(fixed);
    memo->setTabChangesFocus(true);
    memo->setMinimumHeight(3 * memo->fontMetrics().lineSpacing() + 12);
  }
  button7_ = Named(new QPushButton(QStringLiteral("Bro&wse"), panel), "Button7");
  button7_->setAutoDefault(false);
  button7_->setToolTip(QStringLiteral("Load the statements from a sample SQL script (.ssq)"));
  auto* top = new QHBoxLayout;
  top->addWidget(Buddy("SQL Record &Selection Statement(s)", "Label21", connect_sql1_, panel), 1);
  top->addWidget(button7_);
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(0, 4, 0, 0);
  layout->setSpacing(2);
  layout->addLayout(top);
  layout->addWidget(connect_sql1_, 1);
  layout->addWidget(Buddy("SQL Record Deletion State&ment(s)", "Label22", disconnect_sql1_, panel));
  layout->addWidget(disconnect_sql1_, 1);
  return panel;
}

// ---- Load and collect ----------------------------------------------------------------------

void TRetrievalPage::Load(const ProfileSettings& settings) {
  profile_path_ = settings.profile_path;
  start_unwritten_ = false;
  dest_file_name1_->setText(Q(settings.destination_file));
  overwrite1_->setChecked(settings.overwrite);
  sql_backup1_->setChecked(settings.sql_backup);
  connect_sql1_->setPlainText(Lines(settings.connect_sql).join(QLatin1Char('\n')));
  disconnect_sql1_->setPlainText(Lines(settings.disconnect_sql).join(QLatin1Char('\n')));
  sql_delete_recs_chk_box1_->setChecked(settings.delete_recs);
  poll_again1_->setChecked(settings.poll_again);
  wait_before_polling_again1_->setValue(settings.wait_before_polling_again);
  new_rec_spin_edit1_->setValue(settings.new_rec_incr_value);
  new_rec_combo_box1_->setCurrentIndex(static_cast<int>(settings.new_rec_incr_mode));
  late_arrival_spin_edit1_->setValue(settings.late_arrival_minutes);
  sql_date_range_spin_edit1_->setValue(settings.date_range_incr_value);
  sql_date_range_combo_box1_->setCurrentIndex(static_cast<int>(settings.date_range_incr_mode));
  sql_from_date_time_picker1_->setDate(LocalValueToDateTime(settings.from_date_range).date());
  from_time_of_day_ = settings.from_date_range - DayPart(settings.from_date_range);
  sql_to_date_time_picker1_->setDate(LocalValueToDateTime(settings.to_date_range).date());
  to_time_of_day_ = settings.to_date_range - DayPart(settings.to_date_range);
  sql_new_rec_date_ = settings.sql_new_rec_date;
  const QSignalBlocker block(retrieve_list_box1_);
  retrieve_list_box1_->setCurrentIndex(static_cast<int>(settings.connect_sql_mode));
  RetrieveListBox1Change();
}

void TRetrievalPage::Collect(ProfileSettings& settings) const {
  settings.destination_file = S(dest_file_name1_->text());
  settings.overwrite = overwrite1_->isChecked();
  settings.sql_backup = sql_backup1_->isChecked();
  settings.connect_sql_mode = static_cast<RetrievalMode>(retrieve_list_box1_->currentIndex());
  settings.connect_sql = LinesOf(connect_sql1_);
  settings.disconnect_sql = LinesOf(disconnect_sql1_);
  settings.delete_recs = sql_delete_recs_chk_box1_->isChecked();
  settings.poll_again = poll_again1_->isChecked();
  settings.wait_before_polling_again = wait_before_polling_again1_->value();
  settings.new_rec_incr_value = new_rec_spin_edit1_->value();
  settings.new_rec_incr_mode = static_cast<IncrementMode>(new_rec_combo_box1_->currentIndex());
  settings.late_arrival_minutes = late_arrival_spin_edit1_->value();
  settings.date_range_incr_value = sql_date_range_spin_edit1_->value();
  settings.date_range_incr_mode =
      static_cast<IncrementMode>(sql_date_range_combo_box1_->currentIndex());
  settings.from_date_range = DayValue(sql_from_date_time_picker1_->date()) + from_time_of_day_;
  settings.to_date_range = DayValue(sql_to_date_time_picker1_->date()) + to_time_of_day_;
  settings.sql_new_rec_date = sql_new_rec_date_;
}

// ---- The mode and the start ----------------------------------------------------------------

void TRetrievalPage::RetrieveListBox1Change() {
  const auto mode = static_cast<RetrievalMode>(std::max(retrieve_list_box1_->currentIndex(), 0));
  switch (mode) {
    case RetrievalMode::kNoRecords:
    case RetrievalMode::kAllRecords:
      panels_->setCurrentIndex(kNoPanel);
      break;
    case RetrievalMode::kNewRecordsOnly:
      panels_->setCurrentIndex(kNewRecPanel);
      break;
    case RetrievalMode::kByDate:
      panels_->setCurrentIndex(kDateQueryPanel);
      break;
    case RetrievalMode::kBySqlQuery:
      panels_->setCurrentIndex(kSqlPanel);
      break;
  }
  sql_delete_recs_chk_box1_->setVisible(mode != RetrievalMode::kNoRecords);
  const bool polls = mode != RetrievalMode::kNoRecords && mode != RetrievalMode::kAllRecords;
  for (QWidget* widget : std::initializer_list<QWidget*>{poll_again1_, wait_before_polling_again1_,
                                                         poll_again_label2_}) {
    widget->setVisible(polls);
  }
  ShowFilesNote();
  CloseStartEdit();
}

void TRetrievalPage::SetFilesSource(bool files) {
  files_source_ = files;
  ShowFilesNote();
}

bool TRetrievalPage::CollectsEachRecordOnce() const {
  return retrieve_list_box1_->currentIndex() == static_cast<int>(RetrievalMode::kAllRecords) &&
         sql_delete_recs_chk_box1_->isChecked();
}

void TRetrievalPage::CollectEachRecordOnce() {
  retrieve_list_box1_->setCurrentIndex(static_cast<int>(RetrievalMode::kAllRecords));
  sql_delete_recs_chk_box1_->setChecked(true);
}

void TRetrievalPage::ShowFilesNote() {
  files_note_label_->setVisible(files_source_ &&
                                retrieve_list_box1_->currentIndex() ==
                                    static_cast<int>(RetrievalMode::kAllRecords) &&
                                !sql_delete_recs_chk_box1_->isChecked());
}

void TRetrievalPage::CloseStartEdit() {
  new_rec_date_picker1_->setEnabled(false);
  new_rec_time_picker1_->setEnabled(false);
  edit_new_recs_btn_->setText(QStringLiteral("Edit"));
  ShowStartValues();
  start_values_changed_ = false;
}

void TRetrievalPage::ShowStartValues() {
  const QDateTime start = LocalValueToDateTime(CdrSecondsToLocal(zone_(), sql_new_rec_date_));
  const QSignalBlocker block_date(new_rec_date_picker1_);
  const QSignalBlocker block_time(new_rec_time_picker1_);
  new_rec_date_picker1_->setDate(start.date());
  new_rec_time_picker1_->setTime(start.time());
}

void TRetrievalPage::EditNewRecsBtnClick() {
  if (edit_new_recs_btn_->text() == QLatin1String("Edit")) {
    MessageBox::Information(this, QStringLiteral("Please note changes made to the date and time "
                                                 "values will only be saved if you press the "
                                                 "update button."));
    new_rec_date_picker1_->setEnabled(true);
    new_rec_time_picker1_->setEnabled(true);
    edit_new_recs_btn_->setText(QStringLiteral("Update"));
    new_rec_date_picker1_->setFocus();
  } else {
    new_rec_date_picker1_->setEnabled(false);
    new_rec_time_picker1_->setEnabled(false);
    edit_new_recs_btn_->setText(QStringLiteral("Edit"));
    const QDateTime local(new_rec_date_picker1_->date(), new_rec_time_picker1_->time(),
                          QTimeZone::utc());
    const double seconds = LocalToCdrSeconds(zone_(), DateTimeToLocalValue(local));
    sql_new_rec_date_ = seconds;
    // Written at once, whether the dialog then ends with OK or Cancel; a profile without a
    // file yet gets it with its first save.
    start_unwritten_ = profile_path_.empty();
    if (!profile_path_.empty()) {
      try {
        WriteProfileValue(profile_path_, kProfileSection, kStartKey, FormatWhole(seconds));
      } catch (const std::exception& e) {
        MessageBox::Critical(this, QString::fromLocal8Bit(e.what()));
      }
    }
  }
  start_values_changed_ = false;
}

// ---- The two Browse buttons ----------------------------------------------------------------

void TRetrievalPage::Button3Click() {
  FileDialog::Request request;
  request.caption = QStringLiteral("Destination file");
  request.filter = QStringLiteral(
      "Velmor CDR Raw File (*.raw);;Velmor Halvorix CDR File (*.txt);;All Files (*)");
  request.default_suffix = QStringLiteral("raw");
  request.must_exist = false;
  const QString current = dest_file_name1_->text().trimmed();
  const QFileInfo info(current);
  if (!current.isEmpty() && info.isFile()) {
    request.folder = info.absolutePath();
    request.file_name = info.fileName();
  } else {
    request.folder = Q(program_home_.string());
    request.file_name = QStringLiteral("*.raw");
  }
  const QString chosen = FileDialog::GetOpenFileName(this, request);
  if (!chosen.isEmpty()) dest_file_name1_->setText(chosen);
}

void TRetrievalPage::Button4Click() {
  FileDialog::Request request;
  request.caption = QStringLiteral("Sample SQL script");
  request.filter = QStringLiteral("Sample SQL Scripts (*.ssq);;All Files (*)");
  request.default_suffix = QStringLiteral("ssq");
  request.folder = QFileInfo(dest_file_name1_->text().trimmed()).absolutePath();
  request.file_name = QStringLiteral("*.ssq");
  if (!samples_.empty()) request.places.append(QUrl::fromLocalFile(Q(samples_.string())));
  const QString chosen = FileDialog::GetOpenFileName(this, request);
  if (chosen.isEmpty()) return;
  const SqlScript script = ReadSqlScript(S(chosen));
  if (script.connect_sql) {
    connect_sql1_->setPlainText(Lines(*script.connect_sql).join(QLatin1Char('\n')));
    disconnect_sql1_->clear();
  }
  if (script.disconnect_sql) {
    disconnect_sql1_->setPlainText(Lines(*script.disconnect_sql).join(QLatin1Char('\n')));
  }
}

}  // namespace remoteccm::gui
