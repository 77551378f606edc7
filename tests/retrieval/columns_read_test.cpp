// The columns a line layout reads: a pass reads no other column of its rows, so a column left
// out here would come out blank in every line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "retrieval/layout/field_list.h"
#include "retrieval/layout/line_layout.h"
#include "timezone/time_conversion.h"

namespace remoteccm {
namespace {

using ::testing::ElementsAre;

class ColumnsReadTest : public ::testing::Test {
 protected:
  std::vector<int> Read(const FieldList& fields, const std::vector<std::string>& columns) {
    return LineFormatter(fields, columns, converter_).ColumnsRead();
  }

  TimeConverter converter_{TimeZoneSettings{}};
};

TEST_F(ColumnsReadTest, EachLayoutReadsWhatItShowsOnce) {
  const std::vector<std::string> result = {
      "pkid",     "DURATION",      "dateTimeOrigination",       "comment",   "callingPartyNumber",
      "origSpan", "cdrRecordType", "originalCalledPartyNumber", "durationMs"};
  // Default layout: the five fixed columns where the result has them.
  EXPECT_THAT(Read(FieldList{}, result), ElementsAre(1, 2, 4, 6, 7));
  EXPECT_THAT(Read(FieldList{}, {"pkid", "comment"}), ElementsAre());

  // Formatted: named columns; a present DURATION... column shows "duration" instead; missing
  // ones are blank.
  FieldList formatted;
  formatted.layout = LineLayout::kFormatted;
  formatted.entries = {{"durationMs", 8},           {"callingpartynumber", 20},
                       {"noSuchColumn", 5},         {"durationSeconds", 6},
                       {"dateTimeOrigination", 22}, {"callingPartyNumber", 20}};
  EXPECT_THAT(Read(formatted, result), ElementsAre(1, 2, 4));

  // Raw: the entries as named.
  FieldList raw = formatted;
  raw.layout = LineLayout::kRaw;
  EXPECT_THAT(Read(raw, result), ElementsAre(2, 4, 8));

  // Comma: every column.
  FieldList comma;
  comma.layout = LineLayout::kComma;
  EXPECT_THAT(Read(comma, {"a", "b", "c"}), ElementsAre(0, 1, 2));
}

// The line of a row whose unread columns hold nothing is the line of the full row.
TEST_F(ColumnsReadTest, LinesNeedNoOtherColumn) {
  class Row : public ResultRow {
   public:
    Row(std::vector<std::string> values, std::vector<int> kept)
        : values_(std::move(values)), kept_(std::move(kept)) {}
    std::string_view Text(std::size_t column) const override {
      if (kept_.empty()) return values_[column];
      for (const int k : kept_) {
        if (static_cast<std::size_t>(k) == column) return values_[column];
      }
      return "never shown";
    }

   private:
    std::vector<std::string> values_;
    std::vector<int> kept_;
  };
  const std::vector<std::string> columns = {"pkid",     "dateTimeOrigination", "callingPartyNumber",
                                            "duration", "cdrRecordType",       "clientMatterCode"};
  const std::vector<std::string> values = {"k-1", "1783001234", "4085551234", "212", "1", "77"};
  FieldList formatted;
  formatted.layout = LineLayout::kFormatted;
  formatted.entries = {{"cdrRecordType", 1},
                       {"dateTimeOrigination", 22},
                       {"callingPartyNumber", 22},
                       {"duration", 8},
                       {"clientMatterCode", 16}};
  // A comma line is the backup line: a pass with a backup writes the one line to both files.
  FieldList comma = formatted;
  comma.layout = LineLayout::kComma;
  const LineFormatter comma_formatter(comma, columns, converter_);
  ASSERT_TRUE(comma_formatter.IsCommaLayout());
  EXPECT_FALSE(LineFormatter(formatted, columns, converter_).IsCommaLayout());
  std::string comma_line;
  std::string backup_line;
  comma_formatter.Format(Row(values, {}), comma_line);
  FormatBackupLine(Row(values, {}), columns.size(), backup_line);
  EXPECT_EQ(comma_line, backup_line);
  EXPECT_EQ(comma_line, "k-1,1783001234,4085551234,212,1,77,");

  for (const FieldList& fields : {FieldList{}, formatted}) {
    const LineFormatter formatter(fields, columns, converter_);
    std::string full;
    std::string narrowed;
    formatter.Format(Row(values, {}), full);
    formatter.Format(Row(values, formatter.ColumnsRead()), narrowed);
    EXPECT_EQ(narrowed, full);
    EXPECT_EQ(full.find("never"), std::string::npos);
  }
}

}  // namespace
}  // namespace remoteccm
