#include "gui/options/page_scroller.h"

#include <QStyle>
#include <algorithm>

namespace remoteccm::gui {

PageScroller::PageScroller(QWidget* page, QWidget* parent) : QScrollArea(parent) {
  setObjectName(page->objectName());
  page->setObjectName(page->objectName() + QStringLiteral("Page"));
  setFrameShape(QFrame::NoFrame);
  setWidgetResizable(true);
  setWidget(page);
}

QSize PageScroller::sizeHint() const {
  // The page whole, without the bound a scroll area puts on its wish: at its narrowest, so tall
  // as its wrapped texts are there.
  QSize whole = widget()->minimumSizeHint().expandedTo(widget()->minimumSize());
  if (widget()->hasHeightForWidth()) {
    whole.setHeight(std::max(whole.height(), widget()->heightForWidth(whole.width())));
  }
  return whole;
}

QSize PageScroller::minimumSizeHint() const {
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  return {4 * bar, 4 * bar};
}

}  // namespace remoteccm::gui
