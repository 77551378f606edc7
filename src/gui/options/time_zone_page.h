// The "Time Zone" sub-page of the Advanced page: where the CallManager's clock is (this
// computer's zone, a zone of the list, or a manual offset), and the time there now, so that a
// user can see the choice is right.
#pragma once

#include <QWidget>

#include "profile/profile_file.h"
#include "timezone/time_conversion.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QRadioButton;
class QSpinBox;
class QTimer;

namespace remoteccm::gui {

class TTimeZonePage : public QWidget {
  Q_OBJECT

 public:
  // env (its zone list, this computer's rule and clock) must outlive the page.
  explicit TTimeZonePage(const ProfileEnvironment& env, QWidget* parent = nullptr);

  void Load(const ProfileSettings& settings);
  // The option, the selected zone (name and rule) and the offset.
  void Collect(ProfileSettings& settings) const;
  // The conversions' view of the controls as they stand.
  TimeZoneSettings Zone() const;
  // The selected-zone option is checked and no zone is selected.
  bool ZoneMissing() const;
  QComboBox* ZoneCombo() const { return tz_combo_box1_; }

 Q_SIGNALS:
  void ZoneChanged();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // The constructor's steps, in the order the controls are made ready.
  void SetUpControls();
  void LayOut(QLabel* label16);
  void ConnectControls();
  void TZComputerRadioButton1Click();
  void ShowTimeThere();

  const ProfileEnvironment& env_;
  QGroupBox* tz_group_box1_;
  QRadioButton* tz_computer_radio_button1_;
  QRadioButton* tz_selected_radio_button1_;
  QRadioButton* tz_manual_radio_button1_;
  QLabel* tz_label1_;
  QComboBox* tz_combo_box1_;
  QLabel* tz_off_set_label1_;
  QSpinBox* tz_off_set1_;
  QLabel* tz_now_label1_;
  QTimer* now_timer_;
};

}  // namespace remoteccm::gui
