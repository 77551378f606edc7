#include "gui/options/cdr_folder_box.h"

#include <QDateTime>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "cdrfiles/cdr_file_source.h"
#include "gui/app/widget_text.h"
#include "gui/options/db_worker.h"
#include "gui/seams/file_dialog.h"
#include "util/text_routines.h"

namespace remoteccm::gui {

TCdrFolderBox::TCdrFolderBox(std::function<ProfileSettings()> settings, std::function<double()> now,
                             QWidget* parent)
    : QGroupBox(QStringLiteral("CDR Files"), parent),
      settings_(std::move(settings)),
      now_(std::move(now)),
      worker_(new DbWorker(this)) {
  folder_edit_ = Named(new QLineEdit(this), "CdrFileFolderEdit1");
  folder_edit_->setPlaceholderText(QStringLiteral("/var/spool/remoteccm/SITE1/incoming"));
  browse_btn_ = Named(new QPushButton(QStringLiteral("Bro&wse..."), this), "CdrFolderBrowseBtn1");
  browse_btn_->setAutoDefault(false);
  test_btn_ = Named(new QPushButton(QStringLiteral("&Test Connection"), this), "CdrFolderTestBtn1");
  test_btn_->setAutoDefault(false);
  result_label_ = Named(new QLabel(this), "CdrFolderResultLabel1");
  result_label_->setWordWrap(true);
  result_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  folder_edit_->setToolTip(
      QStringLiteral("The folder the CDR Repository pushes its files to "
                     "(the Billing Application Server's directory); each "
                     "run first imports its complete files."));
  auto* folder_label = Named(new QLabel(QStringLiteral("Fold&er:"), this), "CdrFolderLabel1");
  folder_label->setBuddy(folder_edit_);

  auto* grid = new QGridLayout(this);
  grid->addWidget(folder_label, 0, 0);
  grid->addWidget(folder_edit_, 0, 1);
  grid->addWidget(browse_btn_, 0, 2);
  grid->addWidget(test_btn_, 1, 0, 1, 2, Qt::AlignLeft);
  grid->addWidget(result_label_, 2, 0, 1, 3);
  grid->setColumnStretch(1, 1);

  connect(browse_btn_, &QPushButton::clicked, this, &TCdrFolderBox::BrowseClick);
  connect(test_btn_, &QPushButton::clicked, this, &TCdrFolderBox::TestClick);
  connect(folder_edit_, &QLineEdit::textChanged, this, [this] {
    result_label_->clear();
    Q_EMIT FolderChanged();
  });
}

QString TCdrFolderBox::Folder() const { return folder_edit_->text().trimmed(); }

void TCdrFolderBox::SetFolder(const QString& folder) { folder_edit_->setText(folder); }

void TCdrFolderBox::CancelTest() {
  worker_->Cancel();
  test_btn_->setEnabled(true);
}

void TCdrFolderBox::BrowseClick() {
  FileDialog::Request request;
  request.caption = QStringLiteral("Folder of the CDR files");
  request.folder = Folder();
  request.folder_only = true;
  const QString chosen = FileDialog::GetOpenFileName(this, request);
  if (!chosen.isEmpty()) folder_edit_->setText(chosen);
}

void TCdrFolderBox::TestClick() {
  ProfileSettings settings = settings_();
  if (TrimView(settings.cdr_file_folder).empty()) {
    result_label_->setText(QStringLiteral("Name the folder the CDR files arrive in."));
    folder_edit_->setFocus();
    return;
  }
  result_label_->setText(QStringLiteral("Looking at the folder..."));
  test_btn_->setEnabled(false);
  const double now = now_();
  worker_->Start(
      [this, settings, now](DbConnection&) -> DbWorker::Delivery {
        const CdrFolderSummary summary = SummarizeCdrFolder(settings, now);
        return [this, summary, folder = settings.cdr_file_folder] {
          test_btn_->setEnabled(true);
          const QString shown = Q(std::string(TrimView(folder)));
          if (!summary.error.empty()) {
            result_label_->setText(
                QStringLiteral("The folder %1 cannot be read: %2.").arg(shown, Q(summary.error)));
          } else if (summary.complete_files == 0 || !summary.newest) {
            result_label_->setText(
                QStringLiteral("The folder can be read; no complete CDR file waits in it."));
          } else {
            const QString newest =
                QDateTime::fromSecsSinceEpoch(static_cast<qint64>(*summary.newest))
                    .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
            result_label_->setText(
                summary.complete_files == 1
                    ? QStringLiteral("The folder can be read; 1 complete CDR file waits in it, "
                                     "from %1.")
                          .arg(newest)
                    : QStringLiteral("The folder can be read; %1 complete CDR files wait in it, "
                                     "the newest from %2.")
                          .arg(summary.complete_files)
                          .arg(newest));
          }
        };
      },
      [this](const std::string& message) {
        test_btn_->setEnabled(true);
        result_label_->setText(Q(message));
      });
}

}  // namespace remoteccm::gui
