// FIFOs, which a test puts where a regular file is expected, where the file system has them.
#pragma once

#include <sys/stat.h>

#include <filesystem>

namespace remoteccm::testing {

// POSIX file systems have FIFOs: a reader of one waits for a writer.
inline constexpr bool kHasFifos = true;

// Makes a FIFO (mode 0600) at path; false when it cannot.
inline bool MakeFifo(const std::filesystem::path& path) {
  return ::mkfifo(path.c_str(), 0600) == 0;
}

}  // namespace remoteccm::testing
