// Message boxes and questions of the desktop program. Every box goes through here so that a
// test can answer the next one (setNextAnswer) instead of a modal box waiting for a click.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

namespace remoteccm::gui {

class MessageBox {
 public:
  using Button = QMessageBox::StandardButton;

  // A Yes / No question with the question icon; returns the button chosen.
  static Button Question(QWidget* parent, const QString& text);
  // A notice with OK and the warning icon (errors raised in handlers, driver messages).
  static void Critical(QWidget* parent, const QString& text);
  // A notice with OK and the information icon.
  static void Information(QWidget* parent, const QString& text);

  // Tests: the next box is not shown; it returns `answer` at once, after calling while_open
  // where the box would wait for the user. NoButton shows boxes again.
  static void setNextAnswer(Button answer, std::function<void()> while_open = nullptr);
  // Tests: the text of the last box asked or shown, answered or not.
  static QString lastText();

 private:
  static Button Show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                     QMessageBox::StandardButtons buttons, Button default_button);
};

}  // namespace remoteccm::gui
