#include "retrieval/layout/line_layout.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "util/calendar.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

constexpr std::size_t kDateTimeLength = 19;  // "yyyy/mm/dd hh:nn:ss"

bool StartsWithUpper(std::string_view name, std::string_view prefix) {
  return name.size() >= prefix.size() && SameText(name.substr(0, prefix.size()), prefix);
}

// Where text may be cut at `at` bytes: there, or before the UTF-8 character `at` would split
// (CallManager writes its Unicode fields in UTF-8). Text that is no UTF-8 there is cut as is.
std::size_t CutWithoutSplitting(std::string_view text, std::size_t at) {
  if (at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) return at;
  for (std::size_t lead = at; lead > 0 && at - lead < 3;) {
    --lead;
    const std::size_t length = Utf8SequenceLength(text.substr(lead));
    if (length > 0) return lead + length > at ? lead : at;
  }
  return at;
}

// Appends text padded with blanks (or cut) to exactly width bytes; a character the width would
// split is left out, blanks in its place.
void AppendJustified(std::string& line, std::string_view text, int width, bool right) {
  const auto w = static_cast<std::size_t>(width);
  if (text.size() >= w) {
    const std::size_t cut = CutWithoutSplitting(text, w);
    line.append(text.data(), cut).append(w - cut, ' ');
  } else if (right) {
    line.append(w - text.size(), ' ').append(text);
  } else {
    line.append(text).append(w - text.size(), ' ');
  }
}

// A value holding a comma, a double quote, CR or LF would split or end the comma-separated line:
// such a value is enclosed in double quotes, its own quotes doubled.
bool NeedsQuotes(std::string_view value) {
  for (const char c : value) {
    if (c == ',' || c == '"' || c == '\r' || c == '\n') return true;
  }
  return false;
}

// Appends the value as one comma-separated value, followed by ",".
void AppendCommaValue(std::string& line, std::string_view value) {
  if (!NeedsQuotes(value)) {
    line.append(value).push_back(',');
    return;
  }
  line.push_back('"');
  for (const char c : value) {
    if (c == '"') line.push_back('"');
    line.push_back(c);
  }
  line.append("\",");
}

constexpr std::uint64_t EveryByte(unsigned char byte) { return 0x0101010101010101ULL * byte; }

// How many bytes of text sort below "-" (0x2D), the comma, the double quote, CR and LF among
// them. Eight bytes at a time: the top bit of (0xAC - the low seven bits of a byte) survives
// exactly when the byte is below 0x2D and has no top bit of its own; the bits are summed per
// byte lane for up to 255 words, then across the lanes.
std::size_t CountBelowDash(std::string_view text) {
  std::size_t count = 0;
  std::size_t at = 0;
  const std::size_t words_end = text.size() & ~std::size_t{7};
  while (at < words_end) {
    std::uint64_t lanes = 0;
    const std::size_t stop = std::min(words_end, at + std::size_t{8} * 255);
    for (; at < stop; at += 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, text.data() + at, sizeof word);
      lanes += ((EveryByte(0x7F + 0x2D) - (word & EveryByte(0x7F))) & ~word & EveryByte(0x80)) >> 7;
    }
    // Pairs of byte lanes into 16-bit lanes first: eight lanes of 255 overflow one byte.
    lanes = (lanes & 0x00FF00FF00FF00FFULL) + ((lanes >> 8) & 0x00FF00FF00FF00FFULL);
    count += static_cast<std::size_t>((lanes * 0x0001000100010001ULL) >> 48);
  }
  for (; at < text.size(); ++at) count += static_cast<unsigned char>(text[at]) < 0x2D ? 1 : 0;
  return count;
}

}  // namespace

