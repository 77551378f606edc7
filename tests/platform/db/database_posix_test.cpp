// A SQLite database file that permissions keep a user from writing, which binds a user other
// than the superuser on POSIX (the SQLite ODBC driver under Wine runs as the host's user).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/db/database.h"
#include "platform/db/db_error.h"
#include "support/scratch_dir.h"
#include "support/unprivileged.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

TEST(SqliteFileTest, AFileThatMayNotBeWrittenIsSaidSo) {
  const testing::ScratchDir scratch;
  const std::string locked = (scratch / "locked.db").string();
  std::ofstream(locked).close();
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(scratch, fs::perms::others_exec, fs::perm_options::add);
  // As a user whom the file's permissions bind.
  testing::AsUnprivilegedUser([&] {
    DbConnection attempt;
    try {
      attempt.Connect("Driver=SQLite3;Database=" + locked, "", "", "");
      ADD_FAILURE() << "connected";
    } catch (const DbError& error) {
      EXPECT_EQ(std::string(error.what()),
                "Cannot connect to the database: the database file " + locked +
                    " cannot be opened for reading and writing: Permission denied ([HY000] "
                    "[SQLite]connect failed (native 14))");
    }
  });
}

}  // namespace
}  // namespace remoteccm
