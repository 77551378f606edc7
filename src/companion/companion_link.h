// The link to a companion call-accounting program that shows the collector's log live.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace remoteccm {

// How long the end of a run waits for the companion to take the lines still waiting for it.
inline constexpr std::chrono::milliseconds kCompanionFlushLimit{2000};

// Forwards log lines to a companion program (nothing when none listens).
class CompanionLink {
 public:
  virtual ~CompanionLink() = default;
  // The line followed by one line feed, sent as it is; never waits for the companion. Safe
  // from any thread.
  virtual void Send(std::string_view text) = 0;
  // The end of a run: waits at most `limit` for the lines sent so far to reach the companion,
  // then returns how many lines since the last FinishRun it will never get (0: it got them all).
  virtual std::uint64_t FinishRun(std::chrono::milliseconds limit) = 0;
};

// The companion as the program finds it at start-up (POSIX: its socket; Win32: its window):
// the link, or null when there is none or it may not be used; problem (when given) then says
// why, in a line for the log.
std::unique_ptr<CompanionLink> FindCompanionLink(std::string* problem = nullptr);

// The end of a run on link (null: no companion): waits for the companion as FinishRun does and
// returns the log line that says how many lines it missed, or "" when it missed none.
std::string FinishCompanionRun(CompanionLink* link);

}  // namespace remoteccm
