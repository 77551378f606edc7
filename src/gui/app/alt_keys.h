// Alt with a letter is a mnemonic or nothing. A letter no control has as its mnemonic reaches
// the control with the focus as a typed key, and an edit would type it: "WATCH" in the profile
// box became "WATCHp", which leaving the box opened as a new profile.
#pragma once

#include <QObject>

namespace remoteccm::gui {

// Watches every window of the program while it lives (an event filter of the application):
// an Alt key press that would type a character is dropped. Menus keep theirs, where Alt with a
// letter picks the item.
class AltKeysNeverType : public QObject {
  Q_OBJECT

 public:
  explicit AltKeysNeverType(QObject* parent = nullptr);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace remoteccm::gui
