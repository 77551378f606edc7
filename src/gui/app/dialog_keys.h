// The keys a dialog of the desktop program leaves to its controls.
#pragma once

class QKeyEvent;
class QWidget;

namespace remoteccm::gui {

// Whether Enter belongs to the control with the focus in `dialog` (a list, grid or text area, a
// spin box, date field or drop-down list): it acts there or nowhere, and never presses the
// dialog's default button, which would close it (and in the properties dialog save it).
bool EnterBelongsToControl(const QWidget* dialog, const QKeyEvent* event);

}  // namespace remoteccm::gui
