#include "gui/options/cdr_folder_box.h"

#include <QDateTime>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "cdrfiles/cdr_file_source.h"
#include "gui/app/widget_text.h"
#include "gui/options/db_worker.h"
#include "gui/seams/file_dialog.h"
#include "util/text_routines.h"

namespace remoteccm::gui {
namespace {

// What the folder holds, for a folder that can be read: the files waiting, those still being
// written, or that everything came and was imported.
QString SummaryText(const CdrFolderSummary& summary, double now) {
  QString waiting;
  if (summary.complete_files > 0 && summary.newest) {
    const QString newest = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(*summary.newest))
                               .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    waiting = summary.complete_files == 1
                  ? QStringLiteral("1 complete CDR file waits in it, from %1").arg(newest)
                  : QStringLiteral("%1 complete CDR files wait in it, the newest from %2")
                        .arg(summary.complete_files)
                        .arg(newest);
  }
  QString settling;
  if (summary.settling_files > 0 && summary.newest_settling) {
    const qint64 ago = std::max<qint64>(0, qRound64(now - *summary.newest_settling));
    settling = summary.settling_files == 1
                   ? QStringLiteral("1 file is still settling; it came %1 s ago").arg(ago)
                   : QStringLiteral("%1 files are still settling; the newest came %2 s ago")
                         .arg(summary.settling_files)
                         .arg(ago);
  }
  if (!waiting.isEmpty()) {
    return QStringLiteral("The folder can be read; ") + waiting +
           (settling.isEmpty() ? QStringLiteral(".") : QStringLiteral("; ") + settling + u'.');
  }
  if (!settling.isEmpty()) {
    return QStringLiteral("The folder can be read; no complete CDR file waits in it: ") + settling +
           u'.';
  }
  if (!summary.imported_files) {
    return QStringLiteral(
        "The folder can be read; no CDR file waits in it. The profile's CDR database cannot be "
        "read to tell what it imported.");
  }
  if (*summary.imported_files == 1) {
    return QStringLiteral(
        "The folder can be read; no CDR file waits in it: its one file is imported.");
  }
  if (*summary.imported_files > 1) {
    return QStringLiteral(
               "The folder can be read; no CDR file waits in it: all %1 files are imported.")
        .arg(*summary.imported_files);
  }
  return QStringLiteral(
      "The folder can be read; no CDR file waits in it, and this profile has "
      "imported none yet.");
}

}  // namespace

TCdrFolderBox::TCdrFolderBox(std::function<ProfileSettings()> settings, std::function<double()> now,
                             std::filesystem::path program_home, QWidget* parent)
    : QGroupBox(QStringLiteral("CDR Files"), parent),
      settings_(std::move(settings)),
      now_(std::move(now)),
      program_home_(std::move(program_home)),
      worker_(new DbWorker(this)) {
  folder_edit_ = Named(new QLineEdit(this), "CdrFileFolderEdit1");
  folder_edit_->setPlaceholderText(QStringLiteral("/var/spool/remoteccm/SITE1/incoming"));
  browse_btn_ = Named(new QPushButton(QStringLiteral("Bro&wse..."), this), "CdrFolderBrowseBtn1");
  browse_btn_->setAutoDefault(false);
  test_btn_ = Named(new QPushButton(QStringLiteral("&Test Connection"), this), "CdrFolderTestBtn1");
  test_btn_->setAutoDefault(false);
  result_label_ = Named(new QLabel(this), "CdrFolderResultLabel1");
  result_label_->setWordWrap(true);
  // Room for what the test says, so that the page need not grow (or scroll) when it comes.
  result_label_->setMinimumHeight(2 * result_label_->fontMetrics().lineSpacing());
  result_label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
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
  // The folder named, or the program home: never the folder the program was started in.
  request.folder = QFileInfo(Folder()).isDir() ? Folder() : Q(program_home_.string());
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
        return [this, summary, now, folder = settings.cdr_file_folder] {
          test_btn_->setEnabled(true);
          result_label_->setText(
              summary.error.empty() ? SummaryText(summary, now)
                                    : QStringLiteral("The folder %1 cannot be read: %2.")
                                          .arg(Q(std::string(TrimView(folder))), Q(summary.error)));
        };
      },
      [this](const std::string& message) {
        test_btn_->setEnabled(true);
        result_label_->setText(Q(message));
      });
}

}  // namespace remoteccm::gui
