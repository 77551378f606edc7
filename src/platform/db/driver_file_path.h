// The path of a database file as the ODBC driver that opens it sees it.
#pragma once

#include <filesystem>
#include <string>

namespace remoteccm {

// POSIX: the path itself. Windows: the path itself, except under Wine, whose odbc32 hands the
// calls to the host's unixODBC drivers: they need the host's Unix path.
std::string DriverFilePath(const std::filesystem::path& file);

}  // namespace remoteccm
