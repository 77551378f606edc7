#include "gui/options/fields_page.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "cdrfiles/cdr_file_source.h"
#include "gui/app/widget_text.h"
#include "gui/options/db_worker.h"
#include "gui/seams/message_box.h"
#include "platform/db/cdr_schema.h"
#include "platform/db/database.h"
#include "platform/db/db_error.h"
#include "util/text_routines.h"

namespace remoteccm::gui {
namespace {

const QString kLimit = QString::number(kRecordLengthLimit);

// The width column takes digits only, at most three.
class WidthDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
      line->setValidator(
          new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), line));
    }
    return editor;
  }
};

}  // namespace

// The grid of the selected fields: moving to another row first asks whether the row being
// left may be left.
class FieldGrid : public QTableWidget {
 public:
  using QTableWidget::QTableWidget;
  std::function<bool(int)> may_leave_row;
  bool checks_on = true;

 protected:
  // A click selects the row it lands on after the current row changed: one the check refuses
  // is not pressed at all, so that the highlight stays on the row that stays current.
  void mousePressEvent(QMouseEvent* event) override {
    const QModelIndex at = indexAt(event->position().toPoint());
    const QModelIndex current = currentIndex();
    if (checks_on && at.isValid() && current.isValid() && at.row() != current.row() &&
        may_leave_row && !may_leave_row(current.row())) {
      event->accept();
      return;
    }
    QTableWidget::mousePressEvent(event);
  }

  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override {
    if (checks_on && !reverting_ && previous.isValid() && current.row() != previous.row() &&
        may_leave_row && !may_leave_row(previous.row())) {
      reverting_ = true;
      selectionModel()->setCurrentIndex(previous, QItemSelectionModel::ClearAndSelect);
      reverting_ = false;
      return;
    }
    QTableWidget::currentChanged(current, previous);
  }

 private:
  bool reverting_ = false;
};

TFieldsPage::TFieldsPage(std::filesystem::path program_home, QWidget* parent)
    : QWidget(parent),
      program_home_(std::move(program_home)),
      worker_(new DbWorker(this)),
      advanced_tab_group_box1_(Named(new QGroupBox(QStringLiteral("Select Database Fields"), this),
                                     "AdvancedTabGroupBox1")),
      reading_label1_(Named(new QLabel(this), "ReadingLabel1")),
      cdr_fields_list_box1_(Named(new QListWidget(advanced_tab_group_box1_), "CDRFieldsListBox1")),
      select_fld_btn_(
          Named(new QPushButton(QStringLiteral(">"), advanced_tab_group_box1_), "SelectFldBtn")),
      remove_fld_btn_(
          Named(new QPushButton(QStringLiteral("<"), advanced_tab_group_box1_), "RemoveFldBtn")),
      select_fld_label_(
          Named(new QLabel(QStringLiteral("Selected Fields"), advanced_tab_group_box1_),
                "SelectFldLabel")),
      ccm_fld_string_grid1_(
          Named(new FieldGrid(1, 2, advanced_tab_group_box1_), "CCMFldStringGrid1")),
      default_flds_btn_(Named(new QPushButton(QStringLiteral("Defa&ult"), advanced_tab_group_box1_),
                              "DefaultFldsBtn")),
      up_bit_btn_(Named(new QPushButton(advanced_tab_group_box1_), "UpBitBtn")),
      down_bit_btn_(Named(new QPushButton(advanced_tab_group_box1_), "DownBitBtn")),
      clear_flds_btn_(Named(new QPushButton(QStringLiteral("Cl&ear"), advanced_tab_group_box1_),
                            "ClearFldsBtn")),
      shared_label_(Named(new QLabel(advanced_tab_group_box1_), "SharedFieldsLabel1")) {
  auto* label12 =
      Named(new QLabel(QStringLiteral("A&vailable Fields"), advanced_tab_group_box1_), "Label12");
  SetUpButtons(label12);
  SetUpGrid();
  reading_label1_->setWordWrap(true);
  reading_label1_->hide();
  shared_label_->setWordWrap(true);
  LayOut(label12);
  ConnectControls();
}

