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
    observer.PassStarted();
    for (int i = 1; i <= 2000; ++i) {
      now_ += milliseconds(1);
      observer.LogLine("a record line");
      observer.RecordsRead(i);
      observer.Pump();
    }
    mid_run_ = observer.ProgressText();
    observer.SetProgress(50);
    observer.SetStatus2("Retrieving: 2026/11/02 00:00 to 2026/11/02 23:59");
    observer.PassStarted();
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
  observer.PassStarted();
  observer.LogLine("first");
  const std::string err = err_.Text();
  // The status, then the pass beside it, each cut to 29 columns, then erased before the log
  // line was written.
  EXPECT_EQ(err,
            "\r\033[KRetrieving: 2026/11/01 00:00 \r\033[K0 records  pass 1  Retrieving\r\033[K");
  EXPECT_EQ(out_.Text(), "first\n");
}

// For the journal each line carries its priority (a line of several lines on each of them);
// a least priority leaves the less important lines out, and a profile that wants no record
// lines gets none, whatever the level.
TEST_F(CliObserverTest, PrioritiesPrefixAndFilterTheLog) {
  struct Case {
    bool prefixes;
    LogPriority least;
    bool records_wanted;
    const char* expected;
  };
  const Case cases[] = {
      {false, LogPriority::kRecord, true, "Link\nCDR 2001\nConnect Fail\n\r\nInfo:\n"},
      {true, LogPriority::kRecord, true,
       "<6>Link\n<7>CDR 2001\n<3>Connect Fail\n<4>\r\n<4>Info:\n"},
      {true, LogPriority::kRecord, false, "<6>Link\n<3>Connect Fail\n<4>\r\n<4>Info:\n"},
      {true, LogPriority::kWarning, true, "<3>Connect Fail\n<4>\r\n<4>Info:\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    MemoryFile out;
    CliObserver::Output output = Output(false, false, 80);
    output.out = out.file();
    output.priority_prefixes = c.prefixes;
    output.least_priority = c.least;
    CliObserver observer(output);
    observer.set_record_lines_wanted([&c] { return c.records_wanted; });
    observer.LogLine("Link");
    observer.LogLineAt(LogPriority::kRecord, "CDR 2001");
    observer.LogLineAt(LogPriority::kError, "Connect Fail");
    observer.LogLineAt(LogPriority::kWarning, "\r\nInfo:");
    EXPECT_EQ(out.Text(), c.expected);
  }
}

TEST(LogPriorityTest, NamesAndNumbersOfSyslog) {
  EXPECT_EQ(ParseLogPriority("err"), LogPriority::kError);
  EXPECT_EQ(ParseLogPriority("0"), LogPriority::kError);
  EXPECT_EQ(ParseLogPriority("notice"), LogPriority::kWarning);
  EXPECT_EQ(ParseLogPriority("6"), LogPriority::kInfo);
  EXPECT_EQ(ParseLogPriority("debug"), LogPriority::kRecord);
  EXPECT_EQ(ParseLogPriority("8"), std::nullopt);
  EXPECT_EQ(ParseLogPriority("verbose"), std::nullopt);
}

}  // namespace
}  // namespace remoteccm
