// A profile that collects from a CDR file folder, and the files of records it finds there.
#pragma once

#include "cli_run_fixture.h"

namespace remoteccm {

class CdrFilesCliTest : public CliRunTest {
 protected:
  virtual fs::path Folder() const { return home_ / "incoming"; }

  // The text of a file of records with pkids from..to, each ending a minute after the one
  // before; without the pkid field, a record's calling number is its id.
  static std::string FileText(int from, int to, bool with_pkid = true) {
    std::string text = with_pkid
                           ? "\"cdrRecordType\",\"pkid\",\"dateTimeOrigination\","
                             "\"dateTimeDisconnect\",\"callingPartyNumber\",\"duration\"\n"
                             "INTEGER,UNIQUEIDENTIFIER,INTEGER,INTEGER,VARCHAR(50),INTEGER\n"
                           : "\"cdrRecordType\",\"dateTimeOrigination\",\"dateTimeDisconnect\","
                             "\"callingPartyNumber\",\"duration\"\n"
                             "INTEGER,INTEGER,INTEGER,VARCHAR(50),INTEGER\n";
    for (int id = from; id <= to; ++id) {
      const std::int64_t end = kFirstDay + static_cast<std::int64_t>(id) * 60;
      text += "1," + (with_pkid ? "\"" + std::to_string(id) + "\"," : std::string()) +
              std::to_string(end - 30) + "," + std::to_string(end) + ",\"" +
              (with_pkid ? std::string("2001") : std::to_string(id)) + "\",30\n";
    }
    return text;
  }
  void PutFile(const std::string& name, int from, int to, bool with_pkid = true) {
    fs::create_directories(Folder());
    std::ofstream(Folder() / name, std::ios::binary) << FileText(from, to, with_pkid);
  }
  // Every pkid from..to is in the destination once: how many are missing and how many are
  // there twice or more, so that a fault says its size.
  void ExpectEachOnce(int from, int to) { ExpectEachOnceIn(CollectedPkids(), from, to); }
  static void ExpectEachOnceIn(const std::map<std::string, int>& collected, int from, int to) {
    int missing = 0;
    int twice = 0;
    for (int id = from; id <= to; ++id) {
      const auto found = collected.find(std::to_string(id));
      const int times = found == collected.end() ? 0 : found->second;
      missing += times == 0 ? 1 : 0;
      twice += times > 1 ? 1 : 0;
    }
    EXPECT_EQ(missing, 0) << "of " << to - from + 1 << " records";
    EXPECT_EQ(twice, 0) << "of " << to - from + 1 << " records";
    EXPECT_EQ(collected.size(), static_cast<std::size_t>(to - from + 1));
  }
  // As the Repository's upload ends: the file appears under its name complete.
  void ArriveFile(const std::string& name, int from, int to, bool with_pkid = true) {
    PutFile("." + name, from, to, with_pkid);
    fs::rename(Folder() / ("." + name), Folder() / name);
  }

  void WriteFilesProfile(bool deletion) {
    WriteFilesProfileAt(home_ / "SITE.CCM", destination_,
                        deletion ? "ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n"
                                 : "ConnectSQLMode=New Records Only\r\nDeleteRecs=N\r\n");
  }
  // A profile of the folder at `profile` that writes to `destination`, with its mode keys.
  void WriteFilesProfileAt(const fs::path& profile, const std::string& destination,
                           const std::string& mode) const {
    std::ofstream out(profile, std::ios::binary);
    out << "[Options]\r\nDestinationFile=" << destination
        << "\r\nCdrFileFolder=" << Folder().string()
        << "\r\nCdrFileSettleSeconds=0\r\nSQLTimeZoneOption=3\r\nWaitBeforePollingAgain=0\r\n"
        << "PollAgain=Y\r\nSQLNewRecDate=" << kFirstDay
        << "\r\nSQLNewRecIncrValue=10\r\nSQLNewRecIncrMode=day(s)\r\n"
        << mode;
  }
  // Runs remoteccm-cli on the program home `home`; its output goes to this test's log.
  int RunIn(const fs::path& home, const std::vector<std::string>& args) {
    return testing::ChildProcess(REMOTECCM_CLI_PATH, args,
                                 {{"REMOTECCM_HOME", home.string()},
                                  {"REMOTECCM_REGISTRY", (home / "install.ini").string()}},
                                 home_ / "run.log", home_ / "run.err")
        .Wait();
  }
  // The lines of a destination.
  static int Lines(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    int lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    return lines;
  }
  // A profile that never ran: its destination, its database with the note of it, its folders
  // and the folder's files gone.
  void Reset() {
    fs::remove_all(Folder());
    for (const fs::directory_entry& entry : fs::directory_iterator(home_)) {
      const std::string name = entry.path().filename().string();
      if (name == "CDR.TXT" || (name.starts_with("SITE.") && name != "SITE.CCM")) {
        fs::remove_all(entry.path());
      }
    }
  }
  // How often each value of `column` is in the destination (comma layout, the 4.x order).
  std::map<std::string, int> CollectedBy(std::string_view column) {
    std::map<std::string, int> seen;
    std::ifstream in(destination_, std::ios::binary);
    const int at_column = CdrColumnIndex(column);
    for (std::string line; std::getline(in, line);) {
      std::size_t at = 0;
      for (int i = 0; i < at_column; ++i) at = line.find(',', at) + 1;
      ++seen[line.substr(at, line.find(',', at) - at)];
    }
    return seen;
  }
};

}  // namespace remoteccm
