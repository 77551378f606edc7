// Whether a file that another process holds open for writing can be renamed meanwhile.
#pragma once

namespace remoteccm::testing {

inline constexpr bool kRenamesFilesHeldOpen = true;

}  // namespace remoteccm::testing
