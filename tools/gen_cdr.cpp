// remoteccm-gen-cdr: fills a SQLite file or a PostgreSQL database with realistic CallManager
// call detail records for demos, tests and benchmarks.
#include <sqlite3.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "cdr_file_writer.h"
#include "cdr_generator.h"
#include "platform/db/cdr_schema.h"
#include "platform/db/connection_string.h"
#include "platform/db/db_error.h"
#include "postgres_writer.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

constexpr std::string_view kUsage =
    "usage: remoteccm-gen-cdr (--sqlite FILE | --postgres CONNINFO | --files FOLDER)\n"
    "                         [--rows N | --calls N] [--from YYYY-MM-DD] [--days N] [--seed S]\n"
    "                         [--table NAME] [--append] [--release R] [--nodes N] [--cluster C]\n"
    "  --sqlite FILE        write to this SQLite database file (created when missing)\n"
    "  --files FOLDER       write CDR files as CallManager 5 and later push them: one per node\n"
    "                       and minute, cdr_<cluster>_<node>_<yyyymmddhhmm>_<sequence>\n"
    "  --release R          the field set of the files: 5, 8, 12 or 15 (default 12); 15 writes\n"
    "                       a current CallManager's layout (133 CDR fields, and a cmr_ file of\n"
    "                       48 fields beside each CDR file), no line feed after the last record\n"
    "  --nodes N            the nodes that write files (default 2)\n"
    "  --cluster C          the cluster name in the file names (default StandAloneCluster)\n"
    "  --postgres CONNINFO  write to PostgreSQL: a libpq string (\"host=... dbname=...\") or an\n"
    "                       ODBC string (\"Driver=...;Server=...;Port=...;Database=...;UID=...\")\n"
    "  --rows N             exactly N rows (default 1000)\n"
    "  --calls N            N calls instead (a transfer gives three rows)\n"
    "  --from YYYY-MM-DD    first day of the period, UTC (default 2026-11-01)\n"
    "  --days N             length of the period in days (default 1)\n"
    "  --seed S             the same seed gives the same rows (default 1)\n"
    "  --table NAME         table name (default CallDetailRecord)\n"
    "  --append             add to the table instead of creating it afresh (with another\n"
    "                       --seed: the same seed gives the same pkid keys)\n";

struct Options {
  std::string sqlite;
  CdrFileWriterOptions files;
  std::string postgres;
  CdrGeneratorOptions generator;
  std::string table{kCdrTableName};
  bool append = false;
};

class UsageError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::int64_t ParseCount(std::string_view option, std::string_view text, std::int64_t low,
                        std::int64_t high) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    throw UsageError(std::string(option) + " needs a whole number from " + std::to_string(low) +
                     " to " + std::to_string(high) + ", not \"" + std::string(text) + "\"");
  }
  return value;
}

std::int64_t ParseDay(std::string_view text) {
  using namespace std::chrono;
  int y = 0;
  unsigned m = 0;
  unsigned d = 0;
  const bool shaped = text.size() == 10 && text[4] == '-' && text[7] == '-';
  if (shaped) {
    std::from_chars(text.data(), text.data() + 4, y);
    std::from_chars(text.data() + 5, text.data() + 7, m);
    std::from_chars(text.data() + 8, text.data() + 10, d);
  }
  const year_month_day day{year{y}, month{m}, std::chrono::day{d}};
  if (!shaped || !day.ok() || y < 1970 || y > 2037) {
    throw UsageError("--from needs a date YYYY-MM-DD from 1970 to 2037, not \"" +
                     std::string(text) + "\"");
  }
  return sys_days(day).time_since_epoch().count() * std::int64_t{86400};
}

