// The program's icon, drawn at the sizes a window, the notification area and the about box use.
#pragma once

#include <QIcon>

namespace remoteccm::gui {

QIcon AppIcon();

}  // namespace remoteccm::gui
