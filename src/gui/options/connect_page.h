// The Connect page: the server's address, and dial-up before connecting over the Dialer
// interface (the entry to dial, its user name, password and domain, new and edited entries in
// the system's own editor), with the entry or the dial-up error in the page's status bar.
#pragma once

#include <QWidget>
#include <string>

#include "platform/dialup/dialer.h"
#include "profile/profile_settings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QFrame;

namespace remoteccm::gui {

class TConnectPage : public QWidget {
  Q_OBJECT

 public:
  // dialer must outlive the page.
  explicit TConnectPage(Dialer& dialer, QWidget* parent = nullptr);

  // LoadProfile's part: the server, the dial-up switch, the entry and its credentials.
  void Load(const ProfileSettings& settings);
  // SaveProfile's part: the edits into the dialer and the settings, the entry name.
  void Collect(ProfileSettings& settings);
  // Stores the dialer's user name, password and domain as the entry's dial parameters (the
  // result is not looked at; nothing without an entry name).
  void StoreDialParams();
  // RefreshEntryListClick: the entries listed again, the profile's entry selected and its
  // stored credentials shown.
  void RefreshEntryListClick();

  QLineEdit* ServerName() const { return server_name1_; }
  QString StatusText() const;

 private:
  void UseDialupCheckBox1Click();
  void EntrySelectChange();
  void NewEntry1Click();
  void DialProperties1Click();
  void ShowDialCredentials();
  void SetEntryName(const std::string& name);
  void SetStatus(const QString& text);

  Dialer& dialer_;
  // The dialer's settable properties as the page keeps them (ApdRasDialer's).
  DialRequest dial_;
  std::string selected_entry_name_;  // SelectedEntryName

  QLineEdit* server_name1_;
  QCheckBox* use_dialup_check_box1_;
  QGroupBox* dial_parameters_grp1_;
  QComboBox* entry_select_;
  QPushButton* new_entry1_;
  QLineEdit* user_name_edit_;
  QLineEdit* password_edit_;
  QLineEdit* domain_edit_;
  QPushButton* dial_properties1_;
  QLabel* dial_note_label1_;
  QFrame* status_bar1_;
  QLabel* status_panel_;
};

}  // namespace remoteccm::gui
