// remoteccm-db-read: reads a whole table through the database layer, touching every value, and
// prints the row count, the time and the peak memory, so the streaming of each driver can be
// measured (with /usr/bin/time -v for the process as a whole).
//   remoteccm-db-read CONNECTION-STRING [TABLE] [ROWSET]
#include <sys/resource.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/db/database.h"
#include "platform/db/db_error.h"

int main(int argc, char** argv) {
  using namespace remoteccm;
  if (argc < 2) {
    std::fputs("usage: remoteccm-db-read CONNECTION-STRING [TABLE] [ROWSET]\n", stderr);
    return 2;
  }
  const std::string table = argc > 2 ? argv[2] : "CallDetailRecord";
  std::size_t rowset = kDefaultRowsetSize;
  if (argc > 3) {
    const std::string_view text = argv[3];
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), rowset);
    if (error != std::errc() || end != text.data() + text.size() || rowset == 0) {
      std::fputs("remoteccm-db-read: ROWSET must be a whole number above 0\n", stderr);
      return 2;
    }
  }
  try {
    const auto started = std::chrono::steady_clock::now();
    DbConnection db;
    db.Connect(argv[1], "CDR", "", "");
    DbQuery query(db, rowset);
    query.AddLine("SELECT * FROM " + table);
    query.Open();
    long long rows = 0;
    long long bytes = 0;
    double sum = 0;
    const int disconnect = query.FieldIndex("dateTimeDisconnect");
    for (; !query.Eof(); query.Next()) {
      ++rows;
      for (int i = 0; i < query.FieldCount(); ++i) bytes += query.AsString(i).size();
      if (disconnect >= 0) sum += query.AsFloat(disconnect);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s: %lld rows, %lld value bytes, rowset %zu, %.2f s, peak %ld KiB (check %.0f)\n",
                db.DriverName().c_str(), rows, bytes, query.EffectiveRowsetSize(), seconds,
                usage.ru_maxrss, sum);
    return 0;
  } catch (const DbError& error) {
    std::fprintf(stderr, "remoteccm-db-read: %s\n", error.what());
    return 1;
  }
}
