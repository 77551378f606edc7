// The generator's CDR files read back by the program's own reader: named per node and minute,
// every record in one file of its minute, the push time set to the end of that minute; a
// current release's files in its layout (133 CDR and 48 CMR fields) without a final line feed.
#include "cdr_file_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <regex>

#include "cdrfiles/cdr_file_reader.h"
#include "platform/db/cdr_schema.h"
#include "support/scratch_dir.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

TEST(CdrFileWriterTest, OneFilePerNodeAndMinuteReadBackWhole) {
  const testing::ScratchDir scratch;
  const fs::path folder = scratch / "cdr";  // made by the writer
  CdrGeneratorOptions generator;
  generator.first_second = 1793491200;  // 2026-11-01
  generator.rows = 300;
  {
    CdrFileWriter writer({folder, "Clu1", 3, 15});
    GenerateCdrs(generator, [&](const CdrRow& row) { writer.Write(row); });
  }
  const std::size_t kDisconnect15 = 48;  // dateTimeDisconnect in a current release's file
  const std::regex name(R"(c[dm]r_Clu1_0[123]_2026\d{8}_\d+)");
  std::int64_t records = 0;
  std::int64_t management_records = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const std::string file = entry.path().filename().string();
    EXPECT_TRUE(std::regex_match(file, name)) << file;
    const std::string text = testing::ReadFile(entry.path());
    EXPECT_NE(text.back(), '\n') << file;
    CdrFileReader reader(entry.path());
    ASSERT_EQ(reader.state(), CdrFileReader::State::kReading) << reader.problem();
    if (file.starts_with("cmr_")) {
      EXPECT_EQ(reader.fields().size(), 48u);
      ASSERT_TRUE(fs::exists(folder / ("cdr_" + file.substr(4)))) << file;
      std::vector<CdrFileValue> values;
      std::string line;
      while (reader.Next(values, line)) ++management_records;
      EXPECT_EQ(reader.state(), CdrFileReader::State::kEnd) << file << ": " << reader.problem();
      continue;
    }
    EXPECT_EQ(reader.fields().size(), 133u);
    std::vector<CdrFileValue> values;
    std::string line;
    std::int64_t last_disconnect = 0;
    while (reader.Next(values, line)) {
      ++records;
      last_disconnect = std::stoll(values[kDisconnect15].text);
    }
    EXPECT_EQ(reader.state(), CdrFileReader::State::kEnd) << file << ": " << reader.problem();
    const std::optional<RegularFileFacts> facts = RegularFileFactsOf(entry.path());
    ASSERT_TRUE(facts);
    EXPECT_EQ(std::llround(facts->modified), (last_disconnect / 60 + 1) * 60) << file;
  }
  EXPECT_EQ(records, 300);
  EXPECT_EQ(management_records, 300);
  EXPECT_LT(GeneratedCdrFieldsOf(8).size(), GeneratedCdrFieldsOf(12).size());
  EXPECT_TRUE(GeneratedCdrFieldsOf(9).empty());
}

}  // namespace
}  // namespace remoteccm
