#include "gui/seams/file_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <optional>
#include <utility>

namespace remoteccm::gui {
namespace {

std::optional<QString> next_file_name;
FileDialog::Request last_request;

}  // namespace

QString FileDialog::GetOpenFileName(QWidget* parent, const Request& request) {
  last_request = request;
  if (next_file_name) {
    QString answer = std::move(*next_file_name);
    next_file_name.reset();
    return answer;
  }
  QFileDialog dialog(parent, request.caption, request.folder, request.filter);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(request.folder_only  ? QFileDialog::Directory
                     : request.must_exist ? QFileDialog::ExistingFile
                                          : QFileDialog::AnyFile);
  if (request.folder_only) dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setDefaultSuffix(request.default_suffix);
  if (!request.file_name.isEmpty()) dialog.selectFile(request.file_name);
  if (!request.places.isEmpty()) dialog.setSidebarUrls(dialog.sidebarUrls() + request.places);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

void FileDialog::setNextFileName(const QString& path) { next_file_name = path; }

FileDialog::Request FileDialog::lastRequest() { return last_request; }

}  // namespace remoteccm::gui
