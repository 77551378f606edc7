// Comma lines and backup lines: a value holding a comma, a double quote, CR or LF stays one
// value; every other value is written exactly as it always was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cdr_generator.h"
#include "platform/db/cdr_schema.h"
#include "retrieval/layout/field_list.h"
#include "retrieval/layout/line_layout.h"
#include "timezone/time_conversion.h"

namespace remoteccm {
namespace {

class Values : public ResultRow {
 public:
  explicit Values(std::vector<std::string> values) : values_(std::move(values)) {}
  std::string_view Text(std::size_t column) const override { return values_[column]; }
  std::size_t size() const { return values_.size(); }

 private:
  std::vector<std::string> values_;
};

// The line as it was written before any value was quoted: each value followed by ",".
std::string UnquotedLine(const std::vector<std::string>& values) {
  std::string line;
  for (const std::string& value : values) line += value + ",";
  return line;
}

TEST(CommaValuesTest, ValuesThatWouldSplitTheLineAreQuoted) {
  struct Case {
    std::string value;
    std::string cell;  // as written, with its ","
  };
  const Case cases[] = {
      {"a,b", "\"a,b\","},
      {"say \"hi\"", "\"say \"\"hi\"\"\","},
      {"\"", "\"\"\"\","},
      {"x\ry", "\"x\ry\","},
      {"x\ny", "\"x\ny\","},
      {"1,\"2\"\r\n3", "\"1,\"\"2\"\"\r\n3\","},
      {"", ","},
      {" 4085 ", " 4085 ,"},
      {"'single';tab\there", "'single';tab\there,"},
      // 255 blanks and a comma: with the separators, 256 + 3 bytes below "-".
      {std::string(255, ' ') + ",", "\"" + std::string(255, ' ') + ",\","},
      {std::string(300, ' '), std::string(300, ' ') + ","},
      {std::string(5000, '9') + "\n", "\"" + std::string(5000, '9') + "\n\","},
  };
  const TimeConverter converter{TimeZoneSettings{}};
  FieldList comma;
  comma.layout = LineLayout::kComma;
  const std::vector<std::string> columns = {"pkid", "clientMatterCode", "duration"};
  const LineFormatter formatter(comma, columns, converter);
  for (const Case& c : cases) {
    const Values row({"k-1", c.value, "60"});
    const std::string expected = "k-1," + c.cell + "60,";
    std::string line;
    FormatBackupLine(row, row.size(), line);
    EXPECT_EQ(line, expected) << c.value;
    formatter.Format(row, line);
    EXPECT_EQ(line, expected) << c.value;
    EXPECT_EQ(BackupHeaderLine({"pkid", c.value}), "pkid," + c.cell) << c.value;
  }
}

// Files of ordinary records stay byte for byte what they were: realistic generated records,
// and one value holding every byte but the four that need quotes.
TEST(CommaValuesTest, OrdinaryRecordsAreWrittenAsBefore) {
  std::vector<std::vector<std::string>> rows;
  CdrGeneratorOptions options;
  options.first_second = 1793491200;
  options.rows = 3000;
  options.seed = 11;
  GenerateCdrs(options, [&](const CdrRow& generated) {
    std::vector<std::string> values;
    for (std::size_t i = 0; i < generated.size(); ++i) {
      const CdrValue& value = generated[i];
      if (value.null) {
        values.emplace_back();
      } else if (CdrColumns()[i].kind == CdrColumnKind::kInteger) {
        values.push_back(std::to_string(value.number));
      } else {
        values.push_back(value.text);
      }
    }
    rows.push_back(std::move(values));
  });
  std::string every_byte;
  for (int b = 0; b < 256; ++b) {
    if (b != ',' && b != '"' && b != '\r' && b != '\n') every_byte.push_back(static_cast<char>(b));
  }
  rows.push_back({"", every_byte, " "});

  std::string line;
  for (const std::vector<std::string>& values : rows) {
    FormatBackupLine(Values(values), values.size(), line);
    ASSERT_EQ(line, UnquotedLine(values));
  }
  std::vector<std::string> names;
  for (const CdrColumn& column : CdrColumns()) names.emplace_back(column.name);
  EXPECT_EQ(BackupHeaderLine(names), UnquotedLine(names));
}

}  // namespace
}  // namespace remoteccm
