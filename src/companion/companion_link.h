// The link to a companion call-accounting program that shows the collector's log live.
#pragma once

#include <string_view>

namespace remoteccm {

// Forwards log lines to a companion program (nothing when none listens).
class CompanionLink {
 public:
  virtual ~CompanionLink() = default;
  // The line followed by one line feed, sent as it is; never waits for the companion.
  virtual void Send(std::string_view text) = 0;
};

}  // namespace remoteccm
