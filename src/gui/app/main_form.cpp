// One piece: the slots of one window, which share its widgets and its run's state.

#include "gui/app/main_form.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <filesystem>

#include "gui/app/alt_keys.h"
#include "gui/app/app_icon.h"
#include "gui/app/designed_size.h"
#include "gui/app/widget_text.h"
#include "gui/options/opt_form.h"
#include "gui/seams/message_box.h"
#include "gui/tray/tray_icon.h"
#include "platform/dialup/nm_dialer.h"
#include "profile/profile_list.h"
#include "util/text_routines.h"

namespace remoteccm::gui {
namespace {

// The memo is repainted with what arrived at most this often during a run.
constexpr int kRepaintMs = 50;

const QString kAbortCaption = QStringLiteral("Abort");
const QString kConnectCaption = QStringLiteral("&Connect");

QFrame* Panel(QWidget* parent, const char* name, QFrame::Shape shape, QFrame::Shadow shadow) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(QLatin1String(name));
  panel->setFrameShape(shape);
  panel->setFrameShadow(shadow);
  return panel;
}

}  // namespace

int ExpandedLeft(int screen_width, int width) {
  int left = screen_width - width - 100;
  if (left < 1) left = 1;
  if (left + width > screen_width) left = screen_width - width;
  if (left < 0) left = 0;
  return left;
}

TMainFrm::TMainFrm(const ProfileEnvironment& env, Clock& clock, CommandLine params, QWidget* parent)
    : QWidget(parent),
      env_(env),
      params_(std::move(params)),
      run_dialer_(std::make_unique<NetworkManagerDialer>()),
      phone_book_(std::make_unique<NetworkManagerDialer>()),
      controller_(env, clock, log_, *run_dialer_, this) {
  setObjectName(QStringLiteral("TMainFrm"));
  setWindowTitle(QLatin1String(kDesignedCaption));
  setWindowIcon(AppIcon());
  alt_keys_ = new AltKeysNeverType(this);
  BuildControls();
  opt_frm_ = new TOptFrm(env_, *phone_book_, controller_, this);
  Connect();
  drain_timer_.setSingleShot(true);
  drain_timer_.setInterval(kRepaintMs);
  // FormCreate: the compact window.
  ArrangeSizes();
  settings_.profile_path = std::string(kNoProfile);
  if (!controller_.CompanionProblem().empty()) AddLogLine(controller_.CompanionProblem());
  DrainLog();
}

TMainFrm::~TMainFrm() = default;

void TMainFrm::BuildControls() {
  panel3_ = BuildLeftHalf();
  panel4_ = BuildRightHalf();
  panel4_->hide();  // only the left half shows in the compact window

  popup_menu1_ = Named(new QMenu(this), "PopupMenu1");
  add1_ = Named(popup_menu1_->addAction(QStringLiteral("&Add")), "Add1");
  remove1_ = Named(popup_menu1_->addAction(QStringLiteral("&Remove")), "Remove1");
  close2_ = Named(popup_menu1_->addAction(QStringLiteral("&Connect")), "Close2");
  // "C&lose", not "&Close": Alt+C is Connect's.
  close3_ = Named(popup_menu1_->addAction(QStringLiteral("C&lose")), "Close3");
}

