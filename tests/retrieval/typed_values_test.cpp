// Integer columns read as numbers give the very bytes the text path gives: destination lines,
// backup lines and log, in every layout, with nulls, the extremes of each integer type and, on
// SQLite, columns declared INTEGER that hold text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "retrieval/engine_fixture.h"

namespace remoteccm::testing {
namespace {

class TypedValuesTest : public EngineTest {
 protected:
  struct Output {
    std::string destination;
    std::string backup;
    std::vector<std::string> log;
  };

  // One run from the same profile and an empty destination folder.
  Output RunOnce(bool integers_as_text) {
    const std::string profile = ReadFile(profile_path_);
    hooks_.integers_as_text = integers_as_text;
    EXPECT_EQ(Run(), RunStatus::kSuccess);
    Output out{ReadFile(destination_), ReadFile(dir_ / "out" / "CDR.BAK"), observer_.log};
    std::filesystem::remove_all(dir_ / "out");
    std::filesystem::create_directories(dir_ / "out");
    std::ofstream(profile_path_, std::ios::binary) << profile;
    return out;
  }
};

TEST_P(TypedValuesTest, EveryLayoutWritesTheBytesOfTheTextPath) {
  // SQLite has no TINYINT of its own but keeps the declared name; PostgreSQL has none at all.
  admin_.Execute("DROP TABLE " + table_);
  admin_.Execute("CREATE TABLE " + table_ +
                 " (pkid VARCHAR(36), cdrRecordType INTEGER, dateTimeOrigination INTEGER,"
                 " dateTimeDisconnect INTEGER, callingPartyNumber VARCHAR(50), duration SMALLINT,"
                 " origSpan BIGINT, origCause_value " +
                 (IsSqlite() ? "TINYINT" : "SMALLINT") + ", clientMatterCode VARCHAR(32))");
  std::vector<std::string> rows = {
      "'1', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL",
      "'2', -2147483648, -2147483648, -1, '-5', -32768, -9223372036854775808, 0, ''",
      "'3', 2147483647, 2147483647, 0, '4085551234', 32767, 9223372036854775807, 255, 'x'",
      "'4', 1, 1783001234, 1783001452, '2001', 212, -1, 7, 'ACME, Inc.'"};
  if (IsSqlite()) {
    // The column types are only names here: each of these keeps what it was given.
    rows.push_back("'5', 'abc', '12x', 3.7, '9', ' 5', '9223372036854775808', '', '-0'");
    rows.push_back("'6', 2.5e10, '', '0x10', '+7', '007', -0.0, 'NULL', 'z'");
  }
  for (const std::string& row : rows) {
    admin_.Execute("INSERT INTO " + table_ + " VALUES (" + row + ")");
  }
  {
    // PostgreSQL keeps its column types: integers are read as numbers there; never on SQLite.
    DbQuery query(admin_);
    query.AddLine("SELECT origSpan FROM " + table_ + " WHERE pkid = '3'");
    query.Open();
    if (IsSqlite()) {
      EXPECT_EQ(query.AsInteger(0), std::nullopt);
    } else {
      EXPECT_EQ(query.AsInteger(0), std::numeric_limits<std::int64_t>::max());
    }
    EXPECT_EQ(query.AsString(0), "9223372036854775807");
  }
  const std::string fields =
      "pkid=2\r\ncdrRecordType=12\r\ndateTimeOrigination=22\r\ndateTimeDisconnect=22\r\n"
      "callingPartyNumber=12\r\nduration=7\r\norigSpan=21\r\norigCause_value=4\r\n"
      "clientMatterCode=12\r\n";
  struct Case {
    const char* layout;
    const char* file;  // the field-list file, or nullptr for the default layout
    std::string text;
    const char* backup;
  };
  const Case cases[] = {
      {"default", nullptr, "", "Y"},
      {"formatted", "CCM_FIELDS.INF", "[CCM_FIELDS]\r\n" + fields, "Y"},
      {"formatted, no backup", "CCM_FIELDS.INF", "[CCM_FIELDS]\r\n" + fields, "N"},
      {"raw", "SQL_FIELDS.INF", "[SQL_FIELDS]\r\n" + fields, "Y"},
      {"comma", "CCM_FIELDS.INF", "[CCM_FIELDS]\r\nCSV=Y\r\n", "Y"}};
  Set("ConnectSQLMode", "All Records");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.layout);
    std::filesystem::remove(home_ / "CCM_FIELDS.INF");
    std::filesystem::remove(home_ / "SQL_FIELDS.INF");
    if (c.file != nullptr) WriteFieldFile(c.file, c.text);
    Set("SQLBackup", c.backup);
    const Output text = RunOnce(true);
    const Output typed = RunOnce(false);
    EXPECT_EQ(std::count(text.destination.begin(), text.destination.end(), '\n'),
              static_cast<long>(rows.size()));
    EXPECT_EQ(typed.destination, text.destination);
    EXPECT_EQ(typed.backup, text.backup);
    EXPECT_EQ(typed.log, text.log);
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, TypedValuesTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& driver) { return driver.param; });

}  // namespace
}  // namespace remoteccm::testing
