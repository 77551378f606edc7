// The designed window sizes are those of the window with its frame, at the desktop's own font.
// A window takes the designed size less the frame, grown with its font, or what its contents
// need where that is more.
#pragma once

#include <QSize>

class QWidget;

namespace remoteccm::gui {

// What a window system's frame takes of a designed size, roughly: borders and a title bar.
inline constexpr QSize kWindowFrame(8, 28);

// How much larger than the desktop's own font the widget's font is; 1 at least.
double FontScale(const QWidget* widget);

// The inside of a window of the designed (outer) size, at the widget's font.
QSize DesignedClientSize(const QWidget* widget, QSize designed);

}  // namespace remoteccm::gui
