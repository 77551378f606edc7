// No libpq is built for Windows: a PostgreSQL table is filled by the Linux generator.
#include "postgres_writer.h"

#include <stdexcept>

namespace remoteccm {

class PostgresWriter::Impl {};

PostgresWriter::PostgresWriter(const std::string& /*conninfo*/, const std::string& /*table*/,
                               bool /*append*/) {
  throw std::runtime_error(
      "PostgreSQL: this Windows build has no PostgreSQL client (libpq); fill the table with "
      "the Linux remoteccm-gen-cdr, or use --sqlite or --files here");
}
PostgresWriter::~PostgresWriter() = default;
void PostgresWriter::Write(const CdrRow& /*row*/) {}
void PostgresWriter::Finish() {}

}  // namespace remoteccm