// The captions' buddies, and the buttons' icons, tips and widths.
void TFieldsPage::SetUpButtons(QLabel* label12) {
  label12->setBuddy(cdr_fields_list_box1_);
  select_fld_label_->setBuddy(ccm_fld_string_grid1_);
  cdr_fields_list_box1_->setSelectionMode(QAbstractItemView::SingleSelection);
  // As wide as the longest names the CDR files of current releases have, with the room an item
  // takes beside its text at any font.
  const QFontMetrics metrics = cdr_fields_list_box1_->fontMetrics();
  int longest_name = 0;
  for (const QString& name : {QStringLiteral("originalCalledPartyNumberPartition"),
                              QStringLiteral("outpulsedOriginalCalledPartyNumber")}) {
    longest_name = std::max(longest_name, metrics.horizontalAdvance(name));
  }
  cdr_fields_list_box1_->setMinimumSize(longest_name + 3 * metrics.averageCharWidth() +
                                            style()->pixelMetric(QStyle::PM_ScrollBarExtent),
                                        200);
  select_fld_btn_->setToolTip(QStringLiteral("Add the field chosen on the left"));
  remove_fld_btn_->setToolTip(QStringLiteral("Remove the field chosen on the right"));
  up_bit_btn_->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
  up_bit_btn_->setToolTip(QStringLiteral("Move the field up"));
  up_bit_btn_->setAccessibleName(QStringLiteral("Move up"));
  down_bit_btn_->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
  down_bit_btn_->setToolTip(QStringLiteral("Move the field down"));
  down_bit_btn_->setAccessibleName(QStringLiteral("Move down"));
  for (QPushButton* button : {select_fld_btn_, remove_fld_btn_, up_bit_btn_, down_bit_btn_}) {
    button->setFixedWidth(32);
    button->setAutoDefault(false);
  }
  for (QPushButton* button : {default_flds_btn_, clear_flds_btn_}) button->setAutoDefault(false);
}

void TFieldsPage::SetUpGrid() {
  FieldGrid* grid = ccm_fld_string_grid1_;
  grid->setHorizontalHeaderLabels({QStringLiteral("Field Name"), QStringLiteral("Length")});
  grid->verticalHeader()->hide();
  grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 6);
  grid->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  grid->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Fixed);
  grid->setColumnWidth(
      1, std::max(46, grid->fontMetrics().horizontalAdvance(QStringLiteral("Length")) + 16));
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setItemDelegateForColumn(1, new WidthDelegate(grid));
  grid->setMinimumSize(200, 200);
  grid->may_leave_row = [this](int row) { return MayLeaveRow(row); };
  ResetGrid();
}

void TFieldsPage::LayOut(QLabel* label12) {
  auto* middle = new QVBoxLayout;
  middle->addStretch(1);
  middle->addWidget(select_fld_btn_);
  middle->addWidget(remove_fld_btn_);
  middle->addStretch(1);
  auto* below = new QHBoxLayout;
  below->addWidget(default_flds_btn_);
  below->addStretch(1);
  below->addWidget(up_bit_btn_);
  below->addWidget(down_bit_btn_);
  below->addStretch(1);
  below->addWidget(clear_flds_btn_);
  auto* grid_layout = new QGridLayout(advanced_tab_group_box1_);
  grid_layout->addWidget(label12, 0, 0);
  grid_layout->addWidget(cdr_fields_list_box1_, 1, 0, 2, 1);
  grid_layout->addLayout(middle, 1, 1);
  grid_layout->addWidget(select_fld_label_, 0, 2);
  grid_layout->addWidget(ccm_fld_string_grid1_, 1, 2);
  grid_layout->addLayout(below, 2, 2);
  grid_layout->addWidget(shared_label_, 3, 0, 1, 3);
  grid_layout->setColumnStretch(0, 4);
  grid_layout->setColumnStretch(2, 5);
  auto* page = new QVBoxLayout(this);
  page->setContentsMargins(4, 4, 4, 4);
  page->addWidget(reading_label1_);
  page->addWidget(advanced_tab_group_box1_, 1);
}

void TFieldsPage::ConnectControls() {
  FieldGrid* grid = ccm_fld_string_grid1_;
  connect(select_fld_btn_, &QPushButton::clicked, this, &TFieldsPage::SelectFldBtnClick);
  connect(cdr_fields_list_box1_, &QListWidget::itemActivated, this,
          &TFieldsPage::SelectFldBtnClick);
  connect(remove_fld_btn_, &QPushButton::clicked, this, &TFieldsPage::RemoveFldBtnClick);
  connect(up_bit_btn_, &QPushButton::clicked, this, &TFieldsPage::UpBitBtnClick);
  connect(down_bit_btn_, &QPushButton::clicked, this, &TFieldsPage::DownBitBtnClick);
  connect(default_flds_btn_, &QPushButton::clicked, this, &TFieldsPage::DefaultFldsBtnClick);
  connect(clear_flds_btn_, &QPushButton::clicked, this, [this] { ClearFldsBtnClick(true); });
  // CCMFldStringGrid1SetEditText: a changed width changes the total.
  connect(grid, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (item->column() == 1) ShowTotal();
  });
}

