// TConnBuildFrm: the connection-string builder behind the Login page's "Build..." button. It
// lists the ODBC drivers and data sources registered with unixODBC, asks for what the chosen
// driver needs, tests the connection off the user-interface thread (the test of
// remoteccm-cli --check), and returns the string in a form the database layer accepts.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "platform/db/connection_builder.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace remoteccm::gui {

class DbWorker;

class TConnBuildFrm : public QDialog {
  Q_OBJECT

 public:
  struct Start {
    std::string connection_string;  // the string the builder starts from
    std::string login;              // the profile's user and password, when the string has none
    std::string password;
    std::string table_name;  // what the test reads
  };
  // drivers and sources are what the driver manager lists (tests may give others).
  TConnBuildFrm(const Start& start, const std::vector<std::string>& drivers,
                const std::vector<OdbcDataSource>& sources, QWidget* parent = nullptr);
  ~TConnBuildFrm() override;

  // After OK: the string (unchanged when no part was changed), and the user and password it
  // names (the profile's login and password are set to them).
  std::string ConnectionString() const { return result_; }
  ConnectionParts Parts() const;
  bool Testing() const;

 protected:
  void done(int result) override;
  // Enter in the drop-downs and the test's text acts there: it never presses OK.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // The constructor's steps: the controls are made, laid out, filled from the start and
  // connected.
  void MakeControls(const std::vector<std::string>& drivers,
                    const std::vector<OdbcDataSource>& sources);
  void LayOut();
  void StartFrom(const std::vector<std::string>& drivers);
  void ConnectControls();
  void ShowParts(const ConnectionParts& parts);
  void ArrangeForDriver();
  // The string of the fields as they stand; false (and the reason) when "Other options" cannot
  // be read.
  bool Build(std::string& text, QString& error) const;
  void ShowPreview();
  void TestBtn1Click();
  void BrowseBtn1Click();
  void OkBtnClick();

  Start start_;
  ConnectionParts initial_parts_;
  std::string result_;
  DbWorker* worker_;

  QRadioButton* driver_radio_button1_;
  QRadioButton* data_source_radio_button1_;
  QComboBox* driver_combo_box1_;
  QComboBox* data_source_combo_box1_;
  std::vector<QWidget*> file_rows_;    // what SQLite asks for
  std::vector<QWidget*> server_rows_;  // what a server (and a data source) asks for
  QLineEdit* file_name_edit1_;
  QPushButton* browse_btn1_;
  QLineEdit* host_edit1_;
  QLineEdit* port_edit1_;
  QLineEdit* database_edit1_;
  QLineEdit* user_edit1_;
  QLineEdit* password_edit1_;
  QLineEdit* other_edit1_;
  QLabel* note_label1_;
  QLabel* conn_string_label1_;
  QPushButton* test_btn1_;
  QPlainTextEdit* test_memo1_;
  QPushButton* ok_btn1_;
  QPushButton* cancel_btn1_;
};

}  // namespace remoteccm::gui
