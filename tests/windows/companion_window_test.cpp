// The companion window on Windows: a window of this test, captioned as the companion's and with
// a "TransferBox1" child, receives the WM_CHAR messages remoteccm-cli.exe posts in another
// process while it runs a profile: every log line, each followed by one line feed.
#include <gtest/gtest.h>
#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/db/database.h"
#include "support/cdr_database.h"
#include "support/run_cli.h"
#include "support/scratch_dir.h"

namespace remoteccm {
namespace {

constexpr UINT kDone = WM_APP + 1;

// The characters the child received, appended on the window's own thread.
std::string g_received;

LRESULT CALLBACK BoxProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CHAR) {
    g_received += static_cast<char>(wparam & 0xff);
    return 0;
  }
  return ::DefWindowProcA(window, message, wparam, lparam);
}

// The companion's window on a thread of its own, which pumps its messages until kDone.
class CompanionWindow {
 public:
  CompanionWindow() {
    thread_ = std::thread([this] {
      const HINSTANCE instance = ::GetModuleHandleA(nullptr);
      WNDCLASSA frame{};
      frame.lpfnWndProc = ::DefWindowProcA;
      frame.hInstance = instance;
      frame.lpszClassName = "TestCompanionFrame";
      WNDCLASSA box{};
      box.lpfnWndProc = BoxProc;
      box.hInstance = instance;
      box.lpszClassName = "TestCompanionBox";
      ::RegisterClassA(&frame);
      ::RegisterClassA(&box);
      const HWND main =
          ::CreateWindowExA(0, "TestCompanionFrame", "Halvorix Call Accounting by Velmor",
                            WS_OVERLAPPED, 0, 0, 200, 100, nullptr, nullptr, instance, nullptr);
      // A first child that is not the box: the link must look for the box by its text.
      ::CreateWindowExA(0, "TestCompanionBox", "Other", WS_CHILD, 0, 0, 10, 10, main, nullptr,
                        instance, nullptr);
      ::CreateWindowExA(0, "TestCompanionBox", "TransferBox1", WS_CHILD, 0, 0, 10, 10, main,
                        nullptr, instance, nullptr);
      {
        std::lock_guard lock(mutex_);
        thread_id_ = ::GetCurrentThreadId();
        ready_ = main != nullptr;
        made_ = true;
      }
      made_cv_.notify_all();
      MSG message{};
      while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == kDone) break;
        ::DispatchMessageA(&message);
      }
      ::DestroyWindow(main);
    });
    std::unique_lock lock(mutex_);
    made_cv_.wait(lock, [this] { return made_; });
  }
  ~CompanionWindow() { Finish(); }

  bool Ready() const { return ready_; }
  // Posted after everything the run posted, so it is taken after all of it.
  void Finish() {
    if (!thread_.joinable()) return;
    ::PostThreadMessageA(thread_id_, kDone, 0, 0);
    thread_.join();
  }

 private:
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable made_cv_;
  bool made_ = false;
  bool ready_ = false;
  DWORD thread_id_ = 0;
};

TEST(CompanionWindowTest, ReceivesEveryLogLineOfARun) {
  testing::ScratchDir home;
  const std::string connection = testing::NewSqliteDatabase(home / "cdr.db");
  {
    DbConnection db;
    db.Connect(connection, "CDR", "", "");
    testing::CreateCdrTable(db);
    db.Execute(
        "INSERT INTO CallDetailRecord (pkid, dateTimeOrigination, dateTimeDisconnect, "
        "callingPartyNumber, originalCalledPartyNumber, duration) VALUES "
        "('1', 1793491200, 1793491260, '2001', '0044123456789', 60), "
        "('2', 1793491300, 1793491360, '2002', '0044123456780', 60)");
  }
  testing::WriteFile(home / "SITE.CCM",
                     "[Options]\r\nDestinationFile=" + (home / "CDR.TXT").string() +
                         "\r\nConnectSQLMode=All Records\r\nSQLConnectionString=" + connection +
                         "\r\nSQLTimeZoneOption=3\r\nPollAgain=N\r\nLogRecordLines=Y\r\n");

  CompanionWindow window;
  ASSERT_TRUE(window.Ready()) << "no window could be made (is there an X server?)";
  const testing::CliResult run = testing::RunCli(testing::HomeVariables(home), "SITE", false);
  window.Finish();
  ASSERT_EQ(run.status, 0) << run.out;
  // Standard output has each log line and a line feed, as the companion does.
  EXPECT_EQ(g_received, run.out);
  EXPECT_NE(g_received.find("Total Records Retrieved: 2\n"), std::string::npos) << g_received;
}

}  // namespace
}  // namespace remoteccm
