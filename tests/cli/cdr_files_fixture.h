// A profile that collects from a CDR file folder, and the files of records it finds there.
#pragma once

#include "cli_run_fixture.h"

namespace remoteccm {

class CdrFilesCliTest : public CliRunTest {
 protected:
  virtual fs::path Folder() const { return home_ / "incoming"; }

  // The text of a file of records with pkids from..to, each ending a minute after the one
  // before.
  static std::string FileText(int from, int to) {
    std::string text =
        "\"cdrRecordType\",\"pkid\",\"dateTimeOrigination\",\"dateTimeDisconnect\","
        "\"callingPartyNumber\",\"duration\"\n"
        "INTEGER,UNIQUEIDENTIFIER,INTEGER,INTEGER,VARCHAR(50),INTEGER\n";
    for (int id = from; id <= to; ++id) {
      const std::int64_t end = kFirstDay + static_cast<std::int64_t>(id) * 60;
      text += "1,\"" + std::to_string(id) + "\"," + std::to_string(end - 30) + "," +
              std::to_string(end) + ",\"2001\",30\n";
    }
    return text;
  }
  void PutFile(const std::string& name, int from, int to) {
    fs::create_directories(Folder());
    std::ofstream(Folder() / name, std::ios::binary) << FileText(from, to);
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
  void ArriveFile(const std::string& name, int from, int to) {
    PutFile("." + name, from, to);
    fs::rename(Folder() / ("." + name), Folder() / name);
  }
  void WriteFilesProfile(bool deletion) {
    std::ofstream out(home_ / "SITE.CCM", std::ios::binary);
    out << "[Options]\r\nDestinationFile=" << destination_
        << "\r\nCdrFileFolder=" << Folder().string()
        << "\r\nCdrFileSettleSeconds=0\r\nSQLTimeZoneOption=3\r\nWaitBeforePollingAgain=0\r\n"
        << "PollAgain=Y\r\nSQLNewRecDate=" << kFirstDay
        << "\r\nSQLNewRecIncrValue=10\r\nSQLNewRecIncrMode=day(s)\r\n"
        << (deletion ? "ConnectSQLMode=All Records\r\nDeleteRecs=Y\r\n"
                     : "ConnectSQLMode=New Records Only\r\nDeleteRecs=N\r\n");
  }
  // A profile that never ran: its database, with the note of it, and its folders gone.
  void Reset() {
    fs::remove_all(Folder());
    for (const char* name : {"CDR.TXT", "SITE.cdr.sqlite", "SITE.cdr.sqlite.note", "SITE.late",
                             "SITE.status", "SITE.collected", "SITE.rejected"}) {
      fs::remove_all(home_ / name);
    }
  }
};

}  // namespace remoteccm
