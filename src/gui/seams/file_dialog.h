// The file-open dialog of the desktop program. Every file dialog goes through here so that a
// test can give the next answer (setNextFileName) instead of a modal dialog waiting for a
// choice, and see what the dialog was asked to show.
#pragma once

#include <QList>
#include <QString>
#include <QUrl>

class QWidget;

namespace remoteccm::gui {

class FileDialog {
 public:
  struct Request {
    QString caption;
    QString folder;            // where the dialog starts
    QString file_name;         // the name it starts with ("*.raw" shows that kind of file)
    QString filter;            // "Name (*.x);;All Files (*)"
    QString default_suffix;    // added to a typed name without one
    QList<QUrl> places;        // extra folders in the dialog's side bar
    bool must_exist = true;    // false: a new file may be named (a destination)
    bool folder_only = false;  // a folder is chosen, not a file
  };

  // The chosen path, empty when the user cancels.
  static QString GetOpenFileName(QWidget* parent, const Request& request);

  // Tests: the next dialog is not shown; it returns `path` at once (empty: cancelled).
  static void setNextFileName(const QString& path);
  // Tests: what the last dialog was asked to show, answered or not.
  static Request lastRequest();
};

}  // namespace remoteccm::gui
