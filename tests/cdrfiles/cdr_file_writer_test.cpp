// The generator's CDR files read back by the program's own reader: named per node and minute,
// every record in one file of its minute, the push time set to the end of that minute.
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
  const auto kDisconnect = static_cast<std::size_t>(CdrColumnIndex("dateTimeDisconnect"));
  const std::regex name(R"(cdr_Clu1_0[123]_2026\d{8}_\d+)");
  std::int64_t records = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const std::string file = entry.path().filename().string();
    EXPECT_TRUE(std::regex_match(file, name)) << file;
    CdrFileReader reader(entry.path());
    ASSERT_EQ(reader.state(), CdrFileReader::State::kReading) << reader.problem();
    EXPECT_EQ(reader.fields().size(), GeneratedCdrFieldsOf(15).size());
    std::vector<CdrFileValue> values;
    std::string line;
    std::int64_t last_disconnect = 0;
    while (reader.Next(values, line)) {
      ++records;
      last_disconnect = std::stoll(values[kDisconnect].text);
    }
    EXPECT_EQ(reader.state(), CdrFileReader::State::kEnd) << file << ": " << reader.problem();
    const std::optional<RegularFileFacts> facts = RegularFileFactsOf(entry.path());
    ASSERT_TRUE(facts);
    EXPECT_EQ(std::llround(facts->modified), (last_disconnect / 60 + 1) * 60) << file;
  }
  EXPECT_EQ(records, 300);
  EXPECT_LT(GeneratedCdrFieldsOf(8).size(), GeneratedCdrFieldsOf(12).size());
  EXPECT_TRUE(GeneratedCdrFieldsOf(9).empty());
}

}  // namespace
}  // namespace remoteccm
