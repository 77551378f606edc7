#include "gui/app/alt_keys.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>

namespace remoteccm::gui {

AltKeysNeverType::AltKeysNeverType(QObject* parent) : QObject(parent) {
  QCoreApplication::instance()->installEventFilter(this);
}

bool AltKeysNeverType::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const auto* key = static_cast<const QKeyEvent*>(event);
  // Alt alone, with Shift at most: Ctrl+Alt is AltGr on Windows, which types characters.
  const Qt::KeyboardModifiers held = key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
  if (held != Qt::AltModifier || key->text().isEmpty() || !key->text().front().isPrint()) {
    return false;
  }
  return qobject_cast<QMenu*>(watched) == nullptr && qobject_cast<QMenuBar*>(watched) == nullptr;
}

}  // namespace remoteccm::gui
