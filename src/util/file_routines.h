// Files deleted by name. Names are taken whole, however long.
#pragma once

#include <string>

namespace remoteccm {

// Result codes of the file routines.
inline constexpr int kFileOk = 0;
inline constexpr int kFileDeleteFailed = 8;

// Deletes the file when it exists and opens for reading: 0, else 8.
int DeleteFileByName(const std::string& name);

}  // namespace remoteccm
