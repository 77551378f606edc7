// Small helpers every window of the desktop program uses: a widget named as the design names
// its control, and text between Qt's strings and the core's UTF-8 strings.
#pragma once

#include <QLatin1String>
#include <QString>
#include <string>

namespace remoteccm::gui {

// The program's title (message boxes, the notification-area icon). Window titles are the
// designed captions alone: it is not appended to them.
inline constexpr char kApplicationTitle[] = "Remote Access for CCM";

template <typename W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

inline QString Q(const std::string& text) { return QString::fromStdString(text); }
inline std::string S(const QString& text) { return text.toStdString(); }

}  // namespace remoteccm::gui
