// TAboutBox: the program's icon, name, version and legal notice, and a list of facts about the
// program and the computer; clicking a fact's name shows its value.
#pragma once

#include <QDialog>

#include "gui/about/version_facts.h"

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace remoteccm::gui {

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* parent = nullptr);

  // Rebuilds the facts; called on every showing.
  void Refresh();

 protected:
  void showEvent(QShowEvent* event) override;
  // Enter in the fact list acts there: it never presses OK.
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowFact(int row);
  void IconImageClick();

  std::vector<Fact> facts_;
  QLabel* icon_image_;
  QLabel* lb_description_;
  QLabel* lb_version_;
  QLabel* lb_copyright_;
  QListWidget* lb_ver_items_;
  QPlainTextEdit* mem_ver_str_;
  QPushButton* ok_button_;
};

}  // namespace remoteccm::gui
