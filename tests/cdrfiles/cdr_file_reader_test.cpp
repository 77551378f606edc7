// One CDR file read line by line: good files read to the end with their values, each kind of
// damage found on its line, a file still being written told from a damaged one.
#include "cdrfiles/cdr_file_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/scratch_dir.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kReaderHead =
    "\"cdrRecordType\",\"pkid\",\"callingPartyNumber\",\"duration\"\n"
    "INTEGER,UNIQUEIDENTIFIER,VARCHAR(50),INTEGER\n";

class CdrFileReaderTest : public ::testing::Test {
 protected:
  void Write(std::string_view content) { testing::WriteFile(path_, content); }
  // Reads every record; the values of the last one read.
  int ReadAll(CdrFileReader& reader, std::vector<CdrFileValue>& last) {
    int records = 0;
    std::vector<CdrFileValue> values;
    std::string line;
    while (reader.Next(values, line)) {
      ++records;
      last = values;
    }
    return records;
  }
  testing::ScratchDir dir_;
  fs::path path_ = dir_ / "reader";
};

TEST_F(CdrFileReaderTest, ReadsQuotedTextBareNumbersAndEmptyValues) {
  // The last record ends without a line feed, as a current CallManager writes it.
  const std::string content = std::string(kReaderHead) +
                              "1,\"A-1\",\"say \"\"hi\"\", then,go\",60\r\n"
                              "1,\"A-2\",\"\",";
  Write(content);
  CdrFileReader reader(path_);
  ASSERT_EQ(reader.state(), CdrFileReader::State::kReading) << reader.problem();
  ASSERT_EQ(reader.fields().size(), 4u);
  EXPECT_EQ(reader.fields()[1].length, 36);
  EXPECT_EQ(reader.fields()[3].type, CdrFieldType::kInteger);
  std::vector<CdrFileValue> first;
  std::vector<CdrFileValue> values;
  std::string line;
  ASSERT_TRUE(reader.Next(first, line));
  EXPECT_EQ(first[2].text, "say \"hi\", then,go");
  ASSERT_TRUE(reader.Next(values, line));
  EXPECT_TRUE(values[2].quoted);
  EXPECT_TRUE(values[2].text.empty());
  EXPECT_FALSE(values[3].quoted);
  EXPECT_FALSE(reader.Next(values, line));
  EXPECT_EQ(reader.state(), CdrFileReader::State::kEnd);
  EXPECT_EQ(reader.bytes_read(), static_cast<std::int64_t>(content.size()));
  EXPECT_EQ(reader.Sha256Hex().size(), 64u);
}

TEST_F(CdrFileReaderTest, TellsDamagedAndIncompleteFilesWithTheirLine) {
  const std::string head(kReaderHead);
  const struct {
    std::string content;
    CdrFileReader::State state;
    std::int64_t line;
    std::string_view says;
  } cases[] = {
      {head + "1,\"A\",\"2001\",60\n1,\"B\",\"2002\"\n", CdrFileReader::State::kDamaged, 4,
       "short line"},
      {head + "1,\"A\",\"2001\",60,7\n", CdrFileReader::State::kDamaged, 3, "long line"},
      {head + "1,\"A\",\"2001\",6O\n", CdrFileReader::State::kDamaged, 3, "not a whole number"},
      {head + "1,\"A\",\"2001\",60\n\"cdrRecordType\",\"pkid\",\"extra\",\"duration\"\n",
       CdrFileReader::State::kDamaged, 4, "header changes"},
      {head + std::string("1,\"A\",\"20\0\x01\",60\n", 16), CdrFileReader::State::kDamaged, 3,
       "binary"},
      {head + "1,\"A,\"2001\",60\n", CdrFileReader::State::kDamaged, 3, "text follows"},
      {"\"a\",\"a\"\nINTEGER,INTEGER\n", CdrFileReader::State::kDamaged, 1, "same name"},
      {"\"a b\"\nINTEGER\n", CdrFileReader::State::kDamaged, 1, "plain name"},
      {"\"a\",\"b\"\nINTEGER\n", CdrFileReader::State::kDamaged, 2, "one type per field"},
      {head + "1,\"A\",\"2001\"", CdrFileReader::State::kDamaged, 3, "short last line"},
      {head + "1,\"A\",\"20", CdrFileReader::State::kDamaged, 3, "not closed"},
      {"\"a\"\n", CdrFileReader::State::kIncomplete, 0, "no types line"},
      {"\"a\"", CdrFileReader::State::kIncomplete, 0, "no types line"},
      {"", CdrFileReader::State::kIncomplete, 0, "empty"},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.content);
    Write(each.content);
    CdrFileReader reader(path_);
    std::vector<CdrFileValue> last;
    ReadAll(reader, last);
    EXPECT_EQ(reader.state(), each.state);
    if (each.line > 0) {
      EXPECT_EQ(reader.problem_line(), each.line);
    }
    EXPECT_NE(reader.problem().find(each.says), std::string::npos) << reader.problem();
  }
}

}  // namespace
}  // namespace remoteccm
