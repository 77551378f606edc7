#include "gui/tray/tray_icon.h"

#include <QApplication>
#include <QSystemTrayIcon>

#include "gui/app/widget_text.h"

namespace remoteccm::gui {

std::unique_ptr<TTrayIcon> TTrayIcon::Create(QObject* owner) {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return nullptr;
  return std::unique_ptr<TTrayIcon>(new TTrayIcon(owner));
}

TTrayIcon::TTrayIcon(QObject* owner) : QObject(owner), icon_(new QSystemTrayIcon(this)) {
  icon_->setIcon(QApplication::windowIcon());
  icon_->setToolTip(QLatin1String(kApplicationTitle));
  connect(icon_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger) Q_EMIT Click();
            if (reason == QSystemTrayIcon::DoubleClick) Q_EMIT DblClick();
          });
  icon_->show();
}

TTrayIcon::~TTrayIcon() { icon_->hide(); }

void TTrayIcon::SetHint(const QString& hint) {
  if (hint == hint_) return;
  hint_ = hint;
  icon_->setToolTip(hint);
}

void TTrayIcon::SetIcon(const QIcon& icon) { icon_->setIcon(icon); }

}  // namespace remoteccm::gui
