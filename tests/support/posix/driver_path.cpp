#include "support/cdr_database.h"

namespace remoteccm::testing {

std::string DriverFilePath(const std::filesystem::path& file) { return file.string(); }

}  // namespace remoteccm::testing
