#include "profile/sql_script.h"

#include <map>
#include <string_view>

#include "util/ini_file.h"
#include "util/posix_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

// Scripts are a few kilobytes; a larger file is not one.
constexpr std::size_t kScriptFileMax = std::size_t{16} * 1024 * 1024;

struct ScriptSection {
  std::size_t entries = 0;
  std::map<std::string, std::string> values;  // upper-cased key -> value of its first line
};

std::optional<std::vector<std::string>> LinesOf(const ScriptSection& section,
                                                std::string_view stem) {
  if (section.entries == 0) return std::nullopt;
  std::vector<std::string> lines;
  for (std::size_t i = 0; i <= section.entries; ++i) {
    const auto at = section.values.find(UpperCase(stem) + std::to_string(i));
    if (at == section.values.end()) continue;
    const std::string& value = at->second;
    if (value == "<end>" || TrimView(value).empty()) continue;
    lines.push_back(value.substr(0, kIniValueMax));
  }
  return lines;
}

}  // namespace

SqlScript ReadSqlScript(const std::filesystem::path& file) {
  SqlScript script;
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  if (error || size > kScriptFileMax) return script;
  std::optional<std::string> content = ReadWholeFile(file);
  if (!content) return script;

  std::map<std::string, ScriptSection> sections;  // the first section of each name
  ScriptSection* current = nullptr;
  std::string_view rest(*content);
  while (!rest.empty()) {
    const std::size_t brk = rest.find_first_of("\r\n");
    std::string line(rest.substr(0, brk));
    rest.remove_prefix(brk == std::string_view::npos ? rest.size() : brk + 1);
    // A NUL or other control character would end or break the line in the memo and the profile.
    for (char& c : line) {
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t') c = ' ';
    }
    const std::string_view trimmed = TrimView(line);
    if (!trimmed.empty() && trimmed.front() == '[') {
      std::string_view name = trimmed.substr(1);
      name = TrimView(name.substr(0, name.find(']')));
      const auto [at, fresh] = sections.try_emplace(UpperCase(name));
      current = fresh ? &at->second : nullptr;
      continue;
    }
    const std::size_t equal = line.find('=');
    if (current == nullptr || equal == std::string::npos) continue;
    std::string value = line.substr(equal + 1);
    if (TrimView(value).empty()) continue;
    ++current->entries;
    current->values.try_emplace(UpperCase(TrimView(std::string_view(line).substr(0, equal))),
                                std::move(value));
  }
  script.connect_sql = LinesOf(sections["CONNECT_SQL"], "ConnectSQL");
  script.disconnect_sql = LinesOf(sections["DISCONNECT_SQL"], "DisconnectSQL");
  return script;
}

}  // namespace remoteccm
