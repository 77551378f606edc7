#include "retrieval/layout/field_selection.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include "util/ini_file.h"
#include "util/posix_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kCommaKey = "CSV";

struct WidthByName {
  std::string_view part;  // upper case
  int width;
};

// The first part the upper-cased name contains decides.
constexpr std::array<WidthByName, 6> kWidthsByName = {{{"CDRRECORDTYPE", 1},
                                                       {"CALLINGPARTYNUMBER", 22},
                                                       {"ORIGINALCALLEDPARTYNUMBER", 24},
                                                       {"DATETIME", 22},
                                                       {"CLIENTMATTERCODE", 16},
                                                       {"DURATION", 8}}};

constexpr std::array<std::string_view, 6> kBuiltInDefaults = {
    "cdrRecordType", "datetimeOrigination", "CallingPartyNumber", "originalCalledPartyNumber",
    "duration",      "clientMatterCode"};

// The index of the available column named so without regard to case, or -1.
int IndexOf(const std::vector<AvailableField>& available, std::string_view name) {
  for (std::size_t i = 0; i < available.size(); ++i) {
    if (SameText(available[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

// The name of a "[name]" header line, trimmed; none for any other line.
std::optional<std::string_view> SectionHeader(std::string_view line) {
  line = TrimView(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  return TrimView(line.substr(0, line.find(']')));
}

}  // namespace

int DefaultFieldWidth(std::string_view column_name, long max_length) {
  const std::string upper = UpperCase(column_name);
  for (const WidthByName& rule : kWidthsByName) {
    if (upper.find(rule.part) != std::string::npos) return rule.width;
  }
  if (max_length <= 0 || max_length > 0x7fffffff) return 10;
  return static_cast<int>(max_length);
}

std::vector<AvailableField> AvailableFieldsOf(const std::vector<DbColumnInfo>& columns) {
  std::vector<AvailableField> available;
  for (const DbColumnInfo& column : columns) {
    if (IndexOf(available, column.name) >= 0) continue;
    available.push_back({column.name, DefaultFieldWidth(column.name, column.max_length)});
  }
  return available;
}

bool OffersField(const std::vector<AvailableField>& available, std::string_view name) {
  return IndexOf(available, TrimView(name)) >= 0;
}

std::optional<std::vector<SelectedField>> StoredFieldSelection(
    const std::filesystem::path& program_home) {
  const auto entries =
      ReadProfileSection(program_home / std::string(kFieldListFile), kFieldListSection);
  std::vector<SelectedField> rows;
  for (const auto& [name, value] : entries) {
    if (!SameText(TrimView(name), kCommaKey)) rows.push_back({Trim(name), Trim(value)});
  }
  if (rows.empty()) return std::nullopt;
  return rows;
}

std::vector<SelectedField> DefaultFieldSelection(const std::filesystem::path& program_home,
                                                 const std::vector<AvailableField>& available) {
  std::vector<std::pair<std::string, int>> wanted;
  for (const auto& [name, value] :
       ReadProfileSection(program_home / std::string(kDefaultFieldsFile), kFieldListSection)) {
    if (IndexOf(available, Trim(name)) >= 0) wanted.emplace_back(Trim(name), ParseWhole(value));
  }
  if (wanted.empty()) {
    for (std::string_view name : kBuiltInDefaults) wanted.emplace_back(std::string(name), 0);
  }
  std::vector<SelectedField> rows;
  for (const auto& [name, width] : wanted) {
    const int index = IndexOf(available, name);
    if (index < 0) continue;
    const AvailableField& field = available[static_cast<std::size_t>(index)];
    rows.push_back({Trim(field.name), std::to_string(width > 0 ? width : field.length)});
  }
  return rows;
}

int RecordLength(const std::vector<SelectedField>& rows) {
  long long total = 0;
  for (const SelectedField& row : rows) total += static_cast<long long>(ParseWhole(row.width)) + 1;
  return static_cast<int>(std::clamp<long long>(total, -0x7fffffffLL, 0x7fffffffLL));
}

void SaveFieldSelection(const std::filesystem::path& program_home,
                        const std::vector<SelectedField>& rows) {
  const std::filesystem::path file = program_home / std::string(kFieldListFile);
  const FolderLock lock(program_home);
  std::string old;
  std::error_code error;
  if (std::filesystem::exists(file, error)) {
    // A file that is there but cannot be read is never replaced by a guess.
    std::optional<std::string> content = ReadWholeFile(file);
    if (!content) ThrowFileError("Cannot read", file, errno != 0 ? errno : EIO);
    old = std::move(*content);
  }
  std::string kept;
  std::string comma_line;
  bool inside = false;
  std::size_t pos = 0;
  while (pos < old.size()) {
    std::size_t end = old.find('\n', pos);
    end = end == std::string::npos ? old.size() : end + 1;
    const std::string_view line = std::string_view(old).substr(pos, end - pos);
    pos = end;
    if (const auto name = SectionHeader(line)) inside = SameText(*name, kFieldListSection);
    if (!inside) {
      kept.append(line);
      continue;
    }
    const std::size_t equal = line.find('=');
    if (comma_line.empty() && equal != std::string_view::npos &&
        SameText(TrimView(line.substr(0, equal)), kCommaKey)) {
      comma_line = Trim(line);
    }
  }
  if (!kept.empty() && kept.back() != '\n') kept.append(kLineEnd);
  kept += "[" + std::string(kFieldListSection) + "]" + std::string(kLineEnd);
  for (const SelectedField& row : rows) {
    if (TrimView(row.name).empty()) continue;
    kept += row.name + "=" + row.width + std::string(kLineEnd);
  }
  if (!comma_line.empty()) kept += comma_line + std::string(kLineEnd);
  const mode_t mode = FileMode(file).value_or(0644);
  ReplaceFileContent(file, kept, mode);
}

}  // namespace remoteccm