bool IsIdentifier(std::string_view name) {
  if (name.empty() || name.size() > 63) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (!letter && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  options.generator.first_second = ParseDay("2026-11-01");
  options.generator.rows = 1000;
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    auto value = [&]() -> std::string_view {
      if (i + 1 >= argc) throw UsageError(std::string(option) + " needs a value");
      return argv[++i];
    };
    if (option == "--sqlite") {
      options.sqlite = value();
    } else if (option == "--files") {
      options.files.folder = std::string(value());
    } else if (option == "--release") {
      options.files.release = static_cast<int>(ParseCount(option, value(), 5, 15));
      if (GeneratedCdrFieldsOf(options.files.release).empty()) {
        throw UsageError("--release needs 5, 8, 12 or 15");
      }
    } else if (option == "--nodes") {
      options.files.nodes = static_cast<int>(ParseCount(option, value(), 1, 99));
    } else if (option == "--cluster") {
      options.files.cluster = value();
      if (!IsIdentifier(options.files.cluster)) {
        throw UsageError("--cluster needs a plain name (letters, digits, _)");
      }
    } else if (option == "--postgres") {
      options.postgres = value();
    } else if (option == "--rows") {
      options.generator.rows = ParseCount(option, value(), 0, 1'000'000'000);
      options.generator.calls = 0;
    } else if (option == "--calls") {
      options.generator.calls = ParseCount(option, value(), 0, 1'000'000'000);
    } else if (option == "--from") {
      options.generator.first_second = ParseDay(value());
    } else if (option == "--days") {
      options.generator.days = ParseCount(option, value(), 1, 3660);
    } else if (option == "--seed") {
      options.generator.seed =
          static_cast<std::uint64_t>(ParseCount(option, value(), 0, INT64_MAX));
    } else if (option == "--table") {
      options.table = value();
      if (!IsIdentifier(options.table)) {
        throw UsageError("--table needs a plain name (letters, digits, _), not \"" + options.table +
                         "\"");
      }
    } else if (option == "--append") {
      options.append = true;
    } else if (option == "--help" || option == "-h") {
      std::fputs(kUsage.data(), stdout);
      std::exit(0);
    } else {
      throw UsageError("unknown option \"" + std::string(option) + "\"");
    }
  }
  const int targets = static_cast<int>(!options.sqlite.empty()) +
                      static_cast<int>(!options.postgres.empty()) +
                      static_cast<int>(!options.files.folder.empty());
  if (targets != 1) {
    throw UsageError("give exactly one of --sqlite FILE, --postgres CONNINFO and --files FOLDER");
  }
  if (options.generator.first_second + options.generator.days * 86400 > INT32_MAX) {
    throw UsageError("the period must end before 2038-01-19 (the columns hold 32-bit seconds)");
  }
  return options;
}

}  // namespace

std::string ColumnList() {
  std::string list;
  for (const CdrColumn& column : CdrColumns()) {
    if (!list.empty()) list += ", ";
    list += column.name;
  }
  return list;
}

namespace {

// --- SQLite ----------------------------------------------------------------------------------

class SqliteWriter {
 public:
  explicit SqliteWriter(const Options& options) {
    sqlite3* db = nullptr;
    const int opened = sqlite3_open_v2(options.sqlite.c_str(), &db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    db_.reset(db);  // closed on every way out, failure included
    if (opened != SQLITE_OK) {
      Fail("cannot open " + options.sqlite);
    }
    Exec("PRAGMA synchronous=OFF");
    if (!options.append) Exec("DROP TABLE IF EXISTS " + options.table);
    if (!options.append || !TableExists(options.table)) {
      Exec(CdrCreateTableStatement(options.table));
      create_indexes_ = true;
    }
    Exec("BEGIN");
    std::string insert = "INSERT INTO " + options.table + " (" + ColumnList() + ") VALUES (";
    for (std::size_t i = 0; i < CdrColumns().size(); ++i) insert += i == 0 ? "?" : ", ?";
    insert += ")";
    sqlite3_stmt* prepared = nullptr;
    const int prepared_ok = sqlite3_prepare_v2(db_.get(), insert.c_str(), -1, &prepared, nullptr);
    insert_.reset(prepared);
    if (prepared_ok != SQLITE_OK) Fail("cannot prepare the insert");
    table_ = options.table;
  }

  void Write(const CdrRow& row) {
    const auto columns = CdrColumns();
    for (std::size_t i = 0; i < row.size(); ++i) {
      const int position = static_cast<int>(i) + 1;
      if (row[i].null) {
        sqlite3_bind_null(insert_.get(), position);
      } else if (columns[i].kind == CdrColumnKind::kInteger) {
        sqlite3_bind_int64(insert_.get(), position, row[i].number);
      } else {
        sqlite3_bind_text(insert_.get(), position, row[i].text.data(),
                          static_cast<int>(row[i].text.size()), SQLITE_STATIC);
      }
    }
    if (sqlite3_step(insert_.get()) != SQLITE_DONE) Fail("cannot insert a row");
    sqlite3_reset(insert_.get());
  }

  void Finish() {
    Exec("COMMIT");
    if (create_indexes_) {
      for (const std::string& statement : CdrCreateIndexStatements(table_)) Exec(statement);
    }
  }

 private:
  bool TableExists(const std::string& table) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db_.get(), "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1", -1,
                       &stmt, nullptr);
    sqlite3_bind_text(stmt, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    const bool exists = sqlite3_step(stmt) == SQLITE_ROW;
    sqlite3_finalize(stmt);
    return exists;
  }
  void Exec(const std::string& sql) {
    if (sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      Fail("\"" + sql.substr(0, 60) + "\" failed");
    }
  }
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("SQLite: " + what + ": " + sqlite3_errmsg(db_.get()));
  }

  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db_{nullptr, sqlite3_close};
  std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> insert_{nullptr, sqlite3_finalize};
  std::string table_;
  bool create_indexes_ = false;
};

// --- PostgreSQL: postgres_writer.cpp --------------------------------------------------------

// --- CDR files ------------------------------------------------------------------------------

class FilesWriter {
 public:
  explicit FilesWriter(const Options& options) : writer_(options.files) {}
  void Write(const CdrRow& row) { writer_.Write(row); }
  void Finish() { writer_.Finish(); }

 private:
  CdrFileWriter writer_;
};

// The PostgreSQL writer, given the options it needs.
class PostgresFiller : public PostgresWriter {
 public:
  explicit PostgresFiller(const Options& options)
      : PostgresWriter(options.postgres, options.table, options.append) {}
};

template <typename Writer>
CdrGeneratorTotals Fill(const Options& options) {
  Writer writer(options);
  const CdrGeneratorTotals totals =
      GenerateCdrs(options.generator, [&](const CdrRow& row) { writer.Write(row); });
  writer.Finish();
  return totals;
}

int Main(int argc, char** argv) {
  try {
    const Options options = ParseOptions(argc, argv);
    const auto started = std::chrono::steady_clock::now();
    const CdrGeneratorTotals totals = !options.files.folder.empty() ? Fill<FilesWriter>(options)
                                      : options.sqlite.empty()      ? Fill<PostgresFiller>(options)
                                                                    : Fill<SqliteWriter>(options);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf(
        "%lld rows (%lld calls, %lld transfers, %lld not connected) written to %s in %.1f s\n",
        static_cast<long long>(totals.rows), static_cast<long long>(totals.calls),
        static_cast<long long>(totals.transfers), static_cast<long long>(totals.unconnected),
        !options.files.folder.empty() ? options.files.folder.string().c_str()
        : options.sqlite.empty()      ? "PostgreSQL"
                                      : options.sqlite.c_str(),
        seconds);
    return 0;
  } catch (const UsageError& error) {
    std::fprintf(stderr, "remoteccm-gen-cdr: %s\n%s", error.what(), kUsage.data());
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "remoteccm-gen-cdr: %s\n", error.what());
    return 1;
  }
}

}  // namespace
}  // namespace remoteccm

int main(int argc, char** argv) { return remoteccm::Main(argc, argv); }