void TMainFrm::ArrangeSizes() {
  // The small buttons as designed, or as large as their captions at this font.
  const auto small = [](QPushButton* button, QSize designed) {
    const QSize needed(button->fontMetrics().horizontalAdvance(button->text()) + 10,
                       button->sizeHint().height());
    button->setFixedSize(designed.expandedTo(needed));
  };
  small(term_btn1_, {25, 25});
  small(del_flag_btn1_, {16, 20});
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fixed.setPointSizeF(fixed.pointSizeF() * FontScale(this));
  memo1_->setFont(fixed);
  // The designed widths, or what the contents need; the height is what the contents need, so
  // that nothing is cut and no strip is left empty.
  const int designed_left = DesignedClientSize(this, {kCompactWidth, kWindowHeight}).width();
  const int designed_all = DesignedClientSize(this, {kExpandedWidth, kWindowHeight}).width();
  const int left = std::max(designed_left, panel3_->minimumSizeHint().width());
  const int right = std::max(designed_all - designed_left, panel4_->minimumSizeHint().width());
  const int left_height =
      panel3_->hasHeightForWidth() ? panel3_->heightForWidth(left) : panel3_->sizeHint().height();
  const int height = std::max(left_height, panel4_->minimumSizeHint().height());
  compact_size_ = QSize(left, height);
  expanded_size_ = QSize(left + right, height);
  panel3_->setGeometry(0, 0, left, height);
  panel4_->setGeometry(left, 0, right, height);
  setFixedSize(panel4_->isHidden() ? compact_size_ : expanded_size_);
}

QWidget* TMainFrm::BuildLeftHalf() {
  QWidget* half = Named(new QWidget(this), "Panel3");
  BuildBanner(half);
  BuildProfilePanel(half);
  QHBoxLayout* buttons = BuildButtons(half);
  auto* layout = new QVBoxLayout(half);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->setSpacing(5);
  layout->addWidget(panel2_);
  layout->addWidget(profile_panel1_);
  layout->addSpacing(6);
  layout->addLayout(buttons);
  return half;
}

// The program's icon and name on white.
void TMainFrm::BuildBanner(QWidget* half) {
  panel2_ = Panel(half, "Panel2", QFrame::StyledPanel, QFrame::Sunken);
  panel2_->setAutoFillBackground(true);
  QPalette white = panel2_->palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  panel2_->setPalette(white);
  panel2_->setMinimumHeight(73);
  auto* image3 = Named(new QLabel(panel2_), "Image3");
  image3->setPixmap(AppIcon().pixmap(48, 48));
  image3->setFixedSize(52, 52);
  auto* label7 = Named(
      new QLabel(QStringLiteral(" Cisco Call Manager ODBC Connection 1.1"), panel2_), "Label7");
  QFont bold = label7->font();
  bold.setBold(true);
  label7->setFont(bold);
  label7->setWordWrap(true);
  auto* panel2_layout = new QHBoxLayout(panel2_);
  panel2_layout->setContentsMargins(8, 4, 8, 4);
  panel2_layout->addWidget(image3);
  panel2_layout->addWidget(label7, 1);
}

// The profile, its login and server, and the delete-all pair.
void TMainFrm::BuildProfilePanel(QWidget* half) {
  profile_panel1_ = Panel(half, "ProfilePanel1", QFrame::StyledPanel, QFrame::Sunken);
  profilenamebox1_ = Named(new QComboBox(profile_panel1_), "Profilenamebox1");
  profilenamebox1_->setEditable(true);
  profilenamebox1_->setInsertPolicy(QComboBox::NoInsert);
  profilenamebox1_->setEditText(Q(std::string(kNoProfile)));
  login1_ = Named(new QLineEdit(profile_panel1_), "Login1");
  password1_ = Named(new QLineEdit(profile_panel1_), "Password1");
  password1_->setEchoMode(QLineEdit::Password);
  server_name1_ = Named(new QLineEdit(profile_panel1_), "ServerName1");
  auto* grid = new QGridLayout(profile_panel1_);
  grid->setContentsMargins(8, 8, 8, 6);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(6);
  const struct {
    const char* name;
    const char* caption;
    QWidget* buddy;
  } rows[] = {{"Label2", "Profile name:", profilenamebox1_},
              {"Label5", "User Name:", login1_},
              {"Label6", "Password:", password1_},
              {"Label1", "IP Addr/Name:", server_name1_}};
  int row = 0;
  for (const auto& r : rows) {
    auto* label = Named(new QLabel(QLatin1String(r.caption), profile_panel1_), r.name);
    label->setBuddy(r.buddy);
    grid->addWidget(label, row, 0);
    grid->addWidget(r.buddy, row, 1);
    ++row;
  }
  grid->setColumnStretch(1, 1);
  // The delete-all pair: the small "<" button shows and hides the command.
  delete_recs1_ =
      Named(new QPushButton(QStringLiteral("&Browse..."), profile_panel1_), "DeleteRecs1");
  delete_recs1_->hide();
  delete_all_recs1_ = Named(
      new QPushButton(QStringLiteral("&Delete All Records "), profile_panel1_), "DeleteAllRecs1");
  delete_all_recs1_->hide();
  del_flag_btn1_ = Named(new QPushButton(QStringLiteral("<"), profile_panel1_), "DelFlagBtn1");
  del_flag_btn1_->setToolTip(QStringLiteral("Show or hide the command that deletes all records"));
  auto* delete_row = new QHBoxLayout;
  // The row keeps its height whether the command is shown or not.
  const QSize button_size = delete_all_recs1_->sizeHint();
  delete_row->addSpacerItem(
      new QSpacerItem(0, button_size.height(), QSizePolicy::Minimum, QSizePolicy::Fixed));
  delete_row->addWidget(delete_all_recs1_);
  delete_row->addStretch(1);
  delete_row->addWidget(del_flag_btn1_, 0, Qt::AlignRight | Qt::AlignBottom);
  grid->addLayout(delete_row, row, 0, 1, 2);
}

