// The PostgreSQL side of remoteccm-gen-cdr: the rows go in by COPY through libpq.
#include "postgres_writer.h"

#include <libpq-fe.h>

#include <charconv>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/db/cdr_schema.h"
#include "platform/db/connection_string.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

// A libpq string from an ODBC one (Server, Port, Database, UID, PWD); others pass unchanged.
std::string LibpqConnInfo(const std::string& text) {
  if (text.find(';') == std::string::npos && text.find("Server=") == std::string::npos) {
    return text;
  }
  const ConnectionAttributes attributes = ParseConnectionString(text);
  auto quoted = [](const std::string& value) {
    std::string q = "'";
    for (char c : value) {
      if (c == '\'' || c == '\\') q += '\\';
      q += c;
    }
    return q + "'";
  };
  std::string conninfo;
  for (const auto& [odbc_key, libpq_key] :
       {std::pair<std::string_view, std::string_view>{"Server", "host"},
        {"Port", "port"},
        {"Database", "dbname"},
        {"UID", "user"},
        {"PWD", "password"}}) {
    if (const std::string* value = FindAttribute(attributes, odbc_key)) {
      conninfo += std::string(libpq_key) + "=" + quoted(*value) + " ";
    }
  }
  return conninfo;
}

}  // namespace

class PostgresWriter::Impl {
 public:
  Impl(const std::string& conninfo_text, const std::string& table, bool append) : table_(table) {
    conn_.reset(PQconnectdb(LibpqConnInfo(conninfo_text).c_str()));
    if (PQstatus(conn_.get()) != CONNECTION_OK) Fail("cannot connect");
    PQsetNoticeProcessor(
        conn_.get(), [](void*, const char*) {}, nullptr);
    if (!append) Exec("DROP TABLE IF EXISTS " + table_);
    Exec("CREATE TABLE IF NOT EXISTS " + CdrCreateTableStatement(table_).substr(13));
    create_indexes_ = !append;
    PGresult* result =
        PQexec(conn_.get(), ("COPY " + table_ + " (" + ColumnList() + ") FROM STDIN").c_str());
    const bool copying = PQresultStatus(result) == PGRES_COPY_IN;
    PQclear(result);
    if (!copying) Fail("cannot start the COPY");
  }

  void Write(const CdrRow& row) {
    const auto columns = CdrColumns();
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i > 0) buffer_ += '\t';
      if (row[i].null) {
        buffer_ += "\\N";
      } else if (columns[i].kind == CdrColumnKind::kInteger) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, row[i].number).ptr;
        buffer_.append(digits, end);
      } else {
        for (char c : row[i].text) {
          switch (c) {
            case '\\':
              buffer_ += "\\\\";
              break;
            case '\t':
              buffer_ += "\\t";
              break;
            case '\n':
              buffer_ += "\\n";
              break;
            case '\r':
              buffer_ += "\\r";
              break;
            default:
              buffer_ += c;
          }
        }
      }
    }
    buffer_ += '\n';
    if (buffer_.size() > (1 << 20)) Flush();
  }

  void Finish() {
    Flush();
    if (PQputCopyEnd(conn_.get(), nullptr) != 1) Fail("cannot end the COPY");
    PGresult* result = PQgetResult(conn_.get());
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    PQclear(result);
    while ((result = PQgetResult(conn_.get())) != nullptr) PQclear(result);
    if (!ok) Fail("the COPY failed");
    if (create_indexes_) {
      for (const std::string& statement : CdrCreateIndexStatements(table_)) Exec(statement);
    }
    Exec("ANALYZE " + table_);
  }

 private:
  void Flush() {
    if (!buffer_.empty() &&
        PQputCopyData(conn_.get(), buffer_.data(), static_cast<int>(buffer_.size())) != 1) {
      Fail("cannot send rows");
    }
    buffer_.clear();
  }
  void Exec(const std::string& sql) {
    PGresult* result = PQexec(conn_.get(), sql.c_str());
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    PQclear(result);
    if (!ok) Fail("\"" + sql.substr(0, 60) + "\" failed");
  }
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("PostgreSQL: " + what + ": " + Trim(PQerrorMessage(conn_.get())));
  }

  std::unique_ptr<PGconn, decltype(&PQfinish)> conn_{nullptr, PQfinish};
  std::string table_;
  std::string buffer_;
  bool create_indexes_ = false;
};

PostgresWriter::PostgresWriter(const std::string& conninfo, const std::string& table, bool append)
    : impl_(std::make_unique<Impl>(conninfo, table, append)) {}
PostgresWriter::~PostgresWriter() = default;
void PostgresWriter::Write(const CdrRow& row) { impl_->Write(row); }
void PostgresWriter::Finish() { impl_->Finish(); }

}  // namespace remoteccm
