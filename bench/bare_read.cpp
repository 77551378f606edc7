// bench-bare-read: reads every value of a table as text through the database layer's block
// cursor and formats nothing, so a transfer's cost can be set against the bare cost of reading.
//   bench-bare-read [--typed] CONNECTION-STRING [TABLE] [ROWSET] [COLUMN,COLUMN...]
// With columns named, only those are read (as a pass without a backup does). The driver
// converts every value to text unless --typed: then integer columns are read as numbers where
// the server keeps their type, as a transfer reads them, and turned into text here. Prints the
// row and byte counts on standard output.
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/database.h"
#include "platform/db/db_error.h"

int main(int argc, char** argv) {
  using namespace remoteccm;
  const bool typed = argc > 1 && std::string_view(argv[1]) == "--typed";
  if (typed) {
    --argc;
    ++argv;
  }
  if (argc < 2 || argc > 5) {
    std::fputs(
        "usage: bench-bare-read [--typed] CONNECTION-STRING [TABLE] [ROWSET] "
        "[COLUMN,COLUMN...]\n",
        stderr);
    return 64;
  }
  const std::string table = argc > 2 ? argv[2] : "CallDetailRecord";
  std::size_t rowset = kDefaultRowsetSize;
  if (argc > 3) {
    const std::string_view text = argv[3];
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), rowset);
    if (error != std::errc() || end != text.data() + text.size() || rowset == 0 ||
        rowset > 100000) {
      std::fputs("bench-bare-read: ROWSET must be a whole number from 1 to 100000\n", stderr);
      return 64;
    }
  }
  try {
    DbConnection db;
    db.Connect(argv[1], "CDR", "", "");
    DbQuery query(db, rowset);
    query.AddLine("SELECT * FROM " + table);
    query.ReadIntegersAsText(!typed);
    query.Open();
    std::vector<int> columns;
    if (argc > 4) {
      std::string_view names = argv[4];
      while (!names.empty()) {
        const std::size_t comma = names.find(',');
        const std::string_view name = names.substr(0, comma);
        const int index = query.FieldIndex(name);
        if (index < 0) throw DbError("Field '" + std::string(name) + "' not found");
        columns.push_back(index);
        names.remove_prefix(comma == std::string_view::npos ? names.size() : comma + 1);
      }
      query.ReadOnlyColumns(columns);
    } else {
      for (int i = 0; i < query.FieldCount(); ++i) columns.push_back(i);
    }
    long long rows = 0;
    unsigned long long bytes = 0;
    for (; !query.Eof(); query.Next()) {
      ++rows;
      for (const int i : columns) bytes += query.AsString(i).size();
    }
    std::printf("rows=%lld bytes=%llu rowset=%zu\n", rows, bytes, query.EffectiveRowsetSize());
  } catch (const DbError& e) {
    std::fprintf(stderr, "bench-bare-read: %s\n", e.what());
    return 1;
  }
  return 0;
}
