// TTrayIcon: the program's icon in the desktop's notification area, where it has one. A click
// or double click on it restores the window; minimising hides the window behind it.
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <memory>

class QSystemTrayIcon;

namespace remoteccm::gui {

class TTrayIcon : public QObject {
  Q_OBJECT

 public:
  // The icon in the notification area, or nullptr when the desktop has none.
  static std::unique_ptr<TTrayIcon> Create(QObject* owner);
  ~TTrayIcon() override;

  void SetHint(const QString& hint);
  void SetIcon(const QIcon& icon);

 Q_SIGNALS:
  void Click();
  void DblClick();

 private:
  explicit TTrayIcon(QObject* owner);

  QSystemTrayIcon* icon_;
  QString hint_;
};

}  // namespace remoteccm::gui
