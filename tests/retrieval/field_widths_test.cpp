// A field list's widths are bytes, as its file says, but never cut a UTF-8 character in two:
// what would be split is left out and blanks take its place. Text that is no UTF-8 is cut as
// it always was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "retrieval/layout/field_list.h"
#include "retrieval/layout/line_layout.h"
#include "timezone/time_conversion.h"

namespace remoteccm {
namespace {

class OneValue : public ResultRow {
 public:
  explicit OneValue(std::string value) : value_(std::move(value)) {}
  std::string_view Text(std::size_t) const override { return value_; }

 private:
  std::string value_;
};

TEST(FieldWidthsTest, AWidthNeverSplitsACharacter) {
  const struct {
    const char* value;
    int width;
    const char* cell;
  } cases[] = {
      {"a\xc3\xa9\xe2\x82\xac"
       "b",
       4, "a\xc3\xa9 "},  // the euro sign would be split
      {"a\xc3\xa9\xe2\x82\xac"
       "b",
       6, "a\xc3\xa9\xe2\x82\xac"},
      {"\xc3\xa9", 1, " "},
      {"\xf0\x9f\x93\x9e"
       "x",
       3, "   "},                       // a four-byte character
      {"\xe9\xe9\xe9", 2, "\xe9\xe9"},  // Latin-1: bytes as before
      {"abc", 2, "ab"},
  };
  const TimeConverter converter{TimeZoneSettings{}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    FieldList raw;
    raw.layout = LineLayout::kRaw;
    raw.entries.push_back({"callingPartyUnicodeLoginUserID", c.width});
    const LineFormatter formatter(raw, {"callingPartyUnicodeLoginUserID"}, converter);
    std::string line;
    formatter.Format(OneValue(c.value), line);
    EXPECT_EQ(line.substr(0, static_cast<std::size_t>(c.width)), c.cell);
  }
}

}  // namespace
}  // namespace remoteccm
