// The Retrieval page: the destination file, the retrieval mode with its panel (the start and
// window of "New Records Only" with the look-back for late records, the range of "By Date",
// the statements of "By SQL Query", loadable from a sample script), deletion and polling.
#pragma once

#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>

#include "profile/profile_settings.h"
#include "timezone/time_conversion.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QDateTimeEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTimeEdit;

namespace remoteccm::gui {

class TRetrievalPage : public QWidget {
  Q_OBJECT

 public:
  // zone gives the time-zone controls as they stand (the conversions follow them); samples is
  // where the sample scripts are installed (offered in the script dialog's side bar).
  TRetrievalPage(std::filesystem::path program_home, std::filesystem::path samples,
                 std::function<TimeZoneSettings()> zone, QWidget* parent = nullptr);

  void Load(const ProfileSettings& settings);
  void Collect(ProfileSettings& settings) const;

  // StartValuesChanged: a start picker was changed and not committed with Update.
  bool StartValuesChanged() const { return start_values_changed_; }
  void ClearStartValuesChanged() { start_values_changed_ = false; }
  // OK's end: the start pickers back to "Edit", uncommitted.
  void CloseStartEdit();
  QPushButton* EditButton() const { return edit_new_recs_btn_; }

  // Update was pressed while the profile had no file to write the start into.
  bool StartUnwritten() const { return start_unwritten_; }

  // The profile collects CDR files: the page says what All Records without deletion does then.
  void SetFilesSource(bool files);
  // All Records with Delete Selected Records, which takes every CDR file once whenever it comes.
  bool CollectsEachRecordOnce() const;
  void CollectEachRecordOnce();

 private:
  // The constructor's steps, in the order the controls are made.
  QGroupBox* BuildDestinationBox();
  QGroupBox* BuildCollectionBox();
  void LayOutCollection(QGroupBox* collection);
  void ConnectControls();
  void RetrieveListBox1Change();
  void ShowFilesNote();
  void EditNewRecsBtnClick();
  void ShowStartValues();
  void Button3Click();
  void Button4Click();
  QWidget* BuildNewRecPanel();
  QWidget* BuildDateQueryPanel();
  QWidget* BuildSqlPanel();

  std::filesystem::path program_home_;
  std::filesystem::path samples_;
  std::function<TimeZoneSettings()> zone_;
  std::string profile_path_;
  double sql_new_rec_date_ = 0;  // the main window's SQLNewRecDate, CDR seconds
  double from_time_of_day_ = 0;  // the date-only range pickers keep their times of day here
  double to_time_of_day_ = 0;
  bool start_values_changed_ = false;
  bool start_unwritten_ = false;
  bool files_source_ = false;

  QLineEdit* dest_file_name1_;
  QPushButton* button3_;
  QCheckBox* overwrite1_;
  QCheckBox* sql_backup1_;
  QComboBox* retrieve_list_box1_;
  QStackedWidget* panels_;
  QLabel* files_note_label_;
  QWidget* sql_new_rec_date_panel_;
  QDateEdit* new_rec_date_picker1_;
  QTimeEdit* new_rec_time_picker1_;
  QPushButton* edit_new_recs_btn_;
  QSpinBox* new_rec_spin_edit1_;
  QComboBox* new_rec_combo_box1_;
  QSpinBox* late_arrival_spin_edit1_;
  QWidget* sql_date_query_panel_;
  QDateEdit* sql_from_date_time_picker1_;
  QDateEdit* sql_to_date_time_picker1_;
  QSpinBox* sql_date_range_spin_edit1_;
  QComboBox* sql_date_range_combo_box1_;
  QWidget* sql_panel_;
  QPlainTextEdit* connect_sql1_;
  QPushButton* button7_;
  QPlainTextEdit* disconnect_sql1_;
  QCheckBox* sql_delete_recs_chk_box1_;
  QCheckBox* poll_again1_;
  QSpinBox* wait_before_polling_again1_;
  QLabel* poll_again_label2_;
};

}  // namespace remoteccm::gui
