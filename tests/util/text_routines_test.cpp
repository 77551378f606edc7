#include "util/text_routines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "util/posix_file.h"

namespace remoteccm {
namespace {

TEST(TextRoutinesTest, ParseWholeKeepsDigitsAndMinusOfTheFirstTwentyCharacters) {
  EXPECT_EQ(ParseWhole("-"), 0);
  EXPECT_EQ(ParseWhole(""), 0);
  EXPECT_EQ(ParseWhole("12-3"), 0);
  EXPECT_EQ(ParseWhole("--3"), 0);
  EXPECT_EQ(ParseWhole("3 sec"), 3);
  EXPECT_EQ(ParseWhole("1,500"), 1500);
  EXPECT_EQ(ParseWhole("12.5"), 125);
  EXPECT_EQ(ParseWhole("+7"), 7);
  EXPECT_EQ(ParseWhole(" -42 "), -42);
  EXPECT_EQ(ParseWhole("99999999999999999999"), 0);
  EXPECT_EQ(ParseWhole("2147483647"), 2147483647);
  EXPECT_EQ(ParseWhole("-2147483648"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(ParseWhole("2147483648"), 0);
  // 25 characters: the last five digits lie beyond the window.
  EXPECT_EQ(ParseWhole("abcdefghijklmno1234567890"), 12345);
  EXPECT_EQ(ParseWhole(std::string("1\0002", 3)), 12);
}

TEST(TextRoutinesTest, ParseDecimalAlsoKeepsThePoint) {
  EXPECT_EQ(ParseDecimal("1.2.3"), 0);
  EXPECT_EQ(ParseDecimal("12.5"), 12.5);
  EXPECT_EQ(ParseDecimal("-0.25 s"), -0.25);
  EXPECT_EQ(ParseDecimal("1,700,000,000.75"), 1700000000.75);
  EXPECT_EQ(ParseDecimal("."), 0);
  EXPECT_EQ(ParseDecimal("-"), 0);
  EXPECT_EQ(ParseDecimal("5-"), 0);
  EXPECT_EQ(ParseDecimal(""), 0);
  EXPECT_EQ(ParseDecimal(std::string(20, '9')), 99999999999999999999.0);
}

TEST(TextRoutinesTest, FormatWholeRoundsAndNeverShowsAnExponent) {
  EXPECT_EQ(FormatWhole(3), "3");
  EXPECT_EQ(FormatWhole(-5), "-5");
  EXPECT_EQ(FormatWhole(2.5), "3");
  EXPECT_EQ(FormatWhole(-2.5), "-3");
  EXPECT_EQ(FormatWhole(-0.4), "0");
  EXPECT_EQ(FormatWhole(1700000000.4), "1700000000");
  EXPECT_EQ(FormatWhole(1e20), "100000000000000000000");
  EXPECT_EQ(FormatWhole(std::numeric_limits<double>::quiet_NaN()), "0");
  EXPECT_EQ(FormatWhole(-std::numeric_limits<double>::infinity()), "0");
  EXPECT_EQ(FormatWhole(-1.7976931348623157e308).size(), 310u);
  for (const std::int32_t n : {0, 1, -1, 86400, std::numeric_limits<std::int32_t>::max(),
                               std::numeric_limits<std::int32_t>::min()}) {
    EXPECT_EQ(ParseWhole(FormatWhole(n)), n);
  }
}

TEST(TextRoutinesTest, SmallTextHelpers) {
  EXPECT_EQ(RepeatChar('-', 3), "---");
  EXPECT_EQ(RepeatChar('-', -1), "");
  EXPECT_EQ(RepeatChar('-', 300).size(), kShortTextMax);
  EXPECT_EQ(StripChar("..a.b..", '.', 'L'), "a.b..");
  EXPECT_EQ(StripChar("..a.b..", '.', 'A'), "ab");
  EXPECT_EQ(StripChar("..a.b..", '.', 'T'), "..a.b");
  EXPECT_EQ(StripChar("..a.b..", '.', 'x'), "..a.b..");
  EXPECT_EQ(StripChar("....", '.', 'R'), "");
  EXPECT_EQ(StripChar(StripChar("My Site.1", '.', 'A'), ' ', 'A'), "MySite1");
  // The system's own separator ("\\" on Windows) where none ends the path already.
  const std::string separator(1, kFolderSeparators.front());
  EXPECT_EQ(AddTrailingBackslash(""), separator);
  EXPECT_EQ(AddTrailingBackslash("/opt/tolva"), "/opt/tolva" + separator);
  EXPECT_EQ(AddTrailingBackslash("/opt/tolva/"), "/opt/tolva/");
  EXPECT_EQ(MinFloat(1, 2), 1);
  EXPECT_EQ(MinFloat(2, 1), 1);
  EXPECT_EQ(MaxWhole(1, 2), 2);
  EXPECT_EQ(MaxWhole(2, 1), 2);
  EXPECT_EQ(Trim("\t a b \r\n"), "a b");
  EXPECT_EQ(UpperCase("abc\xe9z"), "ABC\xe9Z");
  EXPECT_TRUE(SameText("Options", "OPTIONS"));
  EXPECT_FALSE(SameText("Option", "OPTIONS"));
  EXPECT_FALSE(SameText("\xe9", "\xc9"));
}

// A name shown in the log or by --status: nothing in it can break the line, steer a terminal or
// make the line unreadable as UTF-8; what is well formed and printable stays as it is.
TEST(TextRoutinesTest, EscapedForLogLeavesOnlyPrintableUtf8) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"CDR \xc3\xa9t\xc3\xa9 \xe2\x82\xac", "CDR \xc3\xa9t\xc3\xa9 \xe2\x82\xac"},
      {"a\nb\x1b[2J\x7f\\", "a\\x0ab\\x1b[2J\\x7f\\\\"},
      {"Latin-1 \xe9t\xe9", "Latin-1 \\xe9t\\xe9"},  // not UTF-8
      {"cut \xe2\x82", "cut \\xe2\\x82"},            // a sequence cut short
      {"overlong \xc0\xaf", "overlong \\xc0\\xaf"},  // "/" in two bytes
      {"csi \xc2\x9b"
       "2J",
       "csi \\xc2\\x9b2J"},  // the C1 control CSI
      {"nbsp \xc2\xa0", "nbsp \xc2\xa0"},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(EscapedForLog(text), shown) << shown;
}

}  // namespace
}  // namespace remoteccm