// Connect, Close, Properties and the button that shows the log, in one row.
QHBoxLayout* TMainFrm::BuildButtons(QWidget* half) {
  connect_btn1_ = Named(new QPushButton(kConnectCaption, half), "ConnectBtn1");
  close1_ = Named(new QPushButton(QStringLiteral("C&lose"), half), "Close1");
  properties_btn1_ = Named(new QPushButton(QStringLiteral("&Properties"), half), "PropertiesBtn1");
  term_btn1_ = Named(new QPushButton(QStringLiteral(">>"), half), "TermBtn1");
  term_btn1_->setToolTip(QStringLiteral("Show or hide the status and the log"));
  connect_btn1_->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(4);
  // Each button may shrink to what its captions need, below the style's minimum width: four
  // buttons share the compact window's width.
  const QFontMetrics metrics(connect_btn1_->font());
  const auto needed = [&](std::initializer_list<const char*> captions) {
    int width = 0;
    for (const char* caption : captions) {
      width = std::max(width, metrics.horizontalAdvance(QLatin1String(caption)));
    }
    return width + 16;
  };
  connect_btn1_->setMinimumWidth(needed({"Connect", "Abort"}));
  close1_->setMinimumWidth(needed({"Close"}));
  properties_btn1_->setMinimumWidth(needed({"Properties", "Create Profile"}));
  for (QPushButton* button : {connect_btn1_, close1_, properties_btn1_}) {
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    buttons->addWidget(button, button == properties_btn1_ ? 3 : 2);
  }
  buttons->addWidget(term_btn1_, 0, Qt::AlignVCenter);
  return buttons;
}