TFieldsPage::~TFieldsPage() = default;

// ---- The column query ----------------------------------------------------------------------

void TFieldsPage::LoadFieldSelection(const ColumnSource& source) {
  reading_label1_->setText(
      QStringLiteral("Reading the columns of %1 from the database...").arg(Q(source.table_name)));
  reading_label1_->show();
  advanced_tab_group_box1_->setEnabled(false);
  setCursor(Qt::BusyCursor);
  worker_->Start(
      [this, source](DbConnection& db) -> DbWorker::Delivery {
        try {
          db.Connect(source.connection_string, source.database_name, source.login, source.password);
          std::vector<AvailableField> available =
              AvailableFieldsOf(db.ListColumns(source.table_name));
          if (available.empty()) {
            return [this, table = source.table_name] {
              ColumnsFailed("The database has no table " + table + ".");
            };
          }
          return [this, available = std::move(available)] { ColumnsRead(available); };
        } catch (const DbError& error) {
          return [this, message = std::string(error.what())] { ColumnsFailed(message); };
        }
      },
      [this](const std::string& message) { ColumnsFailed(message); });
}

void TFieldsPage::LoadCdrFileFields(const ProfileSettings& settings, double now) {
  const std::string folder = Trim(settings.cdr_file_folder);
  reading_label1_->setText(
      QStringLiteral("Reading the fields of the CDR files in %1...").arg(Q(folder)));
  reading_label1_->show();
  advanced_tab_group_box1_->setEnabled(false);
  setCursor(Qt::BusyCursor);
  worker_->Start(
      [this, settings, now, folder](DbConnection&) -> DbWorker::Delivery {
        std::vector<DbColumnInfo> columns;
        for (const CdrFileField& field : CdrFileFields(settings, now)) {
          // The width its type gives (VARCHAR(n)), as a table's column has; without one, that
          // of the 4.x table's column of the name.
          long length = field.length;
          for (const CdrColumn& known : CdrColumns()) {
            if (length <= 0 && SameText(known.name, field.name)) length = known.length;
          }
          columns.push_back({field.name, "", 0, length});
        }
        if (columns.empty()) {
          return [this, folder] {
            ColumnsFailed("No complete CDR file waits in " + folder +
                          " yet, and none was imported: its fields are not known.");
          };
        }
        return [this, available = AvailableFieldsOf(columns)] { ColumnsRead(available); };
      },
      [this](const std::string& message) { ColumnsFailed(message); });
}

void TFieldsPage::CancelReading() {
  if (!worker_->Busy()) return;
  worker_->Cancel();
  reading_label1_->hide();
  unsetCursor();
}

bool TFieldsPage::Reading() const { return worker_->Busy(); }

void TFieldsPage::ColumnsRead(std::vector<AvailableField> available) {
  reading_label1_->hide();
  unsetCursor();
  advanced_tab_group_box1_->setEnabled(true);
  available_fields_ = std::move(available);
  cdr_fields_list_box1_->clear();
  for (const AvailableField& field : available_fields_) {
    cdr_fields_list_box1_->addItem(Q(field.name));
  }
  SetRowChecks(false);
  ResetGrid();
  stored_ = StoredFieldSelection(program_home_);
  const std::vector<SelectedField> rows =
      stored_ ? *stored_ : DefaultFieldSelection(program_home_, available_fields_);
  for (const SelectedField& row : rows) {
    AppendRow(Q(row.name), Q(row.width), OffersField(available_fields_, row.name));
  }
  ccm_fld_string_grid1_->setCurrentCell(0, 0);
  SetRowChecks(true);
  loaded_ = true;
  ShowTotal();
  Q_EMIT ReadingFinished(true, QString());
}

void TFieldsPage::ColumnsFailed(const std::string& message) {
  reading_label1_->hide();
  unsetCursor();
  advanced_tab_group_box1_->setEnabled(true);
  loaded_ = false;
  Q_EMIT ReadingFinished(false, Q(message));
}

// ---- The grid ------------------------------------------------------------------------------

void TFieldsPage::SetRowChecks(bool on) { ccm_fld_string_grid1_->checks_on = on; }

void TFieldsPage::ResetGrid() {
  const QSignalBlocker block(ccm_fld_string_grid1_);
  ccm_fld_string_grid1_->clearContents();
  ccm_fld_string_grid1_->setRowCount(1);
  for (int column = 0; column < 2; ++column) {
    auto* item = new QTableWidgetItem;
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    ccm_fld_string_grid1_->setItem(0, column, item);
  }
}

