#include "gui/options/connect_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/app/widget_text.h"
#include "util/text_routines.h"

namespace remoteccm::gui {
TConnectPage::TConnectPage(Dialer& dialer, QWidget* parent)
    : QWidget(parent),
      dialer_(dialer),
      server_name1_(Named(new QLineEdit(this), "ServerName1")),
      use_dialup_check_box1_(Named(new QCheckBox(QStringLiteral("&Use Dial Up Connection"), this),
                                   "UseDialupCheckBox1")),
      dial_parameters_grp1_(
          Named(new QGroupBox(QStringLiteral(" Dial Parameters "), this), "DialParametersGrp1")),
      entry_select_(Named(new QComboBox(dial_parameters_grp1_), "EntrySelect")),
      new_entry1_(
          Named(new QPushButton(QStringLiteral("&New"), dial_parameters_grp1_), "NewEntry1")),
      user_name_edit_(Named(new QLineEdit(dial_parameters_grp1_), "UserNameEdit")),
      password_edit_(Named(new QLineEdit(dial_parameters_grp1_), "PasswordEdit")),
      domain_edit_(Named(new QLineEdit(dial_parameters_grp1_), "DomainEdit")),
      dial_properties1_(
          Named(new QPushButton(QStringLiteral("&Edit Dial Properties"), dial_parameters_grp1_),
                "DialProperties1")),
      dial_note_label1_(Named(new QLabel(dial_parameters_grp1_), "DialNoteLabel1")),
      status_bar1_(Named(new QFrame(this), "StatusBar1")),
      status_panel_(Named(new QLabel(status_bar1_), "StatusPanel1")) {
  auto* server_label =
      Named(new QLabel(QStringLiteral("Enter &IP Address (or Name):"), this), "Label3");
  server_label->setBuddy(server_name1_);
  new_entry1_->setFlat(true);
  new_entry1_->setAutoDefault(false);
  dial_properties1_->setAutoDefault(false);
  password_edit_->setEchoMode(QLineEdit::Password);
  dial_note_label1_->setWordWrap(true);
  dial_note_label1_->hide();
  dial_parameters_grp1_->hide();
  // The status bar's one panel: a dial-up error text wraps in it rather than being cut.
  status_bar1_->setFrameShape(QFrame::StyledPanel);
  status_bar1_->setFrameShadow(QFrame::Sunken);
  status_panel_->setMinimumWidth(50);
  status_panel_->setWordWrap(true);
  status_panel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* status_layout = new QVBoxLayout(status_bar1_);
  status_layout->setContentsMargins(4, 2, 4, 2);
  status_layout->addWidget(status_panel_);

  auto* entry_row = new QHBoxLayout;
  entry_row->addWidget(entry_select_, 1);
  entry_row->addWidget(new_entry1_);
  auto* form = new QFormLayout;
  const auto row = [&](const char* caption, const char* name, QWidget* field) {
    auto* label = Named(new QLabel(QLatin1String(caption), dial_parameters_grp1_), name);
    label->setBuddy(field);
    return label;
  };
  form->addRow(row("&Phonebook entry", "Label17", entry_select_), entry_row);
  form->addRow(row("User na&me", "Label18", user_name_edit_), user_name_edit_);
  form->addRow(row("Pass&word", "Label19", password_edit_), password_edit_);
  form->addRow(row("&Domain", "Label20", domain_edit_), domain_edit_);
  auto* group = new QVBoxLayout(dial_parameters_grp1_);
  group->addLayout(form);
  auto* edit_row = new QHBoxLayout;
  edit_row->addStretch(1);
  edit_row->addWidget(dial_properties1_);
  group->addLayout(edit_row);
  group->addWidget(dial_note_label1_);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 0);
  layout->addWidget(server_label);
  layout->addWidget(server_name1_);
  layout->addSpacing(8);
  layout->addWidget(use_dialup_check_box1_);
  layout->addWidget(dial_parameters_grp1_);
  layout->addStretch(1);
  layout->addWidget(status_bar1_);

  connect(use_dialup_check_box1_, &QCheckBox::toggled, this,
          &TConnectPage::UseDialupCheckBox1Click);
  connect(entry_select_, &QComboBox::activated, this, &TConnectPage::EntrySelectChange);
  connect(new_entry1_, &QPushButton::clicked, this, &TConnectPage::NewEntry1Click);
  connect(dial_properties1_, &QPushButton::clicked, this, &TConnectPage::DialProperties1Click);
}

QString TConnectPage::StatusText() const { return status_panel_->text(); }

void TConnectPage::SetStatus(const QString& text) { status_panel_->setText(text); }

