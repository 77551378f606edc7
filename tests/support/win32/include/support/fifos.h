// FIFOs, which a test puts where a regular file is expected, where the file system has them.
// FIFO (its named pipes live outside it): the cases that need one skip, saying so.
#pragma once

#include <filesystem>

namespace remoteccm::testing {

inline constexpr bool kHasFifos = false;

inline bool MakeFifo(const std::filesystem::path&) { return false; }

}  // namespace remoteccm::testing