QWidget* TMainFrm::BuildRightHalf() {
  QWidget* half = Named(new QWidget(this), "Panel4");
  details_group_box1_ = Named(new QGroupBox(QStringLiteral("Status"), half), "DetailsGroupBox1");
  details_label1_ =
      Named(new QLabel(QStringLiteral("Selection: Idle"), details_group_box1_), "DetailsLabel1");
  details_label1_->setWordWrap(true);
  details_label2_ = Named(new QLabel(details_group_box1_), "DetailsLabel2");
  // What failed can be long: it wraps, and the whole of it is also its tooltip.
  details_label2_->setWordWrap(true);
  details_label2_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  details_complete_label1_ = Named(new QLabel(QStringLiteral("% Complete:"), details_group_box1_),
                                   "DetailsCompleteLabel1");
  file_prog_bar1_ = Named(new QProgressBar(details_group_box1_), "FileProgBar1");
  file_prog_bar1_->setRange(0, 100);
  file_prog_bar1_->setTextVisible(false);
  details_complete_label1_->hide();
  file_prog_bar1_->hide();
  auto* progress_row = new QHBoxLayout;
  progress_row->addWidget(details_complete_label1_);
  progress_row->addWidget(file_prog_bar1_, 1);
  auto* status = new QVBoxLayout(details_group_box1_);
  status->setSpacing(2);
  status->addWidget(details_label1_);
  status->addWidget(details_label2_);
  status->addLayout(progress_row);
  // The progress row keeps its height while the bar is hidden.
  QSizePolicy keep = file_prog_bar1_->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  file_prog_bar1_->setSizePolicy(keep);
  QSizePolicy keep_label = details_complete_label1_->sizePolicy();
  keep_label.setRetainSizeWhenHidden(true);
  details_complete_label1_->setSizePolicy(keep_label);

  memo1_ = Named(new QPlainTextEdit(half), "Memo1");
  memo1_->setReadOnly(true);
  memo1_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo1_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo1_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  // A line wider than the memo shows whole as the tooltip of the place it is at.
  memo1_->viewport()->installEventFilter(this);

  auto* layout = new QVBoxLayout(half);
  layout->setContentsMargins(0, 8, 8, 8);
  layout->setSpacing(5);
  layout->addWidget(details_group_box1_);
  layout->addWidget(memo1_, 1);
  return half;
}

void TMainFrm::Connect() {
  connect(connect_btn1_, &QPushButton::clicked, this, &TMainFrm::ConnectBtn1Click);
  connect(close1_, &QPushButton::clicked, this, &QWidget::close);
  connect(properties_btn1_, &QPushButton::clicked, this, [this] {
    TakeTypedProfile();
    PropertiesBtn1Click();
  });
  connect(term_btn1_, &QPushButton::clicked, this, &TMainFrm::TermBtn1Click);
  connect(del_flag_btn1_, &QPushButton::clicked, this, &TMainFrm::DelFlagBtn1Click);
  connect(delete_all_recs1_, &QPushButton::clicked, this, &TMainFrm::DeleteAllRecs1Click);
  connect(add1_, &QAction::triggered, this, &TMainFrm::Add1Click);
  connect(remove1_, &QAction::triggered, this, &TMainFrm::Remove1Click);
  connect(close2_, &QAction::triggered, this, &TMainFrm::ConnectBtn1Click);
  connect(close3_, &QAction::triggered, this, &QWidget::close);

  // The combo: a picked item and leaving the box open the profile; the pop-up menu on it.
  connect(profilenamebox1_, &QComboBox::activated, this, &TMainFrm::Profilenamebox1Exit);
  connect(profilenamebox1_->lineEdit(), &QLineEdit::returnPressed, this,
          &TMainFrm::Profilenamebox1Exit);
  for (QWidget* widget : {static_cast<QWidget*>(profilenamebox1_),
                          static_cast<QWidget*>(profilenamebox1_->lineEdit())}) {
    widget->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(widget, &QWidget::customContextMenuRequested, this,
            [this, widget](QPoint at) { popup_menu1_->popup(widget->mapToGlobal(at)); });
  }
  // The combo itself, not its edit, sees the focus leave: the combo forwards focus events to
  // its edit by a direct call, past any event filter.
  profilenamebox1_->installEventFilter(this);
  for (QLineEdit* edit : {login1_, password1_, server_name1_}) edit->installEventFilter(this);

  connect(&drain_timer_, &QTimer::timeout, this, &TMainFrm::DrainLog);
  connect(&controller_, &RunController::LogChanged, this, &TMainFrm::ScheduleDrain);
  connect(&controller_, &RunController::Status1Changed, this,
          [this](const QString& text) { details_label1_->setText(text); });
  connect(&controller_, &RunController::Status2Changed, this,
          [this](const QString& text) { details_label2_->setText(text); });
  connect(&controller_, &RunController::ProgressChanged, file_prog_bar1_, &QProgressBar::setValue);
  connect(&controller_, &RunController::ProgressShown, this, [this](bool shown) {
    file_prog_bar1_->setVisible(shown);
    details_complete_label1_->setVisible(shown);
  });
  connect(&controller_, &RunController::RunningChanged, this, &TMainFrm::SetRunning);
  connect(&controller_, &RunController::ConnectionError, this, &TMainFrm::ShowConnectionError);
  connect(&controller_, &RunController::RunFinished, this, &TMainFrm::RunEnded);
  connect(&controller_, &RunController::DeleteAllFinished, this, [this](bool) {
    DrainLog();
    SetControlsEnabled(true);
    if (close_after_run_) close();
  });
}

