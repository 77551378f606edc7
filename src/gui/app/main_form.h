// TMainFrm: the main window. The current profile with its three short-cut edits, Connect and
// Abort, the status group and the log, the compact and expanded sizes, the start-up decision
// of the command line, and the closing that remembers the last profile.
#pragma once

#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>

#include "gui/app/log_buffer.h"
#include "gui/app/run_controller.h"
#include "profile/profile_file.h"
#include "startup/command_line.h"

class QComboBox;
class QFrame;
class QHelpEvent;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace remoteccm::gui {

class AltKeysNeverType;
class TOptFrm;
class TTrayIcon;

// The compact and expanded window as designed, frame included: the window is as wide as this
// less the frame, or wider where its contents need it, and as high as its contents.
inline constexpr int kCompactWidth = 301;
inline constexpr int kExpandedWidth = 642;
inline constexpr int kWindowHeight = 326;
// The designed caption; the window shows it with the profile name after it.
inline constexpr char kDesignedCaption[] = "Quorvan Remote CCM";

// The left edge of the expanded window on a screen of the given width.
int ExpandedLeft(int screen_width, int width);

class TMainFrm : public QWidget {
  Q_OBJECT

 public:
  // env and clock must outlive the window; params are the command line without the program.
  TMainFrm(const ProfileEnvironment& env, Clock& clock, CommandLine params,
           QWidget* parent = nullptr);
  ~TMainFrm() override;

  // Shows the window as the command line asks (minimised for an unattended start).
  void ShowAtStart();
  // The program's exit status: that of the run which closed the window, else 0.
  int ExitStatus() const { return exit_status_; }
  bool Running() const { return running_; }
  // The start-up work (the first showing's) is done: the profile is open, a run may be going.
  bool StartedUp() const { return started_up_; }
  RunController& Controller() { return controller_; }
  TOptFrm* OptFrm() const { return opt_frm_; }
  const ProfileSettings& Settings() const { return settings_; }
  // Puts the lines that arrived since the last repaint into the memo now.
  void DrainLog();
  // A stop signal (SIGTERM, SIGINT, SIGHUP), on the window's thread: a run going on is aborted
  // and the program ends with its exit status (6) once it has wound down; else the window
  // closes as Close closes it.
  void StopBySignal();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void ArrangeSizes();
  QWidget* BuildLeftHalf();
  void BuildBanner(QWidget* half);
  void BuildProfilePanel(QWidget* half);
  QHBoxLayout* BuildButtons(QWidget* half);
  QWidget* BuildRightHalf();
  void Connect();
  // What the profile box holds, taken as leaving the box takes it: every action on the profile
  // starts from the name typed.
  void TakeTypedProfile();

  void StartUp();
  void CreateTrayIcon();
  void RestoreFromTray();
  void AddLogLine(const std::string& line);
  void ScheduleDrain();

  // The profile shown by the window.
  void OpenCurrentProfile(const std::string& path);
  void LoadCurrentProfile(const std::string& path);
  void FillProfileList();
  void ShowProfile();
  void SetControlsEnabled(bool enabled);

  void RunProfile(bool unattended);
  void ConnectBtn1Click();
  void TermBtn1Click();
  void PropertiesBtn1Click();
  void Profilenamebox1Exit();
  void Add1Click();
  void Remove1Click();
  void EditExit(QLineEdit* edit);
  void DelFlagBtn1Click();
  void DeleteAllRecs1Click();
  void SetRunning(bool running);
  void RunEnded(int run_status, const QString& last_error);
  bool ShowLogLineTip(QHelpEvent* event);
  void ShowConnectionError(const QString& message);

  // Runs a handler; an error it raises is shown in a box and the window stays usable.
  template <typename Handler>
  void Guarded(Handler handler);

  const ProfileEnvironment& env_;
  CommandLine params_;
  ProfileSettings settings_;
  LogBuffer log_;
  // The dialer of dial-up runs (used on the run's thread) and the one of the properties
  // dialog's phone book (used on this thread): a dialer serves one thread.
  std::unique_ptr<Dialer> run_dialer_;
  std::unique_ptr<Dialer> phone_book_;
  RunController controller_;
  TOptFrm* opt_frm_ = nullptr;
  AltKeysNeverType* alt_keys_ = nullptr;
  QTimer drain_timer_;
  std::unique_ptr<TTrayIcon> tray_icon_;
  std::string base_caption_;
  bool startup_pending_ = true;
  bool started_up_ = false;
  bool running_ = false;
  bool unattended_run_ = false;
  bool close_after_run_ = false;
  bool stopped_by_signal_ = false;
  int exit_status_ = 0;
  QSize compact_size_;
  QSize expanded_size_;

  // Controls; their objectName is the designed control name.
  QFrame* panel2_ = nullptr;
  QFrame* profile_panel1_ = nullptr;
  QComboBox* profilenamebox1_ = nullptr;
  QLineEdit* login1_ = nullptr;
  QLineEdit* password1_ = nullptr;
  QLineEdit* server_name1_ = nullptr;
  QPushButton* delete_recs1_ = nullptr;
  QPushButton* delete_all_recs1_ = nullptr;
  QPushButton* del_flag_btn1_ = nullptr;
  QPushButton* connect_btn1_ = nullptr;
  QPushButton* close1_ = nullptr;
  QPushButton* properties_btn1_ = nullptr;
  QPushButton* term_btn1_ = nullptr;
  QWidget* panel3_ = nullptr;
  QWidget* panel4_ = nullptr;
  QGroupBox* details_group_box1_ = nullptr;
  QLabel* details_label1_ = nullptr;
  QLabel* details_label2_ = nullptr;
  QLabel* details_complete_label1_ = nullptr;
  QProgressBar* file_prog_bar1_ = nullptr;
  QPlainTextEdit* memo1_ = nullptr;
  QMenu* popup_menu1_ = nullptr;
  QAction* add1_ = nullptr;
  QAction* remove1_ = nullptr;
  QAction* close2_ = nullptr;
  QAction* close3_ = nullptr;
};

}  // namespace remoteccm::gui
