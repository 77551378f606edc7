#include "retrieval/layout/field_list.h"

#include "util/ini_file.h"
#include "util/posix_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

struct FieldFile {
  const char* file_name;
  const char* section;
  LineLayout layout;
  const char* log_line;
};

constexpr FieldFile kFieldFiles[] = {
    {"CCM_FIELDS.INF", "CCM_FIELDS", LineLayout::kFormatted, "Using configured CCM_FIELDS"},
    {"CCM_FLDS.INI", "CCM_FIELDS", LineLayout::kFormatted, "Using configured CCM_FIELDS"},
    {"SQL_FIELDS.INF", "SQL_FIELDS", LineLayout::kRaw, "Using configured SQL_FIELDS"},
};

}  // namespace

FieldList ReadFieldList(const std::filesystem::path& program_home) {
  for (const FieldFile& file : kFieldFiles) {
    const std::filesystem::path path = program_home / file.file_name;
    FieldList list;
    if (const std::string why = FileReadError(path); !why.empty()) {
      list.read_error = "The field list " + path.string() + " cannot be read: " + why + ".";
      return list;
    }
    list = FieldListOfSection(ReadProfileSection(path, file.section), file.layout);
    if (list.layout == LineLayout::kDefault) continue;
    list.source_log_line = file.log_line;
    return list;
  }
  return FieldList{};
}

FieldList FieldListOfSection(const std::vector<std::pair<std::string, std::string>>& pairs,
                             LineLayout layout) {
  FieldList list;
  bool comma = false;
  for (const auto& [name, value] : pairs) {
    if (SameText(Trim(name), "CSV")) {
      if (SameText(value, "Y")) comma = true;
      continue;
    }
    int width = ParseWhole(value);
    if (width <= 0) continue;
    if (width > kMaxFieldWidth) {
      width = kMaxFieldWidth;
      list.width_capped = true;
    }
    list.entries.push_back(FieldEntry{Trim(name), width});
  }
  if (comma) {
    list.layout = LineLayout::kComma;
  } else if (!list.entries.empty()) {
    list.layout = layout;
  }
  return list;
}

}  // namespace remoteccm
