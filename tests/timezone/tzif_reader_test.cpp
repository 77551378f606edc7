// Zone files from disk: the real ones of the installed tzdata, and every way a file can be cut
// short or lie about its counts.
#include "timezone/tzif_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/scratch_dir.h"
#include "timezone/zone_list.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

void Put32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (24 - 8 * i));
}

// A minimal version 2 file: empty data blocks and the given footer.
std::string MakeTzif(const std::string& footer, char version = '2') {
  std::string header(44, '\0');
  header.replace(0, 4, "TZif");
  header[4] = version;
  Put32(header, 36, 1);  // one local time type
  Put32(header, 40, 4);  // four abbreviation characters
  // The version-2 data block repeats the version-1 block: no transitions, one type.
  const std::string block = header + std::string(6, '\0') + "UTC" + std::string(1, '\0');
  return block + block + "\n" + footer + "\n";
}

class ScratchDir : public ::testing::Test {
 protected:
  fs::path Write(const std::string& name, const std::string& bytes) {
    testing::WriteFile(dir_ / name, bytes);
    return dir_ / name;
  }
  testing::ScratchDir dir_;
};

TEST(TzifFooter, RealFilesOfTheInstalledTzdata) {
  const fs::path dir = DefaultZoneinfoDir();
  std::string error;
  EXPECT_EQ(TzifFooter(testing::ReadFile(dir / "America/New_York"), &error),
            "EST5EDT,M3.2.0,M11.1.0");
  EXPECT_EQ(TzifFooter(testing::ReadFile(dir / "Asia/Kolkata"), &error), "IST-5:30");
  const auto sydney = ReadZoneFile(dir / "Australia/Sydney", &error);
  ASSERT_TRUE(sydney.has_value()) << error;
  EXPECT_EQ(sydney->rule.bias, -600);
  EXPECT_EQ(sydney->rule.daylight_date.month, 10);
}

TEST(TzifFooter, TableComparedWithTheRule) {
  const fs::path dir = DefaultZoneinfoDir();
  const std::string new_york = testing::ReadFile(dir / "America/New_York");
  const auto new_york_rule = ParsePosixTz("EST5EDT,M3.2.0,M11.1.0");
  ASSERT_TRUE(new_york_rule.has_value());
  EXPECT_TRUE(TzifTableAgreesWithRule(new_york, new_york_rule->rule, 1577836800));  // 2020
  EXPECT_FALSE(TzifTableAgreesWithRule(new_york, new_york_rule->rule, 0));  // before 2007's rule
  const auto europe = ParsePosixTz("EST5EDT,M3.5.0,M10.5.0");
  EXPECT_FALSE(TzifTableAgreesWithRule(new_york, europe->rule, 1577836800));
  // Morocco: "<+01>-1" in the footer, one hour less around Ramadan in the table.
  const std::string casablanca = testing::ReadFile(dir / "Africa/Casablanca");
  const auto plus_one = ParsePosixTz("<+01>-1");
  EXPECT_FALSE(TzifTableAgreesWithRule(casablanca, plus_one->rule, 1767225600));
  const auto read = ReadZoneFile(dir / "Africa/Casablanca", nullptr);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->rule, plus_one->rule);
  EXPECT_TRUE(read->approximated);
  EXPECT_FALSE(TzifTableAgreesWithRule("not a zone file", plus_one->rule, 0));
}

TEST(TzifFooter, EveryTruncationIsRefused) {
  const std::string whole = testing::ReadFile(fs::path(DefaultZoneinfoDir()) / "Europe/Berlin");
  ASSERT_GT(whole.size(), 100u);
  for (std::size_t size = 0; size < whole.size(); ++size) {
    std::string error;
    EXPECT_FALSE(TzifFooter(std::string_view(whole).substr(0, size), &error).has_value()) << size;
    EXPECT_FALSE(error.empty());
  }
}

TEST(TzifFooter, BadHeadersCountsAndFooters) {
  std::string error;
  EXPECT_EQ(TzifFooter(MakeTzif("<+03>-3"), &error), "<+03>-3");
  EXPECT_EQ(TzifFooter(MakeTzif("<+03>-3", '4'), &error), "<+03>-3");

  EXPECT_FALSE(TzifFooter(MakeTzif("<+03>-3", '\0'), &error));
  EXPECT_EQ(error, "version 1 zone file has no rule footer");
  EXPECT_FALSE(TzifFooter(MakeTzif(""), &error));
  EXPECT_EQ(error, "zone file has an empty rule footer");

  std::string bad_magic = MakeTzif("UTC0");
  bad_magic[0] = 'X';
  EXPECT_FALSE(TzifFooter(bad_magic, &error));
  EXPECT_EQ(error, "not a zone file");

  // Counts near 2^32 in either header must not wrap the size arithmetic.
  for (const std::size_t header : {std::size_t{0}, std::size_t{54}}) {
    for (std::size_t field = 20; field < 44; field += 4) {
      std::string huge = MakeTzif("UTC0");
      Put32(huge, header + field, 0xFFFFFFFFu);
      EXPECT_FALSE(TzifFooter(huge, &error)) << header << " " << field;
    }
  }
  std::string unterminated = MakeTzif("UTC0");
  unterminated.pop_back();
  EXPECT_FALSE(TzifFooter(unterminated, &error));
  std::string no_newline = MakeTzif("UTC0");
  no_newline[108] = 'x';
  EXPECT_FALSE(TzifFooter(no_newline, &error));
}

TEST_F(ScratchDir, ReadZoneFileReportsEveryFailure) {
  std::string error;
  EXPECT_FALSE(ReadZoneFile(dir_ / "missing", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(ReadZoneFile(dir_, &error));
  EXPECT_FALSE(ReadZoneFile(Write("garbage", MakeTzif("not a tz string")), &error));
  EXPECT_EQ(error, "zone file rule footer is not a TZ string");
  EXPECT_FALSE(ReadZoneFile(Write("big", std::string(kMaxZoneFileSize + 1, 'x')), &error));
  EXPECT_EQ(error, "zone file too large");
  const auto ok = ReadZoneFile(Write("ok", MakeTzif("IST-2IDT,M3.4.4/26,M10.5.0")), &error);
  ASSERT_TRUE(ok.has_value());
  EXPECT_TRUE(ok->approximated);
  EXPECT_EQ(ok->rule.bias, -120);
}

}  // namespace
}  // namespace remoteccm
