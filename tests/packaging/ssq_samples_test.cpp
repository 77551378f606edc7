// The sample SQL script files the package ships: every line is within the reader's reach, and
// on a real CDR table each file's deletion removes exactly the records its selection read.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/db/cdr_schema.h"
#include "platform/db/database.h"
#include "support/scratch_dir.h"
#include "util/ini_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

namespace fs = std::filesystem;

// The lines of one section as the properties dialog's Browse reads them: with N entries the
// keys prefix+0 to prefix+N are looked at; "<end>" and blank values give no line.
std::vector<std::string> ScriptLines(const fs::path& file, const std::string& section,
                                     const std::string& prefix, std::size_t* entries) {
  const auto pairs = ReadProfileSection(file, section);
  *entries = 0;
  for (const auto& [key, value] : pairs) *entries += value == "<end>" ? 0 : 1;
  std::vector<std::string> lines;
  for (std::size_t i = 0; i <= pairs.size(); ++i) {
    const std::string value = ReadProfileValue(file, section, prefix + std::to_string(i));
    if (value != "<end>" && !TrimView(value).empty()) lines.push_back(value);
  }
  return lines;
}

std::set<std::string> Pkids(DbConnection& db, const std::vector<std::string>& selection) {
  DbQuery query(db);
  for (const std::string& line : selection) query.AddLine(line);
  query.Open();
  std::set<std::string> pkids;
  for (; !query.Eof(); query.Next()) pkids.emplace(query.FieldByName("pkid").AsString());
  return pkids;
}

TEST(SsqSamplesTest, EachDeletionRemovesWhatItsSelectionRead) {
  const fs::path folder = fs::path(REMOTECCM_SOURCE_DIR) / "packaging" / "sql";
  const testing::ScratchDir scratch;
  int samples = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".ssq") continue;
    ++samples;
    SCOPED_TRACE(entry.path().filename().string());
    std::size_t selection_entries = 0;
    std::size_t deletion_entries = 0;
    const auto selection =
        ScriptLines(entry.path(), "CONNECT_SQL", "ConnectSQL", &selection_entries);
    const auto deletion =
        ScriptLines(entry.path(), "DISCONNECT_SQL", "DisconnectSQL", &deletion_entries);
    ASSERT_FALSE(selection.empty());
    ASSERT_FALSE(deletion.empty());
    EXPECT_EQ(selection.size(), selection_entries) << "a line out of the reader's reach";
    EXPECT_EQ(deletion.size(), deletion_entries) << "a line out of the reader's reach";

    // Four calls over two days: each sample is meant to pick two of them.
    const fs::path file = scratch / (entry.path().stem().string() + ".db");
    fs::remove(file);
    DbConnection db;
    db.Connect("Driver=SQLite3;Database=" + file.string() + ";NoCreat=0", "CDR", "", "");
    db.Execute(CdrCreateTableStatement());
    db.Execute(
        "INSERT INTO CallDetailRecord (pkid, dateTimeDisconnect, origDeviceName, destDeviceName, "
        "clientMatterCode) VALUES "
        "('1', 1793491200, 'SEP001', 'SIP_TRUNK_1', '1234'), "
        "('2', 1793494800, 'SIP_TRUNK_1', 'SEP002', NULL), "
        "('3', 1793664000, 'SEP003', 'SEP004', ''), "
        "('4', 1793664060, 'SEP005', 'GW_2', '5678')");
    const std::set<std::string> selected = Pkids(db, selection);
    EXPECT_EQ(selected.size(), 2u);
    DbQuery remove(db);
    for (const std::string& line : deletion) remove.AddLine(line);
    remove.Execute();
    std::set<std::string> left = Pkids(db, {"SELECT pkid FROM CallDetailRecord"});
    for (const std::string& pkid : selected) EXPECT_EQ(left.count(pkid), 0u) << pkid;
    EXPECT_EQ(left.size() + selected.size(), 4u);
    db.Disconnect();
  }
  EXPECT_EQ(samples, 3);
}

}  // namespace
}  // namespace remoteccm
