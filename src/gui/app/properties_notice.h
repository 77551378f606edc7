// What the Properties button opens until the properties dialog is built: a notice that says so,
// where the profile file is, and the About button the dialog will carry.
#pragma once

#include <QDialog>
#include <QString>

namespace remoteccm::gui {

class PropertiesNotice : public QDialog {
  Q_OBJECT

 public:
  PropertiesNotice(const QString& profile_path, bool exists, QWidget* parent = nullptr);
};

}  // namespace remoteccm::gui
