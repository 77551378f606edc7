// The log memo's content between the engine's thread and the window: lines are added on any
// thread, the window takes what changed in one batch per repaint. The memo's rule lives here:
// a line that arrives while the memo holds more than 100 lines empties it first.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace remoteccm::gui {

inline constexpr int kMemoMaxLines = 100;

class LogBuffer {
 public:
  struct Changes {
    bool reset = false;              // the memo was emptied: show only `lines`
    std::vector<std::string> lines;  // memo lines added since the last Take
  };

  // The memo as it starts: one empty line.
  LogBuffer();

  // Empties the memo. Returns true when this is the first change since the last Take.
  bool Clear();
  // One log line (AddLogLine): the 100-line rule, then the line; CR LF inside makes several
  // memo lines. Returns true when this is the first change since the last Take.
  bool Add(std::string_view line);
  // A line put into the memo directly, without the 100-line rule.
  bool AddDirect(std::string_view line);
  // What changed since the last Take; the next change then reports true again.
  Changes Take();

  // The number of lines the memo holds.
  int LineCount() const;

 private:
  bool Append(std::string_view line);  // with mutex_ held

  mutable std::mutex mutex_;
  // The lines added since the last Take are lines_[0, used_): the strings are reused, so a
  // large pass allocates nothing per line.
  std::vector<std::string> lines_;
  std::size_t used_ = 0;
  bool reset_ = false;
  int line_count_ = 1;
  bool notified_ = false;
};

}  // namespace remoteccm::gui
