#include "gui/seams/message_box.h"

#include <QApplication>

#include "gui/app/widget_text.h"

namespace remoteccm::gui {
namespace {

MessageBox::Button next_answer = QMessageBox::NoButton;
std::function<void()> next_while_open;
QString last_text;

}  // namespace

MessageBox::Button MessageBox::Show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                    QMessageBox::StandardButtons buttons, Button default_button) {
  last_text = text;
  if (next_answer != QMessageBox::NoButton) {
    const Button answer = next_answer;
    next_answer = QMessageBox::NoButton;
    const std::function<void()> while_open = std::move(next_while_open);
    next_while_open = nullptr;
    if (while_open) while_open();
    return answer;
  }
  QMessageBox box(icon, QLatin1String(kApplicationTitle), text, buttons, parent);
  box.setDefaultButton(default_button);
  return static_cast<Button>(box.exec());
}

MessageBox::Button MessageBox::Question(QWidget* parent, const QString& text) {
  return Show(parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No,
              QMessageBox::Yes);
}

void MessageBox::Critical(QWidget* parent, const QString& text) {
  Show(parent, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

void MessageBox::Information(QWidget* parent, const QString& text) {
  Show(parent, QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
}

void MessageBox::setNextAnswer(Button answer, std::function<void()> while_open) {
  next_answer = answer;
  next_while_open = std::move(while_open);
}

QString MessageBox::lastText() { return last_text; }

}  // namespace remoteccm::gui
