// Turns one CDR row into its destination line (default, formatted, raw or comma layout) and its
// backup line. Column positions are resolved once per result, so a row costs no lookups.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "retrieval/layout/field_list.h"
#include "timezone/time_conversion.h"

namespace remoteccm {

// The numeric value of a column's text: 0 for empty (null) or unreadable text.
double ColumnNumber(std::string_view text);

// One row of an open result, column by position; a null reads as empty text.
class ResultRow {
 public:
  virtual ~ResultRow() = default;
  virtual std::string_view Text(std::size_t column) const = 0;
  // The column's value as ColumnNumber reads its text; a row holding the value as a number
  // gives it without the detour through text.
  virtual double Number(std::size_t column) const { return ColumnNumber(Text(column)); }
};

class LineFormatter {
 public:
  LineFormatter(const FieldList& fields, const std::vector<std::string>& result_columns,
                const TimeConverter& converter);

  // Replaces `line` with the row's destination line (without CR LF).
  void Format(const ResultRow& row, std::string& line) const;

  // The result columns Format reads, each once, in increasing order.
  std::vector<int> ColumnsRead() const;
  // Lines are the backup lines of the rows (every column followed by ",").
  bool IsCommaLayout() const { return comma_; }

 private:
  enum class CellKind { kText, kDateTime, kBlanks };
  struct Cell {
    CellKind kind = CellKind::kBlanks;
    int column = -1;
    int width = 0;
    bool right = true;  // right-justified
    int trailing = 1;   // blanks after the cell
  };

  std::vector<Cell> cells_;
  std::size_t column_count_ = 0;
  bool comma_ = false;
  const TimeConverter& converter_;
};

// The backup file's header: every result column name followed by ",".
std::string BackupHeaderLine(const std::vector<std::string>& result_columns);

// Replaces `line` with every value of the row followed by "," (no conversion, no justification).
// Here and in the header, a value holding a comma, a double quote, CR or LF is enclosed in
// double quotes with its quotes doubled, so that it stays one value; any other value is kept
// as it is.
void FormatBackupLine(const ResultRow& row, std::size_t column_count, std::string& line);

// Index of the column named `name` (without regard to case), or -1.
int FindColumn(const std::vector<std::string>& result_columns, std::string_view name);

}  // namespace remoteccm
