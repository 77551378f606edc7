#include "gui/about/about_box.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/app/app_icon.h"
#include "gui/app/designed_size.h"
#include "gui/app/dialog_keys.h"
#include "platform/home/program_home.h"
#include "remoteccm_version.h"

namespace remoteccm::gui {

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent),
      icon_image_(new QLabel(this)),
      lb_description_(new QLabel(this)),
      lb_version_(new QLabel(this)),
      lb_copyright_(new QLabel(this)),
      lb_ver_items_(new QListWidget(this)),
      mem_ver_str_(new QPlainTextEdit(this)),
      ok_button_(new QPushButton(QStringLiteral("OK"), this)) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("About"));
  icon_image_->setObjectName(QStringLiteral("IconImage"));
  lb_description_->setObjectName(QStringLiteral("lbDescription"));
  lb_version_->setObjectName(QStringLiteral("lbVersion"));
  lb_copyright_->setObjectName(QStringLiteral("lbCopyright"));
  lb_ver_items_->setObjectName(QStringLiteral("lbVerItems"));
  mem_ver_str_->setObjectName(QStringLiteral("memVerStr"));
  ok_button_->setObjectName(QStringLiteral("OKButton"));

  icon_image_->setPixmap(AppIcon().pixmap(48, 48));
  icon_image_->setFixedSize(56, 56);
  icon_image_->setAlignment(Qt::AlignCenter);
  icon_image_->installEventFilter(this);
  QFont bold = lb_description_->font();
  bold.setBold(true);
  lb_description_->setFont(bold);
  lb_description_->setText(
      QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toUpper());
  lb_version_->setText(QStringLiteral(REMOTECCM_VERSION));
  lb_copyright_->setText(QStringLiteral("Copyright \u00a9 the remoteccm developers"));
  for (QLabel* label : {lb_description_, lb_version_, lb_copyright_}) {
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  mem_ver_str_->setReadOnly(true);
  ok_button_->setDefault(true);

  auto* heading = new QVBoxLayout;
  heading->addWidget(lb_description_);
  heading->addWidget(lb_version_);
  heading->addWidget(lb_copyright_);
  auto* top = new QHBoxLayout;
  top->addWidget(icon_image_, 0, Qt::AlignTop);
  top->addLayout(heading, 1);
  auto* facts = new QHBoxLayout;
  facts->addWidget(lb_ver_items_, 2);
  facts->addWidget(mem_ver_str_, 3);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_button_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(facts, 1);
  layout->addLayout(buttons);

  connect(ok_button_, &QPushButton::clicked, this, &QDialog::accept);
  connect(lb_ver_items_, &QListWidget::currentRowChanged, this, &TAboutBox::ShowFact);
  // A fixed size, grown with the font and never smaller than its contents.
  setFixedSize(
      DesignedClientSize(this, QSize(460, 340) + kWindowFrame).expandedTo(minimumSizeHint()));
}

void TAboutBox::Refresh() {
  const std::vector<int> v = VersionNumbers(QStringLiteral(REMOTECCM_VERSION));
  lb_version_->setText(QStringLiteral("Version ") + VersionText(v[0], v[1], v[2], v[3], true));
  facts_ =
      CollectVersionFacts(QStringLiteral(REMOTECCM_VERSION), QStringLiteral(__DATE__ " " __TIME__));
  lb_ver_items_->clear();
  for (const Fact& fact : facts_) lb_ver_items_->addItem(fact.first);
  if (lb_ver_items_->count() > 1) lb_ver_items_->setCurrentRow(1);
}

void TAboutBox::ShowFact(int row) {
  mem_ver_str_->clear();
  if (row >= 0 && static_cast<std::size_t>(row) < facts_.size()) {
    mem_ver_str_->setPlainText(facts_[static_cast<std::size_t>(row)].second);
  }
}

void TAboutBox::IconImageClick() {
  QFile notes(QString::fromStdString((ProgramHome() / "new.txt").string()));
  if (!notes.open(QIODevice::ReadOnly)) return;
  mem_ver_str_->clear();
  mem_ver_str_->setPlainText(QString::fromLocal8Bit(notes.readAll()));
}

void TAboutBox::keyPressEvent(QKeyEvent* event) {
  if (EnterBelongsToControl(this, event)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TAboutBox::showEvent(QShowEvent* event) {
  Refresh();
  QDialog::showEvent(event);
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched == icon_image_ && event->type() == QEvent::MouseButtonRelease) IconImageClick();
  return QDialog::eventFilter(watched, event);
}

}  // namespace remoteccm::gui
