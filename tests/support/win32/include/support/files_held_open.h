// Whether a file that another process holds open for writing can be renamed meanwhile: not on
// Windows when the writer does not share deletion (std::ofstream does not).
#pragma once

namespace remoteccm::testing {

inline constexpr bool kRenamesFilesHeldOpen = false;

}  // namespace remoteccm::testing
