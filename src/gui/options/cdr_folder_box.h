// The part of the Login page for a CallManager 5 or later, which pushes CDR files instead of
// keeping a table: the folder they arrive in, and a test that tells how many complete files
// wait there and when the newest came, which files are still being written, or that every file
// that came is imported.
#pragma once

#include <QGroupBox>
#include <filesystem>
#include <functional>

#include "profile/profile_settings.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace remoteccm::gui {

class DbWorker;

class TCdrFolderBox : public QGroupBox {
  Q_OBJECT

 public:
  // settings gives the profile as the dialog would save it now (folder and settle time);
  // now gives the current moment (seconds since 1970); the folder chooser starts in
  // program_home while no folder is named.
  TCdrFolderBox(std::function<ProfileSettings()> settings, std::function<double()> now,
                std::filesystem::path program_home, QWidget* parent = nullptr);

  QString Folder() const;
  void SetFolder(const QString& folder);
  // A test still running is stopped and its answer forgotten.
  void CancelTest();

 Q_SIGNALS:
  void FolderChanged();

 private:
  void BrowseClick();
  void TestClick();

  std::function<ProfileSettings()> settings_;
  std::function<double()> now_;
  std::filesystem::path program_home_;
  QLineEdit* folder_edit_;
  QPushButton* browse_btn_;
  QPushButton* test_btn_;
  QLabel* result_label_;
  DbWorker* worker_;
};

}  // namespace remoteccm::gui
