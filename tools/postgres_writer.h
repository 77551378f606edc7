// remoteccm-gen-cdr's writer of PostgreSQL tables. The Windows build has no libpq: its writer
// (win32/postgres_writer.cpp) refuses with a message instead.
#pragma once

#include <memory>
#include <string>

#include "cdr_generator.h"

namespace remoteccm {

// The column names of the CDR table, comma-separated, in the generator's order.
std::string ColumnList();

class PostgresWriter {
 public:
  // conninfo: a libpq string or an ODBC one (Server, Port, Database, UID, PWD). The table is
  // made afresh unless append. Throws std::runtime_error "PostgreSQL: ...".
  PostgresWriter(const std::string& conninfo, const std::string& table, bool append);
  ~PostgresWriter();
  PostgresWriter(const PostgresWriter&) = delete;
  PostgresWriter& operator=(const PostgresWriter&) = delete;

  void Write(const CdrRow& row);
  void Finish();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace remoteccm
