// TOptFrm: the modal, tabbed "Properties" dialog in which every setting of a profile is made.
// It edits a copy of the profile's settings and, on OK and only after its checks pass, saves the
// profile (one save of every key) and the field selection; Cancel leaves both files as they
// were. Created once with the main window; the current page survives between showings.
#pragma once

#include <QDialog>
#include <filesystem>
#include <string>

#include "profile/profile_file.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace remoteccm {
class Dialer;
}

namespace remoteccm::gui {

class RunController;
class TCdrFolderBox;
class TConnectPage;
class TFieldsPage;
class TRetrievalPage;
class TTimeZonePage;

// Where the sample SQL scripts are installed beside the program (empty when they are not).
std::filesystem::path SampleScriptsFolder();

class TOptFrm : public QDialog {
  Q_OBJECT

 public:
  // env, dialer and controller must outlive the dialog.
  TOptFrm(const ProfileEnvironment& env, Dialer& dialer, RunController& controller,
          QWidget* parent = nullptr);
  ~TOptFrm() override;

  // PropertiesBtn1Click's edit of the profile just loaded into settings: the dialog is filled
  // from it, shown modally and, when it ends with OK, settings is what was saved (its
  // profile_path the file written). Returns whether it ended with OK.
  bool Edit(ProfileSettings& settings);

  // The column query of the field page is still running.
  bool ReadingColumns() const;

  // The dialog's size on a screen whose area for windows is `available`: every page whole
  // where that fits, else the pages scroll. Edit fits the dialog to its window's screen.
  void FitInto(const QRect& available);

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;
  // Enter in a list, grid, text area, spin box, date field or drop-down list acts on that
  // control only: it never presses OK for it.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildControls();
  QWidget* BuildGeneralPage();
  QWidget* BuildLoginPage();
  QWidget* BuildAuthenticationBox(QWidget* page);
  QWidget* BuildDatabaseBox(QWidget* page);
  QWidget* BuildAdvancedPage();
  QWidget* BuildDeleteRecsPage();
  QWidget* BuildNoticePage();
  void ConnectHandlers();

  void Load(const ProfileSettings& settings);
  ProfileSettings Collect() const;
  void LoadFieldSelection();
  void ShowFieldsReadingResult(bool ok, const QString& message);
  void ShowAdvancedPage(QWidget* sub_page);
  // Why the name (dots and blanks dropped) cannot name a profile file; empty when it can.
  QString ProfileNameProblem(const std::string& name) const;
  bool CheckProfileName(std::string& name);

  void OkBtnClick();
  void PageControl1Change(int index);
  void FocusChanged(QWidget* old, QWidget* now);
  void Build1Click();
  // The Login page's choice between the CDR database and a folder of CDR files.
  void SourceChanged();
  // Choosing CDR files offers All Records with deletion, which takes every file once.
  void ProposeEachRecordOnce();
  void About1Click();
  void DeleteRecsBtnClick();

  const ProfileEnvironment& env_;
  Dialer& dialer_;
  RunController& controller_;
  ProfileSettings settings_;  // the copy being edited
  int previous_page_ = 0;
  bool reverting_page_ = false;

  QTabWidget* page_control1_;
  QWidget* general_tab_sheet1_;
  QWidget* connect_tab_sheet1_;
  QWidget* login_tab_sheet1_;
  QWidget* retrieval_tab_sheet1_;
  QWidget* advanced_tab_sheet_;
  QWidget* delete_recs_tab_sheet1_;
  QWidget* notice_tab_sheet1_;
  QLineEdit* profile_name1_;
  TConnectPage* connect_page_;
  QLineEdit* login1_;
  QLineEdit* password1_;
  QPushButton* build1_;
  QLineEdit* sql_conn_string_;
  QCheckBox* display_check1_;
  QGroupBox* authentication_;
  QGroupBox* database_;
  QRadioButton* database_radio_;
  QRadioButton* cdr_files_radio_;
  TCdrFolderBox* cdr_folder_box_;
  TRetrievalPage* retrieval_page_;
  QFrame* advanced_panel_;
  QLabel* advanced_error_label1_;
  QTabWidget* advanced_page_control1_;
  TFieldsPage* fields_page_;
  TTimeZonePage* time_zone_page_;
  QPlainTextEdit* memo2_;
  QPushButton* delete_recs_btn_;
  QPlainTextEdit* notice_memo1_;
  QPushButton* about1_;
  QPushButton* ok_btn_;
  QPushButton* button2_;
};

}  // namespace remoteccm::gui