void TFieldsPage::AppendRow(const QString& name, const QString& width, bool offered) {
  FieldGrid* grid = ccm_fld_string_grid1_;
  const QSignalBlocker block(grid);
  if (!grid->item(0, 0)->text().trimmed().isEmpty()) grid->setRowCount(grid->rowCount() + 1);
  const int row = grid->rowCount() - 1;
  auto* name_item = new QTableWidgetItem(name);
  name_item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  auto* width_item = new QTableWidgetItem(width);
  width_item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
  name_item->setData(Qt::UserRole, offered);
  if (!offered) {
    for (QTableWidgetItem* item : {name_item, width_item}) {
      item->setForeground(grid->palette().brush(QPalette::Disabled, QPalette::Text));
    }
    QFont italic = grid->font();
    italic.setItalic(true);
    name_item->setFont(italic);
    name_item->setToolTip(QStringLiteral("Not in this source: this profile leaves it blank."));
  }
  grid->setItem(row, 0, name_item);
  grid->setItem(row, 1, width_item);
}

std::vector<SelectedField> TFieldsPage::Rows() const {
  std::vector<SelectedField> rows;
  for (int row = 0; row < ccm_fld_string_grid1_->rowCount(); ++row) {
    const QTableWidgetItem* name = ccm_fld_string_grid1_->item(row, 0);
    const QTableWidgetItem* width = ccm_fld_string_grid1_->item(row, 1);
    if (name == nullptr || name->text().trimmed().isEmpty()) continue;
    rows.push_back({S(name->text()), width != nullptr ? S(width->text()) : std::string()});
  }
  return rows;
}

void TFieldsPage::ShowTotal() {
  selected_length_ = RecordLength(Rows());
  select_fld_label_->setText(
      QStringLiteral("Selected Fields (%1 characters)").arg(selected_length_));
  bool foreign = false;
  for (int row = 0; row < ccm_fld_string_grid1_->rowCount(); ++row) {
    const QTableWidgetItem* name = ccm_fld_string_grid1_->item(row, 0);
    foreign = foreign || (name != nullptr && !name->text().trimmed().isEmpty() &&
                          !name->data(Qt::UserRole).toBool());
  }
  QString note = QStringLiteral("The selected fields are shared by every profile in %1.")
                     .arg(Q(program_home_.string()));
  if (foreign) {
    note +=
        QStringLiteral(" Those in grey are not in this source: this profile leaves them blank.");
  }
  shared_label_->setText(note);
}

// ---- The checks ----------------------------------------------------------------------------

bool TFieldsPage::MayLeaveRow(int row) {
  const QTableWidgetItem* name = ccm_fld_string_grid1_->item(row, 0);
  if (name == nullptr || name->text().trimmed().isEmpty()) return true;
  const int width = ParseWhole(S(ccm_fld_string_grid1_->item(row, 1)->text()));
  if (width >= 1 && width <= kSelectedWidthMax) return true;
  MessageBox::Information(this, QStringLiteral("Field Length cannot be zero nor greater than 40"));
  ccm_fld_string_grid1_->setFocus();
  return false;
}

bool TFieldsPage::CheckFieldSelection(Caller caller) {
  if (!loaded_) return true;
  const std::vector<SelectedField> rows = Rows();
  if (rows.empty()) {
    Q_EMIT ShowRequested();
    MessageBox::Information(
        this, QStringLiteral("The Selected Fields list must contain at least one field."));
    return false;
  }
  // Every row's width, not only the current one's: a width out of range is never stored.
  for (int row = 0; row < ccm_fld_string_grid1_->rowCount(); ++row) {
    const QTableWidgetItem* name = ccm_fld_string_grid1_->item(row, 0);
    if (name == nullptr || name->text().trimmed().isEmpty()) continue;
    const int width = ParseWhole(S(ccm_fld_string_grid1_->item(row, 1)->text()));
    if (width >= 1 && width <= kSelectedWidthMax) continue;
    Q_EMIT ShowRequested();
    SetRowChecks(false);
    ccm_fld_string_grid1_->setCurrentCell(row, 1);
    SetRowChecks(true);
    MessageBox::Information(this,
                            QStringLiteral("Field Length cannot be zero nor greater than 40"));
    ccm_fld_string_grid1_->setFocus();
    return false;
  }
  const int total = RecordLength(rows);
  if (total <= kRecordLengthLimit || caller == Caller::kGrid) return true;
  Q_EMIT ShowRequested();
  MessageBox::Information(
      this,
      QStringLiteral("The total record length (%1) must be %2 or less.").arg(total).arg(kLimit));
  return false;
}