void TConnectPage::Load(const ProfileSettings& settings) {
  server_name1_->setText(Q(settings.server_name));
  dial_.user_name = settings.dial_user_name;
  dial_.password = settings.dial_password;
  dial_.domain = settings.dial_domain;
  ShowDialCredentials();
  selected_entry_name_ = settings.phonebook_entry;
  entry_select_->setCurrentIndex(entry_select_->findText(Q(settings.phonebook_entry)));
  // A change of the box shows or hides the group; an unchanged one is arranged here too.
  const QSignalBlocker block(use_dialup_check_box1_);
  use_dialup_check_box1_->setChecked(settings.use_dialup);
  dial_parameters_grp1_->setVisible(settings.use_dialup);
  if (!settings.use_dialup) SetStatus(QString());
}

void TConnectPage::Collect(ProfileSettings& settings) {
  settings.server_name = S(server_name1_->text());
  settings.use_dialup = use_dialup_check_box1_->isChecked();
  dial_.user_name = S(user_name_edit_->text());
  dial_.domain = S(domain_edit_->text());
  dial_.password = S(password_edit_->text());
  settings.dial_user_name = dial_.user_name;
  settings.dial_password = dial_.password;
  settings.dial_domain = dial_.domain;
  // The combo's text; with no entry listed, the name the profile had.
  const QString entry =
      entry_select_->currentIndex() >= 0 ? entry_select_->currentText() : Q(selected_entry_name_);
  selected_entry_name_ = Trim(S(entry));
  settings.phonebook_entry = selected_entry_name_;
}

void TConnectPage::StoreDialParams() {
  if (dial_.entry_name.empty()) return;
  DialParams params;
  dialer_.GetDialParams(dial_.entry_name, params);
  params.user_name = dial_.user_name;
  params.password = dial_.password;
  params.domain = dial_.domain;
  dialer_.SetDialParams(dial_.entry_name, params);
}

void TConnectPage::ShowDialCredentials() {
  user_name_edit_->setText(Q(dial_.user_name));
  domain_edit_->setText(Q(dial_.domain));
  password_edit_->setText(Q(dial_.password));
}

// Setting the entry name loads what the entry keeps for dialling.
void TConnectPage::SetEntryName(const std::string& name) {
  dial_.entry_name = name;
  DialParams params;
  if (dialer_.GetDialParams(name, params) == 0) {
    dial_.user_name = params.user_name;
    dial_.domain = params.domain;
    dial_.password = params.password;
  }
}

void TConnectPage::RefreshEntryListClick() {
  std::vector<std::string> names;
  const int result = dialer_.ListEntries(names);
  entry_select_->clear();
  for (const std::string& name : names) entry_select_->addItem(Q(name));
  // The reason the list is empty, in words: "not available on this system" says it all.
  dial_note_label1_->setVisible(result != 0);
  dial_note_label1_->setText(result != 0 ? Q(dialer_.ErrorText(result)) : QString());
  if (result != 0 || names.empty()) {
    SetStatus(QStringLiteral("Invalid or Blank Entry List"));
    return;
  }
  int index = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (SameText(names[i], selected_entry_name_)) {
      index = static_cast<int>(i);
      break;
    }
  }
  entry_select_->setCurrentIndex(index);
  SetEntryName(S(entry_select_->currentText()));
  SetStatus(Q(dial_.entry_name));
  ShowDialCredentials();
}

void TConnectPage::UseDialupCheckBox1Click() {
  const bool on = use_dialup_check_box1_->isChecked();
  dial_parameters_grp1_->setVisible(on);
  if (on) {
    RefreshEntryListClick();
  } else {
    SetStatus(QString());
  }
}

void TConnectPage::EntrySelectChange() {
  const std::string name = S(entry_select_->currentText());
  if (TrimView(name).empty()) {
    SetStatus(QString());
    return;
  }
  SetEntryName(name);
  ShowDialCredentials();
  SetStatus(Q(name));
}

void TConnectPage::NewEntry1Click() {
  const int result = dialer_.CreateEntry();
  if (result != 0) {
    SetStatus(Q(dialer_.ErrorText(result)));
    return;
  }
  RefreshEntryListClick();
}

void TConnectPage::DialProperties1Click() {
  dial_.user_name = S(user_name_edit_->text());
  dial_.password = S(password_edit_->text());
  dial_.domain = S(domain_edit_->text());
  const int result = dial_.entry_name.empty() ? static_cast<int>(Dialer::kNoEntry)
                                              : dialer_.EditEntry(dial_.entry_name);
  if (result != 0) {
    SetStatus(Q(dialer_.ErrorText(result)));
    return;
  }
  ShowDialCredentials();
}

}  // namespace remoteccm::gui
