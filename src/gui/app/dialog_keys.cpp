#include "gui/app/dialog_keys.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace remoteccm::gui {

bool EnterBelongsToControl(const QWidget* dialog, const QKeyEvent* event) {
  if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) return false;
  // The control had the key first (a list adds its field, a grid ends its edit, a spin box takes
  // its value) and let it go on to the dialog; an editor inside a control counts as the control.
  for (const QWidget* on = dialog->focusWidget(); on != nullptr && on != dialog;
       on = on->parentWidget()) {
    if (qobject_cast<const QAbstractItemView*>(on) != nullptr ||
        qobject_cast<const QPlainTextEdit*>(on) != nullptr ||
        qobject_cast<const QTextEdit*>(on) != nullptr ||
        qobject_cast<const QAbstractSpinBox*>(on) != nullptr ||
        qobject_cast<const QComboBox*>(on) != nullptr) {
      return true;
    }
  }
  return false;
}

}  // namespace remoteccm::gui
