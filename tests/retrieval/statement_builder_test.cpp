// The statements of each retrieval mode and the status texts that go with them.
#include "retrieval/run/statement_builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "retrieval/layout/field_list.h"
#include "retrieval/layout/line_layout.h"
#include "support/scratch_dir.h"

namespace remoteccm {
namespace {

constexpr double kDay = 86400;
constexpr double kNov2 = 1793577600;  // 2026-11-02 00:00 UTC

class StatementTest : public ::testing::Test {
 protected:
  StatementTest() : converter_(Utc()) {
    settings_.sql_table_name = "CallDetailRecord";
    settings_.sql_date_time_fld_name = "dateTimeDisconnect";
  }
  static TimeZoneSettings Utc() {
    TimeZoneSettings zone;
    zone.option = TimeZoneOption::kManual;
    return zone;
  }
  Statement Build(StatementKind kind) { return BuildStatement(kind, settings_, pass_, converter_); }

  ProfileSettings settings_;
  PassValues pass_;
  TimeConverter converter_;
};

TEST_F(StatementTest, NewRecordsOnlyWindowEndsAtTheIncrementOrAMinuteBeforeNow) {
  settings_.connect_sql_mode = RetrievalMode::kNewRecordsOnly;
  settings_.new_rec_incr_value = 1;
  settings_.new_rec_incr_mode = IncrementMode::kDays;
  pass_.start_value = kNov2;
  pass_.now = kNov2 + 3 * kDay;
  Statement s = Build(StatementKind::kSelection);
  ASSERT_EQ(s.lines.size(), 2u);
  EXPECT_EQ(s.lines[0], "SELECT * FROM CallDetailRecord");
  EXPECT_EQ(s.lines[1],
            "WHERE (dateTimeDisconnect >= 1793577600) and (dateTimeDisconnect < 1793664000)");
  EXPECT_EQ(s.label2, "Retrieving: 2026/11/02 00:00 to 2026/11/02 23:59");
  EXPECT_EQ(s.increment, kDay);

  // Started two hours ago: the window is cut at one minute before now.
  pass_.now = kNov2 + 7200;
  s = Build(StatementKind::kDeletion);
  EXPECT_EQ(s.lines[0], "DELETE FROM CallDetailRecord");
  EXPECT_EQ(s.window_end, kNov2 + 7200 - 60);
  EXPECT_EQ(s.label2, "Deleting: 2026/11/02 00:00 to 2026/11/02 01:58");

  // A start later than now - 60 gives an empty window, end below start.
  pass_.start_value = pass_.now;
  s = Build(StatementKind::kSelection);
  EXPECT_LT(s.window_end, pass_.start_value);
}

TEST_F(StatementTest, ByDateWindowStopsAtTheRangeEnd) {
  settings_.connect_sql_mode = RetrievalMode::kByDate;
  settings_.date_range_incr_value = 5;
  settings_.date_range_incr_mode = IncrementMode::kHours;
  pass_.range_start = kNov2 + 22 * 3600;
  pass_.range_end = kNov2 + kDay;
  const Statement s = Build(StatementKind::kSelection);
  EXPECT_EQ(s.window_end, kNov2 + kDay);
  EXPECT_EQ(s.increment, 5 * 3600);
  EXPECT_EQ(IncrementSeconds(3, IncrementMode::kMinutes), 180);
}

TEST_F(StatementTest, AllRecordsAndNoRecords) {
  settings_.connect_sql_mode = RetrievalMode::kAllRecords;
  Statement s = Build(StatementKind::kDeletion);
  EXPECT_EQ(s.lines, std::vector<std::string>{"DELETE FROM CallDetailRecord"});
  EXPECT_EQ(s.label1, "Deleting Records..Please Wait...");
  settings_.connect_sql_mode = RetrievalMode::kNoRecords;
  s = Build(StatementKind::kSelection);
  EXPECT_TRUE(s.lines.empty());
  EXPECT_EQ(s.log_lines, std::vector<std::string>{"No Records Collected/Deleted"});
}

TEST_F(StatementTest, CustomStatementsSkipBlankLinesAndKeepIndentation) {
  settings_.connect_sql_mode = RetrievalMode::kBySqlQuery;
  settings_.connect_sql = {"SELECT *", "   ", "  FROM CallDetailRecord", ""};
  Statement s = Build(StatementKind::kSelection);
  EXPECT_EQ(s.lines, (std::vector<std::string>{"SELECT *", "  FROM CallDetailRecord"}));
  EXPECT_EQ(s.log_lines, std::vector<std::string>{"Using Custom connect SQL strings"});
  // Selection lines but no deletion lines: the deletion is empty.
  s = Build(StatementKind::kDeletion);
  EXPECT_TRUE(s.lines.empty());
  EXPECT_EQ(s.label2, "Deleting Records. Please Wait...");
  // No selection lines: nothing at all, nothing logged.
  settings_.connect_sql.clear();
  settings_.disconnect_sql = {"DELETE FROM CallDetailRecord"};
  s = Build(StatementKind::kDeletion);
  EXPECT_TRUE(s.lines.empty());
  EXPECT_TRUE(s.log_lines.empty());
}

TEST(FieldListTest, FilesAreTriedInOrderAndUnusableEntriesDropped) {
  const testing::ScratchDir home;
  EXPECT_EQ(ReadFieldList(home).layout, LineLayout::kDefault);

  std::ofstream(home / "SQL_FIELDS.INF") << "[SQL_FIELDS]\r\nduration=8\r\n";
  // Only unusable widths: the file counts as empty and the next one applies.
  std::ofstream(home / "CCM_FIELDS.INF") << "[CCM_FIELDS]\r\npkid=0\r\nduration=-3\r\n";
  FieldList list = ReadFieldList(home);
  EXPECT_EQ(list.layout, LineLayout::kRaw);
  EXPECT_EQ(list.source_log_line, "Using configured SQL_FIELDS");

  std::ofstream(home / "CCM_FLDS.INI") << "[CCM_FIELDS]\r\npkid=300\r\n duration =8\r\n";
  list = ReadFieldList(home);
  EXPECT_EQ(list.layout, LineLayout::kFormatted);
  ASSERT_EQ(list.entries.size(), 2u);
  EXPECT_EQ(list.entries[0].width, 255);
  EXPECT_TRUE(list.width_capped);
  EXPECT_EQ(list.entries[1].name, "duration");

  std::ofstream(home / "CCM_FIELDS.INF") << "[CCM_FIELDS]\r\nCSV=y\r\n";
  EXPECT_EQ(ReadFieldList(home).layout, LineLayout::kComma);
}

// Every line of the section is an entry: a column named twice gives two cells, in file order.
TEST(FieldListTest, AColumnNamedTwiceGivesTwoEntries) {
  const testing::ScratchDir home;
  std::ofstream(home / "CCM_FIELDS.INF", std::ios::binary)
      << "[CCM_FIELDS]\r\nduration=4\r\ncallingPartyNumber=6\r\nDURATION=2\r\n"
         "callingPartyNumber=0\r\nduration=3\r\n";
  const FieldList list = ReadFieldList(home);

  const std::vector<std::pair<std::string, int>> expected = {
      {"duration", 4}, {"callingPartyNumber", 6}, {"DURATION", 2}, {"duration", 3}};
  ASSERT_EQ(list.entries.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(list.entries[i].name, expected[i].first) << i;
    EXPECT_EQ(list.entries[i].width, expected[i].second) << i;
  }
  class Row : public ResultRow {
   public:
    std::string_view Text(std::size_t column) const override { return column == 0 ? "2001" : "95"; }
  };
  const TimeConverter converter{TimeZoneSettings{}};
  std::string line;
  LineFormatter(list, {"callingPartyNumber", "duration"}, converter).Format(Row(), line);
  EXPECT_EQ(line, "  95   2001 95  95 ");
}

}  // namespace
}  // namespace remoteccm