template <typename Handler>
void TMainFrm::Guarded(Handler handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    MessageBox::Critical(this, QString::fromLocal8Bit(e.what()));
  }
}

// ---- Start-up and closing ------------------------------------------------------------------

void TMainFrm::ShowAtStart() {
  // Centred on the desktop, as designed.
  if (const QScreen* primary = QApplication::primaryScreen(); primary != nullptr) {
    move(primary->availableGeometry().center() - rect().center());
  }
  if (DecideStartup(params_).start_minimised) {
    showMinimized();
  } else {
    show();
  }
}

void TMainFrm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (startup_pending_) {
    startup_pending_ = false;
    // After the window has been painted once, as FormShow runs after the window appears.
    QTimer::singleShot(0, this, [this] {
      Guarded([this] { StartUp(); });
      started_up_ = true;
    });
  }
}

void TMainFrm::StartUp() {
  base_caption_ = S(windowTitle()) + " ";
  const StartupDecision decision = DecideStartup(params_);
  const std::string name =
      decision.use_last_profile ? ReadLastProfile(env_.registry) : decision.profile;
  OpenCurrentProfile(name);
  started_up_ = true;
  if (RunsAtOnce(params_, ProfileFileExists(settings_.profile_path))) {
    RunProfile(true);
    return;
  }
  showNormal();
  CreateTrayIcon();
  activateWindow();
}

void TMainFrm::CreateTrayIcon() {
  tray_icon_ = TTrayIcon::Create(this);
  if (!tray_icon_) return;
  tray_icon_->SetHint(QLatin1String(kApplicationTitle));
  tray_icon_->SetIcon(AppIcon());
  connect(tray_icon_.get(), &TTrayIcon::Click, this, &TMainFrm::RestoreFromTray);
  connect(tray_icon_.get(), &TTrayIcon::DblClick, this, &TMainFrm::RestoreFromTray);
}

void TMainFrm::RestoreFromTray() {
  showNormal();
  raise();
  activateWindow();
}

void TMainFrm::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange) ArrangeSizes();
  // With an icon in the notification area, a minimised window leaves the taskbar.
  if (event->type() == QEvent::WindowStateChange && tray_icon_ && isMinimized()) {
    QTimer::singleShot(0, this, [this] {
      if (isMinimized()) hide();
    });
  }
}

void TMainFrm::closeEvent(QCloseEvent* event) {
  if (controller_.Busy()) {
    // The window closes when the run has wound down; an open run is aborted first.
    event->ignore();
    if (running_ && connect_btn1_->isEnabled()) {
      ConnectBtn1Click();
      if (connect_btn1_->isEnabled()) return;  // the user let the run go on
    }
    close_after_run_ = true;
    return;
  }
  // FormClose: remember the profile for the next start without a named one.
  try {
    SaveLastProfile(env_.registry, settings_.profile_path);
  } catch (const std::exception& e) {
    MessageBox::Critical(this, QString::fromLocal8Bit(e.what()));
  }
  tray_icon_.reset();
  event->accept();
}

// ---- The log -------------------------------------------------------------------------------

void TMainFrm::AddLogLine(const std::string& line) { controller_.AddLogLine(line); }

