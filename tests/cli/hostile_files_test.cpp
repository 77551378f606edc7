// What a file beside the destination (a folder the call-accounting side may write too) can make
// a run do when someone else wrote it: never lose a record, run other SQL or connect elsewhere.
// And the edges of the destination itself: lines owed to a destination the profile no longer
// names, Overwrite after a stop at the append (two names of one file and a lock that is a link:
// hostile_files_posix_test).
#include "cli_run_fixture.h"

namespace remoteccm {
namespace {

class HostileFilesTest : public CliRunTest {
 protected:
  void SetUp() override {
    CliRunTest::SetUp();
    if (IsSkipped()) return;
    std::ofstream(home_ / "CCM_FIELDS.INF", std::ios::binary) << "[CCM_FIELDS]\r\nCSV=Y\r\n";
  }

  static std::string Read(const fs::path& path) { return testing::ReadFile(path); }
  static void Write(const fs::path& path, const std::string& text) {
    testing::WriteFile(path, text);
  }
  // The note beside the destination with one of its lines replaced.
  void EditNote(const std::string& key, const std::string& value) {
    const fs::path note = destination_ + ".spool-ready";
    std::string text = Read(note);
    const std::size_t at = text.find("\n" + key + " ") + 1;
    ASSERT_NE(at, 0u) << text;
    text.replace(at, text.find('\n', at) - at, key + " " + value);
    Write(note, text);
  }
};

// A run killed after its deletion was committed owes 200 lines, whose records exist nowhere
// else. A decoy table holding the same pkids, named in the note, or a profile outside the home
// with such a table, made the next run take the lines for never committed and discard them.
TEST_P(HostileFilesTest, ANoteBesideTheDestinationCannotDiscardOwedLines) {
  const std::string decoy = table_ + "_decoy";
  testing::CreateCdrTable(admin_, decoy);
  const fs::path outside = home_ / "elsewhere";
  fs::create_directories(outside);
  Write(outside / "DECOY.CCM",
        "[Options]\r\nSQLConnectionString=" + connection_ + "\r\nSQLTableName=" + decoy + "\r\n");
  struct Case {
    const char* what;
    std::string key;
    std::string value;
  };
  const Case cases[] = {
      {"a table that holds the same keys", "table", decoy},
      {"a profile outside the home", "profile", (outside / "DECOY.CCM").string()},
      {"a profile name that is not in the home", "profile", "DECOY"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    admin_.Execute("DELETE FROM " + table_);
    admin_.Execute("DELETE FROM " + decoy);
    fs::remove(destination_);
    InsertCalls(200, 60);
    admin_.Execute("INSERT INTO " + decoy + " SELECT * FROM " + table_);
    WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");
    ASSERT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", "committed"}}), testing::kKilledStatus);
    ASSERT_TRUE(ServerPkids().empty());
    EditNote(c.key, c.value);
    EXPECT_EQ(Run({"SITE"}), 0) << Log();
    ExpectAllOnce(200);
    EXPECT_NE(Log().find("which is the one used"), std::string::npos);
    EXPECT_FALSE(fs::exists(destination_ + ".spool"));
  }
  admin_.Execute("DROP TABLE IF EXISTS " + decoy);
}

// Lines owed when the destination was changed (after a full disk, say) are delivered to the
// destination they are owed to, first; until then the status says where they are.
TEST_P(HostileFilesTest, LinesOwedToAnEarlierDestinationAreDeliveredThere) {
  InsertCalls(80, 60);
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");
  ASSERT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", "committed"}}), testing::kKilledStatus);
  const std::string earlier = destination_;
  // The earlier destination cannot be written for now: a folder stands in its place.
  fs::rename(earlier, earlier + ".aside");
  fs::create_directory(earlier);
  destination_ = (home_ / "NEW.TXT").string();
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n");
  EXPECT_EQ(Run({"SITE"}), 5);
  EXPECT_NE(Log().find("This profile owes lines to " + earlier), std::string::npos);
  // As JSON writes it: a Windows path's backslashes doubled.
  std::string earlier_in_json;
  for (const char c : earlier) earlier_in_json += c == '\\' ? std::string(2, c) : std::string(1, c);
  EXPECT_NE(Read(home_ / "SITE.status").find("\"owed_at\": \"" + earlier_in_json + "\""),
            std::string::npos);
  EXPECT_FALSE(fs::exists(destination_) && fs::file_size(destination_) > 0);

  fs::remove(earlier);
  fs::rename(earlier + ".aside", earlier);
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  const std::string now_there = destination_;
  destination_ = earlier;
  ExpectAllOnce(80);
  EXPECT_EQ(Read(home_ / "SITE.status").find("owed_at"), std::string::npos);
  EXPECT_EQ(fs::file_size(now_there), 0u);
}

// With Overwrite, lines appended in full before the stop went with that file: the next run's
// file does not start with them again.
TEST_P(HostileFilesTest, OverwriteAfterAStopAtTheAppendDoesNotRepeatTheLines) {
  InsertCalls(40, 60);
  WriteProfile("ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\nOverwrite=Y\r\n");
  ASSERT_EQ(Run({"SITE"}, {{"REMOTECCM_FAULT_POINT", "appended"}}), testing::kKilledStatus);
  ExpectAllOnce(40);  // the reader takes this file
  InsertCalls(45, 60, 41);
  EXPECT_EQ(Run({"SITE"}), 0) << Log();
  const std::map<std::string, int> collected = CollectedPkids();
  EXPECT_EQ(collected.size(), 5u);
  EXPECT_EQ(collected.count("1"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Drivers, HostileFilesTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm
