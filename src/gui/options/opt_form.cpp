// One piece: the dialog's pages, wired to the one copy of the settings they edit.

#include "gui/options/opt_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>
#include <exception>

#include "cdrfiles/cdr_file_source.h"
#include "gui/about/about_box.h"
#include "gui/app/designed_size.h"
#include "gui/app/dialog_keys.h"
#include "gui/app/run_controller.h"
#include "gui/app/widget_text.h"
#include "gui/options/cdr_folder_box.h"
#include "gui/options/conn_builder.h"
#include "gui/options/conn_string_edit.h"
#include "gui/options/connect_page.h"
#include "gui/options/fields_page.h"
#include "gui/options/page_scroller.h"
#include "gui/options/retrieval_page.h"
#include "gui/options/time_zone_page.h"
#include "gui/seams/message_box.h"
#include "platform/db/connection_string.h"
#include "profile/connection_fields.h"
#include "profile/profile_list.h"
#include "retrieval/layout/field_selection.h"
#include "util/ini_file.h"
#include "util/posix_file.h"
#include "util/text_routines.h"

namespace remoteccm::gui {
namespace {

// The designed size, frame included.
constexpr QSize kDesignedSize(478, 438);

bool Within(const QWidget* widget, const QWidget* area) {
  return widget != nullptr && (widget == area || area->isAncestorOf(widget));
}

}  // namespace

std::filesystem::path SampleScriptsFolder() {
  const QDir share(QCoreApplication::applicationDirPath() +
                   QStringLiteral("/../share/remoteccm/sql"));
  return share.exists() ? std::filesystem::path(S(share.canonicalPath())) : std::filesystem::path();
}

TOptFrm::TOptFrm(const ProfileEnvironment& env, Dialer& dialer, RunController& controller,
                 QWidget* parent)
    : QDialog(parent), env_(env), dialer_(dialer), controller_(controller) {
  setObjectName(QStringLiteral("TOptFrm"));
  setWindowTitle(QStringLiteral("Properties"));
  BuildControls();
  ConnectHandlers();
  // FormCreate: the first pages current, the Delete Recs tab hidden.
  page_control1_->setCurrentWidget(general_tab_sheet1_);
  advanced_page_control1_->setCurrentIndex(0);
  page_control1_->setTabVisible(page_control1_->indexOf(delete_recs_tab_sheet1_), false);
  const QScreen* primary = QGuiApplication::primaryScreen();
  FitInto(primary != nullptr ? primary->availableGeometry() : QRect(0, 0, 1 << 16, 1 << 16));
}

void TOptFrm::FitInto(const QRect& available) {
  // Every page whole, and at least the designed size; on a screen too small for that, as large
  // as the screen less the window's frame, the pages scrolling.
  const QSize whole = DesignedClientSize(this, kDesignedSize).expandedTo(sizeHint());
  const QSize frame = (frameGeometry().size() - geometry().size()).expandedTo(kWindowFrame);
  setFixedSize(whole.boundedTo(available.size() - frame));
}

TOptFrm::~TOptFrm() {
  // The child widgets are deleted after this body, and while they go focus moves and the
  // current page changes: nothing of this class, already gone by then, may answer.
  qApp->disconnect(this);
  page_control1_->disconnect(this);
}

// ---- The controls --------------------------------------------------------------------------

void TOptFrm::BuildControls() {
  page_control1_ = Named(new QTabWidget(this), "PageControl1");
  general_tab_sheet1_ = BuildGeneralPage();
  connect_page_ = Named(new TConnectPage(dialer_, page_control1_), "ConnectTabSheet1");
  connect_tab_sheet1_ = connect_page_;
  login_tab_sheet1_ = BuildLoginPage();
  // The retrieval page shows its times in the zone of the Advanced page: that comes first.
  advanced_tab_sheet_ = BuildAdvancedPage();
  retrieval_page_ = Named(new TRetrievalPage(
                              env_.program_home, SampleScriptsFolder(),
                              [this] { return time_zone_page_->Zone(); }, page_control1_),
                          "RetrievalTabSheet1");
  retrieval_tab_sheet1_ = retrieval_page_;
  delete_recs_tab_sheet1_ = BuildDeleteRecsPage();
  notice_tab_sheet1_ = BuildNoticePage();
  // Each page scrolls where the screen is too small for it, so that the dialog always fits.
  for (QWidget** page :
       {&general_tab_sheet1_, &connect_tab_sheet1_, &login_tab_sheet1_, &retrieval_tab_sheet1_,
        &advanced_tab_sheet_, &delete_recs_tab_sheet1_, &notice_tab_sheet1_}) {
    *page = new PageScroller(*page, page_control1_);
  }
  page_control1_->addTab(general_tab_sheet1_, QStringLiteral("&General"));
  page_control1_->addTab(connect_tab_sheet1_, QStringLiteral("&Connect"));
  page_control1_->addTab(login_tab_sheet1_, QStringLiteral("&Login"));
  page_control1_->addTab(retrieval_tab_sheet1_, QStringLiteral("&Retrieval"));
  page_control1_->addTab(advanced_tab_sheet_, QStringLiteral("&Advanced"));
  page_control1_->addTab(delete_recs_tab_sheet1_, QStringLiteral("&Delete Recs"));
  page_control1_->addTab(notice_tab_sheet1_, QStringLiteral("&Help"));

  ok_btn_ = Named(new QPushButton(QStringLiteral("&OK"), this), "OkBtn");
  ok_btn_->setDefault(true);
  // No mnemonic: Alt+C is the Connect page's, and Escape is Cancel's key.
  button2_ = Named(new QPushButton(QStringLiteral("Cancel"), this), "Button2");
  button2_->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_btn_);
  buttons->addWidget(button2_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addWidget(page_control1_, 1);
  layout->addLayout(buttons);
}

QWidget* TOptFrm::BuildGeneralPage() {
  auto* page = Named(new QWidget(page_control1_), "GeneralTabSheet1");
  profile_name1_ = Named(new QLineEdit(page), "ProfileName1");
  auto* label = Named(new QLabel(QStringLiteral("&Enter Profile Name"), page), "Label1");
  label->setBuddy(profile_name1_);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(label);
  layout->addWidget(profile_name1_);
  layout->addStretch(1);
  return page;
}

QWidget* TOptFrm::BuildLoginPage() {
  auto* page = Named(new QWidget(page_control1_), "LoginTabSheet1");
  QWidget* authentication = BuildAuthenticationBox(page);
  QWidget* database = BuildDatabaseBox(page);

  // A CallManager 3.x or 4.x keeps its records in a table; 5 and later push files.
  database_radio_ =
      Named(new QRadioButton(
                QStringLiteral("The CDR database &in CallManager 3.x and 4.x, through ODBC"), page),
            "DatabaseRadioButton1");
  cdr_files_radio_ =
      Named(new QRadioButton(QStringLiteral("CDR &files pushed by CallManager 5 or later"), page),
            "CdrFilesRadioButton1");
  database_radio_->setChecked(true);
  cdr_folder_box_ =
      Named(new TCdrFolderBox([this] { return Collect(); },
                              [this] { return static_cast<double>(CurrentMoment(env_)); },
                              env_.program_home, page),
            "CdrFolderBox1");

  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->addWidget(database_radio_);
  layout->addWidget(authentication);
  layout->addWidget(database);
  layout->addWidget(cdr_files_radio_);
  layout->addWidget(cdr_folder_box_);
  layout->addStretch(1);
  return page;
}

// The login the database is reached with.
QWidget* TOptFrm::BuildAuthenticationBox(QWidget* page) {
  auto* authentication = Named(new QGroupBox(QStringLiteral("Authentication"), page), "GroupBox1");
  authentication_ = authentication;
  login1_ = Named(new QLineEdit(QStringLiteral("CiscoCCMCDR"), authentication), "Login1");
  password1_ = Named(new QLineEdit(authentication), "Password1");
  password1_->setEchoMode(QLineEdit::Password);
  auto* auth_grid = new QGridLayout(authentication);
  auto* user_label = Named(new QLabel(QStringLiteral("&User Name:"), authentication), "Label5");
  user_label->setBuddy(login1_);
  auto* password_label = Named(new QLabel(QStringLiteral("&Password:"), authentication), "Label6");
  password_label->setBuddy(password1_);
  auth_grid->addWidget(user_label, 0, 0);
  auth_grid->addWidget(login1_, 0, 1);
  auth_grid->addWidget(password_label, 1, 0);
  auth_grid->addWidget(password1_, 1, 1);
  return authentication;
}

// The connection string, typed or built.
QWidget* TOptFrm::BuildDatabaseBox(QWidget* page) {
  auto* database = Named(new QGroupBox(QStringLiteral("Database"), page), "GroupBox2");
  database_ = database;
  auto* hint = Named(new QLabel(QStringLiteral("You may build a connection string or select "
                                               "from a predefined ODBC connection."),
                                database),
                     "Label7");
  hint->setWordWrap(true);
  build1_ = Named(new QPushButton(QStringLiteral("&Build..."), database), "Build1");
  build1_->setAutoDefault(false);
  sql_conn_string_ = Named(new ConnectionStringEdit(database), "SQLConnString");
  auto* string_label = Named(new QLabel(QStringLiteral("Connection &String:"), database), "Label8");
  string_label->setBuddy(sql_conn_string_);
  display_check1_ =
      Named(new QCheckBox(QStringLiteral("Display Records"), database), "DisplayCheck1");
  display_check1_->hide();
  auto* hint_row = new QHBoxLayout;
  hint_row->addWidget(hint, 1);
  hint_row->addWidget(build1_, 0, Qt::AlignTop);
  auto* database_layout = new QVBoxLayout(database);
  database_layout->addLayout(hint_row);
  database_layout->addWidget(string_label);
  database_layout->addWidget(sql_conn_string_);
  return database;
}

void TOptFrm::SourceChanged() {
  const bool files = cdr_files_radio_->isChecked();
  authentication_->setEnabled(!files);
  database_->setEnabled(!files);
  cdr_folder_box_->setEnabled(files);
  retrieval_page_->SetFilesSource(files);
  if (isVisible()) LoadFieldSelection();
}

void TOptFrm::ProposeEachRecordOnce() {
  if (!cdr_files_radio_->isChecked() || retrieval_page_->CollectsEachRecordOnce()) return;
  if (MessageBox::Question(this, QStringLiteral("For CDR files, All Records with Delete Selected "
                                                "Records takes every file once, whenever it "
                                                "comes. Set the Retrieval page so?")) ==
      QMessageBox::Yes) {
    retrieval_page_->CollectEachRecordOnce();
  }
}

QWidget* TOptFrm::BuildAdvancedPage() {
  auto* page = Named(new QWidget(page_control1_), "AdvancedTabSheet");
  advanced_panel_ = Named(new QFrame(page), "AdvancedPanel");
  auto* caption = Named(new QLabel(QStringLiteral("A valid database connection must exist before "
                                                  "fields can be selected."),
                                   advanced_panel_),
                        "AdvancedPanelCaption1");
  caption->setWordWrap(true);
  caption->setAlignment(Qt::AlignCenter);
  advanced_error_label1_ = Named(new QLabel(advanced_panel_), "AdvancedErrorLabel1");
  advanced_error_label1_->setWordWrap(true);
  advanced_error_label1_->setAlignment(Qt::AlignCenter);
  advanced_error_label1_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  advanced_page_control1_ = Named(new QTabWidget(advanced_panel_), "AdvancedPageControl1");
  fields_page_ =
      Named(new TFieldsPage(env_.program_home, advanced_page_control1_), "AdvFieldsTabSheet");
  time_zone_page_ = Named(new TTimeZonePage(env_, advanced_page_control1_), "AdvTimeZoneTabSheet");
  advanced_page_control1_->addTab(fields_page_, QStringLiteral("CDR &Fields"));
  advanced_page_control1_->addTab(time_zone_page_, QStringLiteral("&Time Zone"));
  auto* panel_layout = new QVBoxLayout(advanced_panel_);
  panel_layout->setContentsMargins(0, 0, 0, 0);
  panel_layout->addStretch(1);
  panel_layout->addWidget(caption);
  panel_layout->addWidget(advanced_error_label1_);
  panel_layout->addStretch(1);
  panel_layout->addWidget(advanced_page_control1_, 100);
  // While the page control is shown the caption is under it, as on the designed panel.
  caption->setVisible(false);
  advanced_error_label1_->setVisible(false);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(advanced_panel_);
  return page;
}

QWidget* TOptFrm::BuildDeleteRecsPage() {
  auto* page = Named(new QWidget(page_control1_), "DeleteRecsTabSheet1");
  auto* group = Named(new QGroupBox(QStringLiteral("Delete Records"), page), "GroupBox5");
  auto* note = Named(new QLabel(QStringLiteral("To remove all records from the Cisco Call Manager "
                                               "server  make sure you have established a valid "
                                               "connection."),
                                group),
                     "Label23");
  note->setWordWrap(true);
  memo2_ = Named(new QPlainTextEdit(group), "Memo2");
  memo2_->setReadOnly(true);
  delete_recs_btn_ =
      Named(new QPushButton(QStringLiteral("&Delete All Records "), group), "DeleteRecsBtn");
  delete_recs_btn_->setAutoDefault(false);
  auto* layout = new QVBoxLayout(group);
  layout->addWidget(note);
  layout->addWidget(memo2_, 1);
  layout->addWidget(delete_recs_btn_, 0, Qt::AlignRight);
  auto* page_layout = new QVBoxLayout(page);
  page_layout->addWidget(group);
  return page;
}

QWidget* TOptFrm::BuildNoticePage() {
  auto* page = Named(new QWidget(page_control1_), "NoticeTabSheet1");
  notice_memo1_ = Named(new QPlainTextEdit(page), "NoticeMemo1");
  notice_memo1_->setReadOnly(true);
  const std::filesystem::path samples = SampleScriptsFolder();
  notice_memo1_->setPlainText(
      QStringLiteral(
          "OK stores the settings of these pages in the profile file NAME.CCM in %1 and the "
          "selected CDR fields, which all profiles share, in %2 beside it, when they were "
          "changed here. Cancel leaves both files as they were; only Update on the Retrieval "
          "page and the phone book entries made with New or Edit Dial Properties are stored at "
          "once.\n\n"
          "The statements of \"By SQL Query\" can be loaded from a sample SQL script (.ssq) "
          "with the Browse button beside them%3.\n\n"
          "To empty the whole CDR table on the server without collecting its records, use the "
          "small \"<\" button at the bottom right of the profile box in the main window: it "
          "shows the command Delete All Records, which asks before it deletes anything.")
          .arg(Q(env_.program_home.string()), QLatin1String(kFieldListFile),
               samples.empty() ? QString()
                               : QStringLiteral("; the samples that come with the program are "
                                                "in ") +
                                     Q(samples.string())));
  about1_ = Named(new QPushButton(QStringLiteral("A&bout"), page), "About1");
  about1_->setAutoDefault(false);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(notice_memo1_, 1);
  layout->addWidget(about1_, 0, Qt::AlignRight);
  return page;
}

void TOptFrm::ConnectHandlers() {
  connect(ok_btn_, &QPushButton::clicked, this, &TOptFrm::OkBtnClick);
  connect(button2_, &QPushButton::clicked, this, &QDialog::reject);
  connect(page_control1_, &QTabWidget::currentChanged, this, &TOptFrm::PageControl1Change);
  connect(qApp, &QApplication::focusChanged, this, &TOptFrm::FocusChanged);
  connect(build1_, &QPushButton::clicked, this, &TOptFrm::Build1Click);
  connect(about1_, &QPushButton::clicked, this, &TOptFrm::About1Click);
  connect(delete_recs_btn_, &QPushButton::clicked, this, &TOptFrm::DeleteRecsBtnClick);
  connect(&controller_, &RunController::DeleteAllLine, memo2_, &QPlainTextEdit::appendPlainText);
  // SQLConnStringChange: every change of the string reads the columns again.
  connect(sql_conn_string_, &QLineEdit::textChanged, this, [this] {
    if (isVisible()) LoadFieldSelection();
  });
  connect(cdr_files_radio_, &QRadioButton::toggled, this, &TOptFrm::SourceChanged);
  // Only the user's choice, not the loading of a files profile, brings the proposal.
  connect(cdr_files_radio_, &QRadioButton::clicked, this, &TOptFrm::ProposeEachRecordOnce);
  connect(cdr_folder_box_, &TCdrFolderBox::FolderChanged, this, [this] {
    if (isVisible()) LoadFieldSelection();
  });
  connect(fields_page_, &TFieldsPage::ReadingFinished, this, &TOptFrm::ShowFieldsReadingResult);
  connect(fields_page_, &TFieldsPage::ShowRequested, this,
          [this] { ShowAdvancedPage(fields_page_); });
}

// ---- The settings --------------------------------------------------------------------------

void TOptFrm::Load(const ProfileSettings& settings) {
  profile_name1_->setText(Q(settings.profile_name));
  connect_page_->Load(settings);
  login1_->setText(Q(settings.login));
  password1_->setText(Q(settings.password));
  display_check1_->setChecked(settings.sql_display_records);
  // The zone first: the retrieval page shows its times in it.
  time_zone_page_->Load(settings);
  retrieval_page_->Load(settings);
  sql_conn_string_->setText(Q(settings.sql_connection_string));
  cdr_folder_box_->SetFolder(Q(settings.cdr_file_folder));
  const bool files = !Trim(settings.cdr_file_folder).empty();
  (files ? cdr_files_radio_ : database_radio_)->setChecked(true);
  SourceChanged();
}

ProfileSettings TOptFrm::Collect() const {
  ProfileSettings settings = settings_;
  settings.profile_name = S(profile_name1_->text());
  connect_page_->Collect(settings);
  settings.login = S(login1_->text());
  settings.password = S(password1_->text());
  settings.sql_display_records = display_check1_->isChecked();
  time_zone_page_->Collect(settings);
  retrieval_page_->Collect(settings);
  settings.sql_connection_string = S(sql_conn_string_->text());
  settings.cdr_file_folder = cdr_files_radio_->isChecked() ? S(cdr_folder_box_->Folder()) : "";
  // The file the profile is saved to, and so the CDR database beside it: that of the name
  // typed, in the program home; none while the name is no usable one.
  const std::string name = CleanProfileName(settings.profile_name);
  settings.profile_path =
      ProfileNameProblem(name).isEmpty() ? ProfilePathFor(name, env_.program_home) : "";
  return settings;
}

bool TOptFrm::Edit(ProfileSettings& settings) {
  settings_ = settings;
  // The string's user, password and server stand for the profile's.
  TakeLoginFromConnectionString(settings_);
  Load(settings_);
  connect_page_->RefreshEntryListClick();
  if (const QScreen* on = parentWidget() != nullptr ? parentWidget()->screen() : screen()) {
    FitInto(on->availableGeometry());
  }
  if (exec() != QDialog::Accepted) return false;
  settings = settings_;
  return true;
}

// ---- The Advanced page ---------------------------------------------------------------------

void TOptFrm::LoadFieldSelection() {
  // Where the sub-pages are hidden after a failed query, the notice says that it reads again.
  if (advanced_page_control1_->isHidden()) {
    advanced_error_label1_->setText(QStringLiteral("Reading the columns of %1 from the database...")
                                        .arg(Q(settings_.sql_table_name)));
    advanced_error_label1_->show();
  }
  if (cdr_files_radio_->isChecked()) {
    fields_page_->LoadCdrFileFields(Collect(), static_cast<double>(CurrentMoment(env_)));
    return;
  }
  ProfileSettings source = settings_;
  source.sql_connection_string = S(sql_conn_string_->text());
  TakeDatabaseFromConnectionString(source);
  fields_page_->LoadFieldSelection({source.sql_connection_string, source.sql_database_name,
                                    source.sql_table_name, S(login1_->text()),
                                    S(password1_->text())});
}

bool TOptFrm::ReadingColumns() const { return fields_page_->Reading(); }

void TOptFrm::ShowFieldsReadingResult(bool ok, const QString& message) {
  advanced_page_control1_->setVisible(ok);
  for (QWidget* caption : advanced_panel_->findChildren<QLabel*>(
           QStringLiteral("AdvancedPanelCaption1"), Qt::FindDirectChildrenOnly)) {
    caption->setVisible(!ok);
  }
  advanced_error_label1_->setText(message);
  advanced_error_label1_->setVisible(!ok && !message.isEmpty());
}

void TOptFrm::ShowAdvancedPage(QWidget* sub_page) {
  reverting_page_ = true;
  page_control1_->setCurrentWidget(advanced_tab_sheet_);
  previous_page_ = page_control1_->currentIndex();
  reverting_page_ = false;
  if (advanced_page_control1_->isVisibleTo(advanced_panel_)) {
    advanced_page_control1_->setCurrentWidget(sub_page);
  }
}

// ---- Showing, pages and focus --------------------------------------------------------------

void TOptFrm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // FormShow: the columns read again, no start value changed yet.
  LoadFieldSelection();
  retrieval_page_->ClearStartValuesChanged();
  previous_page_ = page_control1_->currentIndex();
}