bool TMainFrm::ShowLogLineTip(QHelpEvent* event) {
  const QTextBlock block = memo1_->cursorForPosition(event->pos()).block();
  const QString line = block.text();
  // Only a line the memo cuts needs one.
  if (!block.isValid() ||
      memo1_->fontMetrics().horizontalAdvance(line) + 8 <= memo1_->viewport()->width()) {
    QToolTip::hideText();
    return true;
  }
  QToolTip::showText(event->globalPos(), line.toHtmlEscaped(), memo1_->viewport());
  return true;
}

void TMainFrm::ScheduleDrain() {
  if (!drain_timer_.isActive()) drain_timer_.start();
}

void TMainFrm::DrainLog() {
  drain_timer_.stop();
  LogBuffer::Changes changes = log_.Take();
  QString text;
  for (std::size_t i = 0; i < changes.lines.size(); ++i) {
    if (i > 0) text += QLatin1Char('\n');
    text +=
        QString::fromUtf8(changes.lines[i].data(), static_cast<qsizetype>(changes.lines[i].size()));
  }
  if (changes.reset) {
    memo1_->setPlainText(text);
  } else if (!changes.lines.empty()) {
    memo1_->appendPlainText(text);
  }
  // The newest line in view, from its first column.
  memo1_->verticalScrollBar()->setValue(memo1_->verticalScrollBar()->maximum());
  memo1_->horizontalScrollBar()->setValue(0);
}

// ---- The profile ---------------------------------------------------------------------------

void TMainFrm::FillProfileList() {
  const std::filesystem::path folder = std::filesystem::path(settings_.profile_path).parent_path();
  const ProfileList list = ListProfiles(folder, ProfileNameOf(settings_.profile_path));
  const QString text = profilenamebox1_->currentText();
  const QSignalBlocker block(profilenamebox1_);
  profilenamebox1_->clear();
  for (const std::string& name : list.names) profilenamebox1_->addItem(Q(name));
  profilenamebox1_->setCurrentIndex(list.selected);
  profilenamebox1_->setEditText(text);
}

// The window after a load: the edits, the combo, the buttons and the caption.
void TMainFrm::ShowProfile() {
  const MainWindowTexts texts = MainWindowLogin(settings_);
  login1_->setText(Q(texts.login));
  password1_->setText(Q(texts.password));
  server_name1_->setText(Q(texts.server_name));
  profilenamebox1_->setEditText(Q(Trim(ProfileNameOf(settings_.profile_path))));
  FillProfileList();
  properties_btn1_->setText(QStringLiteral("Properties"));
  connect_btn1_->setEnabled(true);
  setWindowTitle(Q(base_caption_ + " ") + profilenamebox1_->currentText());
}

void TMainFrm::OpenCurrentProfile(const std::string& path) {
  if (remoteccm::OpenProfile(settings_, path, env_)) {
    ShowProfile();
    return;
  }
  // A profile still to be created keeps its name: leaving one of the edits creates its file.
  const std::string name = ProfileNameOf(settings_.profile_path);
  settings_.profile_name = name == kNoProfile ? std::string() : name;
  profilenamebox1_->setEditText(Q(name));
  FillProfileList();
  connect_btn1_->setEnabled(false);
  properties_btn1_->setText(QStringLiteral("Create Profile"));
}

void TMainFrm::LoadCurrentProfile(const std::string& path) {
  settings_ = LoadProfile(path, env_);
  ShowProfile();
}

void TMainFrm::TakeTypedProfile() {
  if (profilenamebox1_->currentText() == Q(Trim(ProfileNameOf(settings_.profile_path)))) return;
  Profilenamebox1Exit();
}

void TMainFrm::Profilenamebox1Exit() {
  Guarded([this] {
    const QString cleaned = Q(CleanProfileName(S(profilenamebox1_->currentText())));
    profilenamebox1_->setEditText(cleaned);
    LoadCurrentProfile(ProfilePathForTypedName(S(cleaned), env_.program_home));
  });
}

