// A radio button or check box whose caption wraps instead of widening its page: the caption is
// a word-wrapping label beside a button without text, and a click on it is a click on the
// button.
#pragma once

#include <QString>

class QAbstractButton;
class QBoxLayout;
class QLabel;

namespace remoteccm::gui {

// The row of button and caption, for the page's layout; the caption label is named `name`.
QBoxLayout* WithWrappingCaption(QAbstractButton* button, const QString& caption, const char* name);

}  // namespace remoteccm::gui
