// What the desktop program's tests do with its windows: wait on a condition while the event
// loop runs, and find a control by its object name (a missing one ends the test at once).
#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QWidget>
#include <functional>

namespace remoteccm::testing {

inline void WaitUntil(const std::function<bool()>& done) {
  while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
}

template <typename W = QWidget>
W* Child(QWidget* window, const char* name) {
  W* child = window->findChild<W*>(QLatin1String(name));
  if (child == nullptr) qFatal("no control %s", name);
  return child;
}

}  // namespace remoteccm::testing
