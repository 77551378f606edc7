// The Connection String edit: while it does not have the focus, the passwords in the string are
// shown masked (PWD=***), so that a look over the user's shoulder does not read them. The text
// itself, edited and saved, is always the string as typed.
#pragma once

#include <QLineEdit>

class QLabel;

namespace remoteccm::gui {

class ConnectionStringEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit ConnectionStringEdit(QWidget* parent = nullptr);

  // What the edit shows now (before it is cut to the edit's width): the text, or while it has
  // no focus the text with masked passwords.
  QString ShownText() const;

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // The masked text lies over the edit's own where it differs from it.
  void ShowMasked();

  QLabel* masked_;
  QString masked_text_;
};

}  // namespace remoteccm::gui
