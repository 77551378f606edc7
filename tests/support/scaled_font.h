// The application's font made larger for as long as the object lives, as on a desktop set to a
// larger font: windows made meanwhile are laid out for it.
#pragma once

#include <QApplication>
#include <QFont>

namespace remoteccm::testing {

class ScaledAppFont {
 public:
  explicit ScaledAppFont(double scale) : desktop_(QApplication::font()) {
    QFont font = desktop_;
    font.setPointSizeF(desktop_.pointSizeF() * scale);
    QApplication::setFont(font);
  }
  ~ScaledAppFont() { QApplication::setFont(desktop_); }
  ScaledAppFont(const ScaledAppFont&) = delete;
  ScaledAppFont& operator=(const ScaledAppFont&) = delete;

 private:
  QFont desktop_;
};

}  // namespace remoteccm::testing
