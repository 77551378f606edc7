// The field list that lays out the destination lines: read from the field-list files of the
// program home (CCM_FIELDS.INF, then CCM_FLDS.INI, then SQL_FIELDS.INF).
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace remoteccm {

enum class LineLayout {
  kDefault,    // no field list: the five fixed columns
  kFormatted,  // CCM_FIELDS: date/time columns converted to local time
  kRaw,        // SQL_FIELDS: every column as its text
  kComma,      // "CSV" = "Y": every column of the result followed by ","
};

inline constexpr int kMaxFieldWidth = 255;

struct FieldEntry {
  std::string name;  // a CDR column name, matched without regard to case
  int width = 0;     // 1..255
};

struct FieldList {
  LineLayout layout = LineLayout::kDefault;
  std::vector<FieldEntry> entries;
  std::string source_log_line;  // "Using configured CCM_FIELDS" / "Using configured SQL_FIELDS"
  bool width_capped = false;    // an entry was wider than 255 and was cut to 255
  // A field-list file that is there but cannot be read, and why: its lines must not be laid
  // out by the next file or the default layout instead.
  std::string read_error;
};

// A file whose entries are all unusable (no positive width) counts as yielding no lines, so
// that the next file, or the default layout, applies instead of lines left blank.
FieldList ReadFieldList(const std::filesystem::path& program_home);

// The list of one field-list file's section (its key=value pairs in file order), laid out as
// `layout` unless it says "CSV=Y"; an empty list (layout kDefault) when no entry is usable.
FieldList FieldListOfSection(const std::vector<std::pair<std::string, std::string>>& pairs,
                             LineLayout layout);

}  // namespace remoteccm
