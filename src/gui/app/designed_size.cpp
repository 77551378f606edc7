#include "gui/app/designed_size.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace remoteccm::gui {

double FontScale(const QWidget* widget) {
  const double own = QFontMetricsF(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).height();
  if (!(own > 0)) return 1;
  return std::max(1.0, QFontMetricsF(widget->font()).height() / own);
}

QSize DesignedClientSize(const QWidget* widget, QSize designed) {
  const double scale = FontScale(widget);
  const QSize inside = designed - kWindowFrame;
  return {static_cast<int>(std::lround(inside.width() * scale)),
          static_cast<int>(std::lround(inside.height() * scale))};
}

}  // namespace remoteccm::gui
