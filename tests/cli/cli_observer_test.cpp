// The progress line of remoteccm-cli: what it says, how often it is drawn, that it is cleared,
// and that nothing of it reaches a standard error that is not a terminal.
#include "cli/cli_observer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace remoteccm {
namespace {

using std::chrono::milliseconds;

// A FILE* whose bytes the test reads afterwards.
class MemoryFile {
 public:
  MemoryFile() : file_(::open_memstream(&buffer_, &size_)) {}
  ~MemoryFile() {
    if (file_ != nullptr) std::fclose(file_);
    std::free(buffer_);
  }
  std::FILE* file() const { return file_; }
  std::string Text() {
    std::fflush(file_);
    return std::string(buffer_, size_);
  }

 private:
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

class CliObserverTest : public ::testing::Test {
 protected:
  CliObserver::Output Output(bool err_is_terminal, bool out_is_terminal, int width) {
    return {.out = out_.file(),
            .err = err_.file(),
            .err_is_terminal = err_is_terminal,
            .out_is_terminal = out_is_terminal,
            .width = width,
            .now = [this] { return now_; }};
  }

  // A run of two passes: 2000 records one millisecond apart, then 5 more.
  void Run(CliObserver& observer) {
    observer.SetRunning(true);
    observer.SetStatus1("Selected: 2026/11/01 00:00 to 2026/11/02 23:59");
    observer.ShowProgress(true);
    observer.SetStatus2("Retrieving: 2026/11/01 00:00 to 2026/11/01 23:59");
    for (int i = 1; i <= 2000; ++i) {
      now_ += milliseconds(1);
      observer.LogLine("a record line");
      observer.RecordsRead(i);
      observer.Pump();
    }
    mid_run_ = observer.ProgressText();
    observer.SetProgress(50);
    observer.SetStatus2("Retrieving: 2026/11/02 00:00 to 2026/11/02 23:59");
    now_ += milliseconds(500);
    for (int i = 1; i <= 5; ++i) observer.RecordsRead(i);
    end_of_run_ = observer.ProgressText();
    observer.SetRunning(false);
  }

  MemoryFile out_;
  MemoryFile err_;
  CliObserver::Clock::time_point now_{};
  std::string mid_run_;
  std::string end_of_run_;
};

TEST_F(CliObserverTest, TerminalGetsATenPerSecondLineClearedAtTheEnd) {
  CliObserver observer(Output(true, false, 200));
  Run(observer);

  EXPECT_EQ(mid_run_,
            "2000 records  1000/s  0%  pass 1  Retrieving: 2026/11/01 00:00 to 2026/11/01 23:59");
  EXPECT_EQ(end_of_run_,
            "2005 records  10/s  50%  pass 2  Retrieving: 2026/11/02 00:00 to 2026/11/02 23:59");
  const std::string err = err_.Text();
  // 2.5 seconds of events: the first draw, then at most one per 100 ms.
  const int draws = Count(err, "\r\033[K") - 1;
  EXPECT_GE(draws, 20);
  EXPECT_LE(draws, 26);
  EXPECT_TRUE(err.ends_with("\r\033[K")) << "the line is cleared at the end";
  EXPECT_EQ(Count(out_.Text(), "a record line\n"), 2000);
}

TEST_F(CliObserverTest, NoTerminalNoProgressLine) {
  {
    CliObserver observer(Output(false, false, 200));
    Run(observer);
    observer.ShowConnectionError("refused");
  }
  EXPECT_EQ(err_.Text(), "remoteccm-cli: refused\n");
  EXPECT_EQ(Count(out_.Text(), "a record line\n"), 2000);
}

TEST_F(CliObserverTest, SharedScreenLogLinesReplaceTheLineWhichNeverWraps) {
  CliObserver observer(Output(true, true, 30));
  observer.SetStatus2("Retrieving: 2026/11/01 00:00 to 2026/11/01 23:59");
  observer.LogLine("first");
  const std::string err = err_.Text();
  // Drawn, cut to 29 columns, then erased before the log line was written.
  EXPECT_EQ(err, "\r\033[K0 records  pass 1  Retrieving\r\033[K");
  EXPECT_EQ(out_.Text(), "first\n");
}

}  // namespace
}  // namespace remoteccm
