// A CDR file its writer still holds open without sharing it (as a Windows SFTP or FTP server
// does while a push is under way): it is left for a later run, neither rejected nor half read,
// and imported once the writer lets it go.
#include <windows.h>

#include "cdrfiles/cdr_file_import_fixture.h"

namespace remoteccm {
namespace {

TEST_F(CdrFileImportTest, AFileItsWriterHoldsOpenIsLeftForALaterRun) {
  Put("cdr_C_01_202611010000_1", Records(1, 3));
  const HANDLE writer =
      ::CreateFileW((folder_ / "cdr_C_01_202611010000_1").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  const CdrImportOutcome held = Import();
  EXPECT_TRUE(held.usable);
  EXPECT_EQ(held.files, 0);
  EXPECT_EQ(held.incomplete, 1);
  EXPECT_TRUE(held.rejected.empty());
  ::CloseHandle(writer);
  EXPECT_EQ(Import().records, 3);
  EXPECT_EQ(Rows(), 3);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "cdr_C_01_202611010000_1"));
  EXPECT_TRUE(std::filesystem::exists(collected_ / "cdr_C_01_202611010000_1"));
}

}  // namespace
}  // namespace remoteccm