double ColumnNumber(std::string_view text) {
  text = TrimView(text);
  if (text.empty()) return 0;
  if (text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return 0;
  return value;
}

int FindColumn(const std::vector<std::string>& result_columns, std::string_view name) {
  for (std::size_t i = 0; i < result_columns.size(); ++i) {
    if (SameText(result_columns[i], name)) return static_cast<int>(i);
  }
  return -1;
}

LineFormatter::LineFormatter(const FieldList& fields,
                             const std::vector<std::string>& result_columns,
                             const TimeConverter& converter)
    : column_count_(result_columns.size()),
      comma_(fields.layout == LineLayout::kComma),
      converter_(converter) {
  if (comma_) return;
  if (fields.layout == LineLayout::kDefault) {
    // The five fixed columns; a missing one leaves its width and blank empty, except the
    // duration, whose missing cell is one blank shorter.
    struct Fixed {
      const char* name;
      int width;
      CellKind kind;
    };
    constexpr Fixed kDefaultColumns[] = {{"cdrRecordType", 2, CellKind::kText},
                                         {"datetimeOrigination", 19, CellKind::kDateTime},
                                         {"CallingPartyNumber", 24, CellKind::kText},
                                         {"originalCalledPartyNumber", 30, CellKind::kText},
                                         {"duration", 10, CellKind::kText}};
    for (const Fixed& fixed : kDefaultColumns) {
      Cell cell;
      cell.column = FindColumn(result_columns, fixed.name);
      cell.width = fixed.width;
      if (cell.column < 0) {
        cell.kind = CellKind::kBlanks;
        cell.trailing = fixed.kind == CellKind::kText && fixed.width == 10 ? 0 : 1;
      } else {
        cell.kind = fixed.kind;
      }
      cells_.push_back(cell);
    }
    return;
  }
  const bool formatted = fields.layout == LineLayout::kFormatted;
  const int duration_column = FindColumn(result_columns, "duration");
  for (const FieldEntry& entry : fields.entries) {
    Cell cell;
    cell.width = entry.width;
    cell.column = FindColumn(result_columns, entry.name);
    if (cell.column < 0) {
      cell.kind = CellKind::kBlanks;
    } else if (formatted && StartsWithUpper(entry.name, "DATETIME")) {
      cell.kind = CellKind::kDateTime;
      cell.right = false;
    } else if (formatted && StartsWithUpper(entry.name, "DURATION")) {
      // Every DURATION... entry shows the column "duration" itself.
      cell.column = duration_column;
      cell.kind = duration_column < 0 ? CellKind::kBlanks : CellKind::kText;
    } else {
      cell.kind = CellKind::kText;
    }
    cells_.push_back(cell);
  }
}

void LineFormatter::Format(const ResultRow& row, std::string& line) const {
  line.clear();
  if (comma_) {
    FormatBackupLine(row, column_count_, line);
    return;
  }
  char date_text[kDateTimeLength + 1];
  for (const Cell& cell : cells_) {
    switch (cell.kind) {
      case CellKind::kBlanks:
        line.append(static_cast<std::size_t>(cell.width), ' ');
        break;
      case CellKind::kText:
        AppendJustified(line, row.Text(static_cast<std::size_t>(cell.column)), cell.width,
                        cell.right);
        break;
      case CellKind::kDateTime: {
        const double seconds = row.Number(static_cast<std::size_t>(cell.column));
        const std::size_t n = FormatDateTimeTo(converter_.ToLocal(seconds), date_text);
        AppendJustified(line, std::string_view(date_text, n), cell.width, cell.right);
        break;
      }
    }
    line.append(static_cast<std::size_t>(cell.trailing), ' ');
  }
}

std::vector<int> LineFormatter::ColumnsRead() const {
  std::vector<bool> read(column_count_, comma_);
  for (const Cell& cell : cells_) {
    if (cell.kind != CellKind::kBlanks) read[static_cast<std::size_t>(cell.column)] = true;
  }
  std::vector<int> columns;
  for (std::size_t i = 0; i < read.size(); ++i) {
    if (read[i]) columns.push_back(static_cast<int>(i));
  }
  return columns;
}

std::string BackupHeaderLine(const std::vector<std::string>& result_columns) {
  std::string line;
  for (const std::string& name : result_columns) AppendCommaValue(line, name);
  return line;
}

void FormatBackupLine(const ResultRow& row, std::size_t column_count, std::string& line) {
  // Values are joined first as they come; only when a byte below "-" other than the separators
  // shows up is each value looked at. Records of numbers and names never take that way.
  line.clear();
  for (std::size_t i = 0; i < column_count; ++i) line.append(row.Text(i)).push_back(',');
  if (CountBelowDash(line) == column_count) return;
  line.clear();
  for (std::size_t i = 0; i < column_count; ++i) AppendCommaValue(line, row.Text(i));
}

}  // namespace remoteccm