void TFieldsPage::SaveFieldSelection() {
  if (!loaded_) return;
  const std::vector<SelectedField> rows = Rows();
  // Every profile of the home shares the file: OK rewrites it only for a change made here.
  if (stored_ && rows == *stored_) return;
  remoteccm::SaveFieldSelection(program_home_, rows);
  stored_ = rows;
}

// ---- The buttons ---------------------------------------------------------------------------

void TFieldsPage::SelectFldBtnClick() {
  const int index = cdr_fields_list_box1_->currentRow();
  if (index < 0 || static_cast<std::size_t>(index) >= available_fields_.size()) return;
  const QString name = cdr_fields_list_box1_->item(index)->text();
  for (int row = 0; row < ccm_fld_string_grid1_->rowCount(); ++row) {
    if (ccm_fld_string_grid1_->item(row, 0)->text() == name) return;
  }
  const AvailableField& field = available_fields_[static_cast<std::size_t>(index)];
  if (selected_length_ + field.length + 1 > kRecordLengthLimit) {
    MessageBox::Information(
        this, QStringLiteral("Adding field %1 will exceed the %2 record size limit. Field not "
                             "added.")
                  .arg(Q(field.name), kLimit));
    return;
  }
  AppendRow(name, QString::number(field.length));
  ShowTotal();
  ccm_fld_string_grid1_->setCurrentCell(
      ccm_fld_string_grid1_->rowCount() - 1,
      ccm_fld_string_grid1_->currentColumn() < 0 ? 0 : ccm_fld_string_grid1_->currentColumn());
}

void TFieldsPage::RemoveFldBtnClick() {
  FieldGrid* grid = ccm_fld_string_grid1_;
  const int row = grid->currentRow();
  const int column = grid->currentColumn() < 0 ? 0 : grid->currentColumn();
  if (row < 0 || grid->item(row, column) == nullptr ||
      grid->item(row, column)->text().trimmed().isEmpty()) {
    return;
  }
  SetRowChecks(false);
  if (grid->rowCount() > 1) {
    grid->removeRow(row);
    grid->setCurrentCell(std::max(row - 1, 0), column);
  } else {
    ResetGrid();
  }
  SetRowChecks(true);
  ShowTotal();
}

void TFieldsPage::UpBitBtnClick() {
  FieldGrid* grid = ccm_fld_string_grid1_;
  const int row = grid->currentRow();
  if (row < 1) return;
  const int column = std::max(grid->currentColumn(), 0);
  for (int c = 0; c < 2; ++c) {
    QTableWidgetItem* above = grid->takeItem(row - 1, c);
    QTableWidgetItem* here = grid->takeItem(row, c);
    grid->setItem(row - 1, c, here);
    grid->setItem(row, c, above);
  }
  grid->setCurrentCell(row - 1, column);
}

void TFieldsPage::DownBitBtnClick() {
  FieldGrid* grid = ccm_fld_string_grid1_;
  const int row = grid->currentRow();
  if (row < 0 || row >= grid->rowCount() - 1) return;
  const int column = std::max(grid->currentColumn(), 0);
  for (int c = 0; c < 2; ++c) {
    QTableWidgetItem* below = grid->takeItem(row + 1, c);
    QTableWidgetItem* here = grid->takeItem(row, c);
    grid->setItem(row + 1, c, here);
    grid->setItem(row, c, below);
  }
  grid->setCurrentCell(row + 1, column);
}

void TFieldsPage::DefaultFldsBtnClick() {
  if (MessageBox::Question(this, QStringLiteral("Are you sure you want to use the Default "
                                                "Fields?")) != QMessageBox::Yes) {
    return;
  }
  SetRowChecks(false);
  ClearFldsBtnClick(false);
  for (const SelectedField& row : DefaultFieldSelection(program_home_, available_fields_)) {
    AppendRow(Q(row.name), Q(row.width));
  }
  SetRowChecks(true);
  ShowTotal();
}

void TFieldsPage::ClearFldsBtnClick(bool ask) {
  if (ask &&
      MessageBox::Question(this, QStringLiteral("Are you sure you wish to clear the "
                                                "selected fields list?")) != QMessageBox::Yes) {
    return;
  }
  SetRowChecks(false);
  ResetGrid();
  SetRowChecks(true);
  ShowTotal();
}

}  // namespace remoteccm::gui
