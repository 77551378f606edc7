#include "gui/app/properties_notice.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/about/about_box.h"

namespace remoteccm::gui {

PropertiesNotice::PropertiesNotice(const QString& profile_path, bool exists, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("TOptFrm"));
  setWindowTitle(QStringLiteral("Properties"));
  auto* text = new QLabel(this);
  text->setObjectName(QStringLiteral("PlaceholderText"));
  text->setWordWrap(true);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  const QString file =
      profile_path.isEmpty()
          ? QStringLiteral(
                "A new profile is named and set up there. Until then, type its name "
                "into the Profile name box and leave one of the User Name, Password "
                "and IP Addr/Name boxes: that creates its file.")
      : exists ? QStringLiteral("Its settings are in the file\n%1.").arg(profile_path)
               : QStringLiteral(
                     "Its file %1 does not exist yet: leaving one of "
                     "the User Name, Password and IP Addr/Name boxes "
                     "creates it.")
                     .arg(profile_path);
  text->setText(
      QStringLiteral("The properties dialog is not part of this version of remoteccm; it comes "
                     "with a later one.\n\n") +
      file);
  auto* about = new QPushButton(QStringLiteral("&About..."), this);
  about->setObjectName(QStringLiteral("AboutBtn"));
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  close->setObjectName(QStringLiteral("CancelBtn"));
  close->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(about);
  buttons->addStretch(1);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addLayout(buttons);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  connect(about, &QPushButton::clicked, this, [this] {
    TAboutBox box(this);
    box.exec();
  });
  setMinimumWidth(420);
}

}  // namespace remoteccm::gui
