// A page of the properties dialog that scrolls where the screen cannot hold it whole. It asks
// for what its page needs, so that the dialog shows every page whole where it can, but may be
// made as small as a screen requires.
#pragma once

#include <QScrollArea>

namespace remoteccm::gui {

class PageScroller : public QScrollArea {
  Q_OBJECT

 public:
  // Takes page, whose name the scroller carries from then on (the page's own gets "Page" added).
  explicit PageScroller(QWidget* page, QWidget* parent = nullptr);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
};

}  // namespace remoteccm::gui
