#include "companion/companion_link.h"

namespace remoteccm {

std::string FinishCompanionRun(CompanionLink* link) {
  if (link == nullptr) return "";
  const std::uint64_t missed = link->FinishRun(kCompanionFlushLimit);
  if (missed == 0) return "";
  return "The companion missed " + std::to_string(missed) + (missed == 1 ? " line" : " lines") +
         " of this run's log (it did not read in time).";
}

}  // namespace remoteccm
