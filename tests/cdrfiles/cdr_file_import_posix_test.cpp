// A CDR file whose name holds control characters, which POSIX file systems allow and Windows
// refuses: set aside as damaged, its name never reaching the log or the list as it is.
#include <gtest/gtest.h>

#include <string>

#include "cdr_file_import_fixture.h"

namespace remoteccm {
namespace {

TEST_F(CdrFileImportTest, ControlCharactersOfANameNeverReachTheLog) {
  Put(std::string("cdr_C_01_2026\n\x1b[2J_3"), Records(7, 7) + "1,\"PK-8\"\n");
  const CdrImportOutcome outcome = Import();
  ASSERT_EQ(outcome.rejected.size(), 1u);
  EXPECT_EQ(outcome.rejected.front().find_first_of("\n\x1b"), std::string::npos)
      << outcome.rejected.front();
  EXPECT_NE(log_.find("cdr_C_01_2026\\x0a\\x1b[2J_3 is damaged (line 4: a short line"),
            std::string::npos)
      << log_;
}

}  // namespace
}  // namespace remoteccm
