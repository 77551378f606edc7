#include "platform/db/driver_words.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/db/connection_builder.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

// SQLITE_CANTOPEN: the driver could not open the database file.
constexpr long kSqliteCantOpen = 14;

// What is wrong with the database file at path, or "" when nothing can be seen.
std::string DatabaseFileProblem(const std::string& path) {
  if (path.empty()) return "the connection string names no database file (Database=)";
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path file(path);
  const fs::path folder = FolderOf(file);
  if (!fs::exists(folder, ec)) {
    return "the folder " + folder.string() + " of the database file " + path + " does not exist";
  }
  const fs::file_status status = fs::status(file, ec);
  if (!fs::exists(status)) return "the database file " + path + " does not exist";
  if (fs::is_directory(status)) return path + " is a folder, not a database file";
  int error = 0;
  if (!TryOpenFile(file, O_RDWR | kOpenWithoutWaiting, error).IsOpen()) {
    return "the database file " + path +
           " cannot be opened for reading and writing: " + std::strerror(error);
  }
  return "";
}

}  // namespace

DbError ExplainConnectError(const OdbcConnectionRequest& request, const DbError& error) {
  if (error.NativeCode() != kSqliteCantOpen ||
      KindOfDriver(request.driver) != DriverKind::kSqlite) {
    return error;
  }
  std::string path;
  try {
    const ConnectionAttributes attributes = ParseConnectionString(request.connection_string);
    if (const std::string* database = FindAttribute(attributes, "Database")) path = *database;
  } catch (const DbError&) {
    return error;  // the string was read once already; whatever it is, the driver's text stays
  }
  const std::string problem = DatabaseFileProblem(path);
  if (problem.empty()) return error;
  std::string message = error.what();
  const std::string context = "Cannot connect to the database: ";
  const std::string driver_text =
      message.rfind(context, 0) == 0 ? message.substr(context.size()) : message;
  return DbError(context + problem + " (" + driver_text + ")", error.SqlState(),
                 error.NativeCode());
}

}  // namespace remoteccm
