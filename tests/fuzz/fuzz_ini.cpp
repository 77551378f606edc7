// The INI rules over any bytes, in memory: reads, section listing, a write and an erase. No
// crash, and a written value reads back. The file side (locks, replacement) has its unit tests.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "util/ini_file.h"
#include "util/text_routines.h"

using namespace remoteccm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  IniContent content = IniContent::FromText(std::string(text));
  // Section and key names taken from the input itself, so they sometimes match.
  const std::string section(text.substr(0, size > 4 ? 4 : size));
  const std::string key(text.substr(size > 4 ? 4 : size, 3));

  if (content.Value(section, key).size() > kIniValueMax) std::abort();
  for (const auto& [name, item] : content.Section(section)) {
    if (item.empty() || item.size() > kIniValueMax) std::abort();
  }
  content.Value("Options", "SQLTableName");

  content.Write("Options", "Fuzz", "value");
  if (content.Value("Options", "Fuzz") != "value") std::abort();
  // A readable name (no line break, "=", "]" or surrounding blanks) reads back what was put.
  const std::string clean_key = Trim(key);
  if (!clean_key.empty() && clean_key.find_first_of("\r\n=[]") == std::string::npos &&
      clean_key.find('\0') == std::string::npos) {
    content.Write("Options", clean_key, "v2");
    if (content.Value("Options", clean_key) != "v2") std::abort();
  }
  content.EraseSection("Options");
  if (!content.Value("Options", "Fuzz").empty()) std::abort();
  // What the edits made reads the same from its own text.
  const IniContent again = IniContent::FromText(content.Text());
  if (again.Value(section, key) != content.Value(section, key)) std::abort();
  return 0;
}
