// The "CDR Fields" sub-page of the Advanced page: the columns the CDR table offers (read live
// from the profile's database, off the user-interface thread), the selected fields with their
// order and widths, the running record length and its limits, and CCM_FIELDS.INF, which every
// profile of the program home shares: a field this profile's source lacks is shown in grey and
// kept.
#pragma once

#include <QWidget>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "profile/profile_settings.h"
#include "retrieval/layout/field_selection.h"

class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace remoteccm::gui {

class DbWorker;
class FieldGrid;

class TFieldsPage : public QWidget {
  Q_OBJECT

 public:
  // Who asks for the check: moving between rows of the grid is never blocked by the total.
  enum class Caller { kOkButton, kPageControl, kGrid };

  // How to reach the table: what a run connects with.
  struct ColumnSource {
    std::string connection_string;
    std::string database_name;
    std::string table_name;
    std::string login;
    std::string password;
  };

  explicit TFieldsPage(std::filesystem::path program_home, QWidget* parent = nullptr);
  ~TFieldsPage() override;

  // LoadFieldSelection: reads the columns on a worker thread (a request still running is
  // cancelled); when they come, the grid is made from CCM_FIELDS.INF or the defaults.
  void LoadFieldSelection(const ColumnSource& source);
  // The fields of the newest complete CDR file of the profile's folder (or, when none waits,
  // the columns its embedded database has), read as LoadFieldSelection reads a table's.
  void LoadCdrFileFields(const ProfileSettings& settings, double now);
  void CancelReading();
  bool Reading() const;
  // The grid holds a selection made from the table's columns, so it may be checked and saved.
  bool Loaded() const { return loaded_; }

  // CheckFieldSelection: shows its message and fails, or passes (always while not Loaded).
  bool CheckFieldSelection(Caller caller);
  // SaveFieldSelection when Loaded and the rows differ from what the file held (a list left as
  // it was is not written again): throws FileError.
  void SaveFieldSelection();
  std::vector<SelectedField> Rows() const;

 Q_SIGNALS:
  // The column query ended: ok, or the driver's message why not.
  void ReadingFinished(bool ok, const QString& message);
  // A check failed: the page wants to be seen.
  void ShowRequested();

 private:
  // The constructor's steps, in the order the controls are made ready.
  void SetUpButtons(QLabel* label12);
  void SetUpGrid();
  void LayOut(QLabel* label12);
  void ConnectControls();
  void ColumnsRead(std::vector<AvailableField> available);
  void ColumnsFailed(const std::string& message);
  void ResetGrid();
  // offered: this profile's source has the field; one it lacks is shown in grey.
  void AppendRow(const QString& name, const QString& width, bool offered = true);
  void ShowTotal();
  bool MayLeaveRow(int row);
  void SetRowChecks(bool on);

  void SelectFldBtnClick();
  void RemoveFldBtnClick();
  void UpBitBtnClick();
  void DownBitBtnClick();
  void DefaultFldsBtnClick();
  void ClearFldsBtnClick(bool ask);

  std::filesystem::path program_home_;
  DbWorker* worker_;
  std::vector<AvailableField> available_fields_;
  std::optional<std::vector<SelectedField>> stored_;  // CCM_FIELDS.INF's rows as last read
  int selected_length_ = 0;
  bool loaded_ = false;

  QGroupBox* advanced_tab_group_box1_;
  QLabel* reading_label1_;
  QListWidget* cdr_fields_list_box1_;
  QPushButton* select_fld_btn_;
  QPushButton* remove_fld_btn_;
  QLabel* select_fld_label_;
  FieldGrid* ccm_fld_string_grid1_;
  QPushButton* default_flds_btn_;
  QPushButton* up_bit_btn_;
  QPushButton* down_bit_btn_;
  QPushButton* clear_flds_btn_;
  QLabel* shared_label_;
};

}  // namespace remoteccm::gui