void TOptFrm::keyPressEvent(QKeyEvent* event) {
  if (EnterBelongsToControl(this, event)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TOptFrm::done(int result) {
  fields_page_->CancelReading();
  cdr_folder_box_->CancelTest();
  QDialog::done(result);
}

void TOptFrm::PageControl1Change(int index) {
  if (reverting_page_) return;
  // Leaving the Advanced page only when the field selection passes its checks.
  if (page_control1_->widget(previous_page_) == advanced_tab_sheet_ && index != previous_page_ &&
      !fields_page_->CheckFieldSelection(TFieldsPage::Caller::kPageControl)) {
    ShowAdvancedPage(fields_page_);
    return;
  }
  previous_page_ = index;
}

void TOptFrm::FocusChanged(QWidget* old, QWidget* now) {
  if (!isVisible() || now == nullptr || now->window() != this) return;
  if (Within(now, page_control1_) && !Within(old, page_control1_)) {
    // PageControl1Enter.
    memo2_->clear();
    if (connect_page_->ServerName()->text().isEmpty()) {
      connect_page_->ServerName()->setText(profile_name1_->text());
    }
  }
  if (Within(now, general_tab_sheet1_) && !Within(old, general_tab_sheet1_) &&
      profile_name1_->text().isEmpty()) {
    profile_name1_->setText(connect_page_->ServerName()->text());
  }
  if (Within(now, retrieval_tab_sheet1_) != Within(old, retrieval_tab_sheet1_)) memo2_->clear();
}

// ---- OK ------------------------------------------------------------------------------------

QString TOptFrm::ProfileNameProblem(const std::string& name) const {
  if (TrimView(name).empty()) return QStringLiteral("Please enter a profile name.");
  // A separator would put the profile's file, and its CDR database, outside the home.
  if (const std::size_t at = name.find_first_of(kFolderSeparators); at != std::string::npos) {
    return QStringLiteral(
               "A profile name cannot contain \"%1\": it is the name of the "
               "profile's file in %2.")
        .arg(QChar::fromLatin1(name[at]), Q(env_.program_home.string()));
  }
  if (std::any_of(name.begin(), name.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
    return QStringLiteral("A profile name cannot contain control characters.");
  }
  return QString();
}

bool TOptFrm::CheckProfileName(std::string& name) {
  // The combo of the main window keeps names so: without dots and blanks.
  name = CleanProfileName(S(profile_name1_->text()));
  const QString problem = ProfileNameProblem(name);
  if (problem.isEmpty()) return true;
  page_control1_->setCurrentWidget(general_tab_sheet1_);
  MessageBox::Information(this, problem);
  profile_name1_->setFocus();
  return false;
}

void TOptFrm::OkBtnClick() {
  if (time_zone_page_->ZoneMissing()) {
    ShowAdvancedPage(time_zone_page_);
    MessageBox::Information(this, QStringLiteral("Please select a time zone."));
    time_zone_page_->ZoneCombo()->setFocus();
    return;
  }
  std::string name;
  if (!CheckProfileName(name)) return;
  if (!fields_page_->CheckFieldSelection(TFieldsPage::Caller::kOkButton)) return;
  if (retrieval_page_->StartValuesChanged() &&
      MessageBox::Question(this, QStringLiteral("The data collection retrieve records starting "
                                                "at values have been changed. These changes "
                                                "will be lost unless the Update button is "
                                                "pressed. Proceed?")) != QMessageBox::Yes) {
    page_control1_->setCurrentWidget(retrieval_tab_sheet1_);
    retrieval_page_->EditButton()->setFocus();
    return;
  }
  ProfileSettings settings = Collect();
  settings.profile_name = name;
  TakeDatabaseFromConnectionString(settings);
  try {
    SaveProfile(settings, env_);
    connect_page_->StoreDialParams();
    if (retrieval_page_->StartUnwritten()) {
      WriteProfileValue(settings.profile_path, kProfileSection, kStartKey,
                        FormatWhole(settings.sql_new_rec_date));
    }
    fields_page_->SaveFieldSelection();
  } catch (const std::exception& e) {
    // Nothing typed is lost: the dialog stays open.
    MessageBox::Critical(this, QString::fromLocal8Bit(e.what()));
    return;
  }
  retrieval_page_->CloseStartEdit();
  settings_ = settings;
  accept();
}

// ---- The buttons ---------------------------------------------------------------------------

void TOptFrm::Build1Click() {
  TConnBuildFrm builder({S(sql_conn_string_->text()), S(login1_->text()), S(password1_->text()),
                         settings_.sql_table_name},
                        InstalledOdbcDrivers(), OdbcDataSources(), this);
  if (builder.exec() != QDialog::Accepted) return;
  const ConnectionParts parts = builder.Parts();
  // The user and password the string was built with are those a run connects with.
  if (parts.use_data_source || KindOfDriver(parts.driver) != DriverKind::kSqlite) {
    login1_->setText(Q(parts.user));
    password1_->setText(Q(parts.password));
  }
  sql_conn_string_->setText(Q(builder.ConnectionString()));
}

void TOptFrm::About1Click() {
  TAboutBox box(this);
  box.exec();
}

void TOptFrm::DeleteRecsBtnClick() {
  if (controller_.Busy()) return;
  memo2_->clear();
  ProfileSettings settings = Collect();
  // A files profile's table is its own database's, and a profile without a name has none.
  if (UsesCdrFiles(settings) && settings.profile_path.empty()) return;
  TakeDatabaseFromConnectionString(settings);
  controller_.StartDeleteAll(settings, true);
}

}  // namespace remoteccm::gui
