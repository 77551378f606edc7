#include "platform/db/driver_file_path.h"

namespace remoteccm {

std::string DriverFilePath(const std::filesystem::path& file) { return file.string(); }

}  // namespace remoteccm
