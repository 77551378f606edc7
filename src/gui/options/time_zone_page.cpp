#include "gui/options/time_zone_page.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/app/widget_text.h"
#include "gui/options/local_time.h"
#include "gui/options/wrapped_caption.h"

namespace remoteccm::gui {
namespace {

constexpr int kNowRefreshMs = 20'000;

}  // namespace

TTimeZonePage::TTimeZonePage(const ProfileEnvironment& env, QWidget* parent)
    : QWidget(parent),
      env_(env),
      tz_group_box1_(
          Named(new QGroupBox(QStringLiteral("Set Time Zone Information"), this), "TZGroupBox1")),
      tz_computer_radio_button1_(Named(
          new QRadioButton(QStringLiteral("The Cisco Call Manager is located in the same time "
                                          "zone as this computer."),
                           tz_group_box1_),
          "TZComputerRadioButton1")),
      tz_selected_radio_button1_(
          Named(new QRadioButton(QStringLiteral("The Cisco Call Manager is located in the time "
                                                "zone specified below."),
                                 tz_group_box1_),
                "TZSelectedRadioButton1")),
      tz_manual_radio_button1_(
          Named(new QRadioButton(QStringLiteral("Manually adjust the date/time fields by the Time "
                                                "Zone Offset specified below"),
                                 tz_group_box1_),
                "TZManualRadioButton1")),
      tz_label1_(Named(new QLabel(QStringLiteral("Time &Zone"), tz_group_box1_), "TZLabel1")),
      tz_combo_box1_(Named(new QComboBox(tz_group_box1_), "TZComboBox1")),
      tz_off_set_label1_(Named(new QLabel(QStringLiteral("Time Zone Offs&et:"), tz_group_box1_),
                               "TZOffSetLabel1")),
      tz_off_set1_(Named(new QSpinBox(tz_group_box1_), "TZOffSet1")),
      tz_now_label1_(Named(new QLabel(tz_group_box1_), "TZNowLabel1")),
      now_timer_(new QTimer(this)) {
  auto* label16 = Named(
      new QLabel(QStringLiteral(
                     "All Date/Time fields in the Cisco Call Manager CDR database values are "
                     "stored in Coordinated Universal Time (UTC) format or Greenwich Mean Time.  "
                     "This time must be adjusted by the actual time zone where the Cisco Call "
                     "Manager is located. Use the options below to identify the appropriate "
                     "time zone adjustment value."),
                 tz_group_box1_),
      "Label16");
  label16->setWordWrap(true);
  SetUpControls();
  LayOut(label16);
  ConnectControls();
}

// The choice of the three ways, the zones to choose from, the offset's range.
void TTimeZonePage::SetUpControls() {
  auto* group = new QButtonGroup(this);
  group->addButton(tz_computer_radio_button1_);
  group->addButton(tz_selected_radio_button1_);
  group->addButton(tz_manual_radio_button1_);
  tz_computer_radio_button1_->setChecked(true);
  if (env_.zones != nullptr) {
    for (const TimeZoneEntry& zone : *env_.zones) {
      tz_combo_box1_->addItem(QString::fromStdString(zone.display_name));
    }
  }
  tz_combo_box1_->setCurrentIndex(-1);
  tz_combo_box1_->setMaxVisibleItems(20);
  tz_combo_box1_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  tz_combo_box1_->setMinimumContentsLength(28);
  tz_label1_->setBuddy(tz_combo_box1_);
  tz_off_set1_->setRange(-23, 25);
  tz_off_set1_->setSuffix(QStringLiteral(" h"));
  tz_off_set_label1_->setBuddy(tz_off_set1_);
  tz_now_label1_->setTextInteractionFlags(Qt::TextSelectableByMouse);
}

void TTimeZonePage::LayOut(QLabel* label16) {
  auto* grid = new QGridLayout;
  grid->setColumnMinimumWidth(0, 18);
  grid->addWidget(tz_label1_, 0, 1);
  grid->addWidget(tz_combo_box1_, 0, 2);
  grid->setColumnStretch(2, 1);
  auto* offset_row = new QHBoxLayout;
  offset_row->addWidget(tz_off_set_label1_);
  offset_row->addWidget(tz_off_set1_);
  offset_row->addStretch(1);

  auto* layout = new QVBoxLayout(tz_group_box1_);
  layout->addWidget(label16);
  layout->addSpacing(4);
  // The long captions wrap rather than widen the dialog.
  const auto radio_row = [](QRadioButton* radio, const char* name) {
    return WithWrappingCaption(radio, radio->text(), name);
  };
  layout->addLayout(radio_row(tz_computer_radio_button1_, "TZComputerLabel1"));
  layout->addLayout(radio_row(tz_selected_radio_button1_, "TZSelectedLabel1"));
  layout->addLayout(grid);
  layout->addLayout(radio_row(tz_manual_radio_button1_, "TZManualLabel1"));
  auto* indented = new QHBoxLayout;
  indented->addSpacing(18);
  indented->addLayout(offset_row, 1);
  layout->addLayout(indented);
  layout->addSpacing(6);
  layout->addWidget(tz_now_label1_);
  layout->addStretch(1);
  auto* page = new QVBoxLayout(this);
  page->setContentsMargins(4, 4, 4, 4);
  page->addWidget(tz_group_box1_);
}

void TTimeZonePage::ConnectControls() {
  for (QRadioButton* radio :
       {tz_computer_radio_button1_, tz_selected_radio_button1_, tz_manual_radio_button1_}) {
    connect(radio, &QRadioButton::toggled, this, [this](bool on) {
      if (on) TZComputerRadioButton1Click();
    });
  }
  connect(tz_combo_box1_, &QComboBox::currentIndexChanged, this, [this] {
    ShowTimeThere();
    Q_EMIT ZoneChanged();
  });
  connect(tz_off_set1_, &QSpinBox::valueChanged, this, [this] {
    ShowTimeThere();
    Q_EMIT ZoneChanged();
  });
  connect(now_timer_, &QTimer::timeout, this, &TTimeZonePage::ShowTimeThere);
  now_timer_->setInterval(kNowRefreshMs);
  TZComputerRadioButton1Click();
}

void TTimeZonePage::TZComputerRadioButton1Click() {
  const bool selected = tz_selected_radio_button1_->isChecked();
  const bool manual = tz_manual_radio_button1_->isChecked();
  tz_label1_->setEnabled(selected);
  tz_combo_box1_->setEnabled(selected);
  tz_off_set_label1_->setEnabled(manual);
  tz_off_set1_->setEnabled(manual);
  ShowTimeThere();
  Q_EMIT ZoneChanged();
}

void TTimeZonePage::Load(const ProfileSettings& settings) {
  switch (settings.time_zone_option) {
    case TimeZoneOption::kSelected:
      tz_selected_radio_button1_->setChecked(true);
      break;
    case TimeZoneOption::kManual:
      tz_manual_radio_button1_->setChecked(true);
      break;
    case TimeZoneOption::kComputer:
      tz_computer_radio_button1_->setChecked(true);
      break;
  }
  tz_combo_box1_->setCurrentIndex(
      tz_combo_box1_->findText(QString::fromStdString(settings.time_zone_name)));
  tz_off_set1_->setValue(settings.time_zone_offset);
  TZComputerRadioButton1Click();
}

void TTimeZonePage::Collect(ProfileSettings& settings) const {
  settings.time_zone_option = tz_selected_radio_button1_->isChecked() ? TimeZoneOption::kSelected
                              : tz_manual_radio_button1_->isChecked() ? TimeZoneOption::kManual
                                                                      : TimeZoneOption::kComputer;
  const int index = tz_combo_box1_->currentIndex();
  settings.time_zone_name.clear();
  settings.time_zone_rule.reset();
  if (index >= 0 && env_.zones != nullptr && static_cast<std::size_t>(index) < env_.zones->size()) {
    const TimeZoneEntry& zone = (*env_.zones)[static_cast<std::size_t>(index)];
    settings.time_zone_name = zone.display_name;
    settings.time_zone_rule = zone.rule;
  }
  settings.time_zone_offset = tz_off_set1_->value();
}

TimeZoneSettings TTimeZonePage::Zone() const {
  ProfileSettings settings;
  Collect(settings);
  return ProfileTimeZone(settings, env_.computer_rule);
}

bool TTimeZonePage::ZoneMissing() const {
  return tz_selected_radio_button1_->isChecked() && tz_combo_box1_->currentIndex() < 0;
}

void TTimeZonePage::ShowTimeThere() {
  if (ZoneMissing()) {
    tz_now_label1_->setText(QStringLiteral("Choose the time zone to see the time there."));
    return;
  }
  const double now = static_cast<double>(CurrentMoment(env_));
  const QDateTime there = LocalValueToDateTime(CdrSecondsToLocal(Zone(), now));
  tz_now_label1_->setText(QStringLiteral("The time there now: ") +
                          there.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
}

void TTimeZonePage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  ShowTimeThere();
  now_timer_->start();
}

void TTimeZonePage::hideEvent(QHideEvent* event) {
  now_timer_->stop();
  QWidget::hideEvent(event);
}

}  // namespace remoteccm::gui
