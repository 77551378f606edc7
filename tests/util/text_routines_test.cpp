#include "util/text_routines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

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

// A name from another account's folder cannot break a line, move a cursor or make the log
// invalid UTF-8: valid characters stay, a stray or cut sequence is escaped byte by byte.
TEST(TextRoutinesTest, EscapedForLogKeepsOnlyValidText) {
  EXPECT_EQ(EscapedForLog("a\\b\n\x1b[2J\xc3\xa9\xff\xe2\x82"),
            "a\\\\b\\x0a\\x1b[2J\xc3\xa9\\xff\\xe2\\x82");
  EXPECT_EQ(EscapedForLog("\xed\xa0\x80"), "\\xed\\xa0\\x80");  // a surrogate is no character
}

}  // namespace
}  // namespace remoteccm