void TMainFrm::EditExit(QLineEdit* edit) {
  Guarded([this, edit] {
    const std::string text = S(edit->text());
    if (edit == login1_) settings_.login = text;
    if (edit == password1_) settings_.password = text;
    if (edit == server_name1_) settings_.server_name = text;
    if (TrimView(settings_.profile_name).empty()) return;  // no profile: no file to write
    SaveProfile(settings_, env_);
    profilenamebox1_->setEditText(Q(Trim(ProfileNameOf(settings_.profile_path))));
    FillProfileList();
    // The file exists now: a profile that was still to be created can run.
    properties_btn1_->setText(QStringLiteral("Properties"));
    connect_btn1_->setEnabled(true);
    setWindowTitle(Q(base_caption_ + " ") + profilenamebox1_->currentText());
  });
}

bool TMainFrm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ToolTip && watched == memo1_->viewport()) {
    return ShowLogLineTip(static_cast<QHelpEvent*>(event));
  }
  if (event->type() == QEvent::FocusOut) {
    // Leaving the box for another control counts; a pop-up or another window taking the
    // focus does not.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason && isVisible()) {
      if (watched == profilenamebox1_) {
        Profilenamebox1Exit();
      } else if (auto* edit = qobject_cast<QLineEdit*>(watched)) {
        EditExit(edit);
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TMainFrm::Add1Click() {
  Guarded([this] {
    const std::string remembered = settings_.profile_path;
    profilenamebox1_->setEditText(QString());
    settings_.profile_path.clear();
    PropertiesBtn1Click();
    if (settings_.profile_path.empty()) {
      profilenamebox1_->setEditText(Q(remembered));
      OpenCurrentProfile(remembered);
    }
  });
}

void TMainFrm::Remove1Click() {
  Guarded([this] {
    const int index = profilenamebox1_->currentIndex();
    if (index < 0 || profilenamebox1_->itemText(index) != profilenamebox1_->currentText()) return;
    const std::filesystem::path folder =
        std::filesystem::path(settings_.profile_path).parent_path();
    const std::string name = S(profilenamebox1_->itemText(index));
    if (!ProfileFileExists(folder / (name + std::string(kProfileExtension)))) {
      return;
    }
    const QString question = QStringLiteral("Remove the profile %1? Its file is deleted.")
                                 .arg(profilenamebox1_->itemText(index));
    if (MessageBox::Question(this, question) != QMessageBox::Yes) return;
    RemoveProfile(folder, name);
    const QSignalBlocker block(profilenamebox1_);
    profilenamebox1_->removeItem(index);
    if (profilenamebox1_->count() > 0) {
      profilenamebox1_->setCurrentIndex(0);
      profilenamebox1_->setEditText(profilenamebox1_->itemText(0));
    } else {
      profilenamebox1_->setEditText(QString());
    }
  });
}

void TMainFrm::PropertiesBtn1Click() {
  Guarded([this] {
    // A profile without a path (Add) opens with every setting at its default.
    if (settings_.profile_path.empty()) {
      settings_ = LoadProfile(std::string(), env_);
    } else {
      LoadCurrentProfile(settings_.profile_path);
    }
    opt_frm_->Edit(settings_);
    // After OK the profile as saved, after Cancel as stored: loaded again either way.
    if (!settings_.profile_path.empty()) LoadCurrentProfile(settings_.profile_path);
  });
}

// ---- Runs ----------------------------------------------------------------------------------

void TMainFrm::SetControlsEnabled(bool enabled) {
  profile_panel1_->setEnabled(enabled);
  close1_->setEnabled(enabled);
  properties_btn1_->setEnabled(enabled);
}

void TMainFrm::RunProfile(bool unattended) {
  if (controller_.Busy()) return;
  // A run uses the profile as stored.
  LoadCurrentProfile(settings_.profile_path);
  // Nothing of the run before stays in the status area.
  details_label1_->setText(QStringLiteral("Selection: Idle"));
  details_label2_->clear();
  details_label2_->setToolTip(QString());
  unattended_run_ = unattended;
  controller_.StartRun(settings_.profile_path, unattended);
}

void TMainFrm::ConnectBtn1Click() {
  // The button aborts while a run is open (SetRunning gives it the caption to match).
  if (!running_) {
    Guarded([this] {
      TakeTypedProfile();
      RunProfile(false);
    });
    return;
  }
  // The pause stands still while the question is open.
  controller_.pause_clock().Hold();
  const bool abort =
      MessageBox::Question(this, QStringLiteral("Are you sure you want to abort the operation?")) ==
      QMessageBox::Yes;
  if (abort && running_) {
    controller_.RequestAbort();
    AddLogLine("Aborted...");
    connect_btn1_->setEnabled(false);
  }
  controller_.pause_clock().Release();
}

void TMainFrm::SetRunning(bool running) {
  DrainLog();
  running_ = running;
  if (running) {
    SetControlsEnabled(false);
    connect_btn1_->setText(kAbortCaption);
    return;
  }
  setWindowTitle(Q(base_caption_));
  connect_btn1_->setText(kConnectCaption);
  connect_btn1_->setEnabled(true);
  SetControlsEnabled(true);
}

void TMainFrm::RunEnded(int run_status, const QString& last_error) {
  DrainLog();
  const auto status = static_cast<RunStatus>(run_status);
  if (status == RunStatus::kAborted) {
    details_label2_->setText(QStringLiteral("Operation Aborted."));
  } else if (status != RunStatus::kSuccess) {
    // What failed, not what the run before said.
    const QString failed = QStringLiteral("Operation Failed: ") +
                           (last_error.isEmpty() ? QStringLiteral("see the log.") : last_error);
    details_label2_->setText(failed);
    details_label2_->setToolTip(failed);
  }
  if (stopped_by_signal_ || ClosesAfterRun(params_, connect_btn1_->isEnabled())) {
    exit_status_ = ExitStatusOf(status);
    close();
  } else if (close_after_run_) {
    close();
  }
}

void TMainFrm::StopBySignal() {
  stopped_by_signal_ = true;
  if (!controller_.Busy()) {
    close();
    return;
  }
  controller_.RequestAbort();
  if (running_) AddLogLine("Aborted...");
  connect_btn1_->setEnabled(false);
  close_after_run_ = true;
}

void TMainFrm::ShowConnectionError(const QString& message) {
  DrainLog();
  MessageBox::Critical(this, message);
}

// ---- The window's size and the delete-all command ------------------------------------------

void TMainFrm::TermBtn1Click() {
  if (panel4_->isHidden()) {
    setFixedSize(expanded_size_);
    const QScreen* shown_on = screen() != nullptr ? screen() : QApplication::primaryScreen();
    if (shown_on != nullptr) {
      move(ExpandedLeft(shown_on->geometry().width(), frameGeometry().width()), y());
    }
    term_btn1_->setText(QStringLiteral("<<"));
    panel4_->show();
  } else {
    panel4_->hide();
    setFixedSize(compact_size_);
    term_btn1_->setText(QStringLiteral(">>"));
  }
}

void TMainFrm::DelFlagBtn1Click() {
  // isHidden, not isVisible: the command's own state, whether or not the window is shown.
  const bool show = delete_all_recs1_->isHidden();
  delete_all_recs1_->setVisible(show);
  del_flag_btn1_->setText(show ? QStringLiteral(">") : QStringLiteral("<"));
}

void TMainFrm::DeleteAllRecs1Click() {
  if (controller_.Busy()) return;
  TakeTypedProfile();
  const QString question =
      QStringLiteral(
          "Delete every record of the table %1 on the server of the profile %2? The records "
          "are not collected first, and this cannot be undone.")
          .arg(Q(settings_.sql_table_name), Q(settings_.profile_name));
  if (MessageBox::Question(this, question) != QMessageBox::Yes) return;
  SetControlsEnabled(false);
  controller_.StartDeleteAll(settings_);
}

}  // namespace remoteccm::gui
