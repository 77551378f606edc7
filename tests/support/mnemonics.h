// The keyboard mnemonics of a window as it stands: the letter after "&" of each button, each
// label that leads to a control, each group box and tab shown, and each item of a menu. Two of
// them with one letter make Alt+letter move between them instead of acting on one.
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QStringList>
#include <QTabBar>
#include <QWidget>
#include <map>

namespace remoteccm::testing {

// "Alt+C: ConnectBtn1 "&Connect", Close1 "&Close"" for each letter that more than one shown
// control of window has; empty when each has its own.
inline QStringList MnemonicCollisions(QWidget* window) {
  std::map<QString, QStringList> by_key;
  const auto add = [&](const QString& text, const QString& who) {
    const QKeySequence key = QKeySequence::mnemonic(text);
    if (!key.isEmpty())
      by_key[key.toString()].append(who + QStringLiteral(" \"") + text + QLatin1Char('"'));
  };
  for (QWidget* widget : window->findChildren<QWidget*>()) {
    if (widget->window() != window || !widget->isVisibleTo(window)) continue;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      add(button->text(), widget->objectName());
    } else if (auto* label = qobject_cast<QLabel*>(widget); label && label->buddy()) {
      add(label->text(), widget->objectName());
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
      add(group->title(), widget->objectName());
    } else if (auto* tabs = qobject_cast<QTabBar*>(widget)) {
      for (int i = 0; i < tabs->count(); ++i) {
        if (tabs->isTabVisible(i)) add(tabs->tabText(i), QStringLiteral("tab"));
      }
    }
  }
  if (auto* menu = qobject_cast<QMenu*>(window)) {
    for (QAction* action : menu->actions()) {
      if (action->isVisible()) add(action->text(), action->objectName());
    }
  }
  QStringList collisions;
  for (const auto& [key, who] : by_key) {
    if (who.size() > 1)
      collisions.append(key + QStringLiteral(": ") + who.join(QStringLiteral(", ")));
  }
  return collisions;
}

}  // namespace remoteccm::testing
