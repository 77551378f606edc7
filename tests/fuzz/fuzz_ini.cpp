// The INI access on a file made of any bytes: reads, section listing, a write and an erase in
// a scratch folder. No crash, and a written value reads back.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "util/ini_file.h"
#include "util/text_routines.h"

using namespace remoteccm;

namespace {

std::filesystem::path ScratchFile() {
  static const std::filesystem::path file = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "fuzz-ini-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    static const std::string folder = pattern;
    std::atexit([] {
      std::error_code error;
      std::filesystem::remove_all(folder, error);
    });
    return std::filesystem::path(pattern) / "fuzz.ini";
  }();
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path file = ScratchFile();
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  // Section and key names taken from the input itself, so they sometimes match.
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string section(text.substr(0, size > 4 ? 4 : size));
  const std::string key(text.substr(size > 4 ? 4 : size, 3));

  const std::string value = ReadProfileValue(file, section, key);
  if (value.size() > kIniValueMax) std::abort();
  for (const auto& [name, item] : ReadProfileSection(file, section)) {
    if (item.empty() || item.size() > kIniValueMax) std::abort();
  }
  ReadProfileValue(file, "Options", "SQLTableName");

  WriteProfileValue(file, "Options", "Fuzz", "value");
  if (ReadProfileValue(file, "Options", "Fuzz") != "value") std::abort();
  // A readable name (no line break, "=", "]" or surrounding blanks) reads back what was put.
  const std::string clean_key = Trim(key);
  if (!clean_key.empty() && clean_key.find_first_of("\r\n=[]") == std::string::npos &&
      clean_key.find('\0') == std::string::npos) {
    WriteProfileValue(file, "Options", clean_key, "v2");
    if (ReadProfileValue(file, "Options", clean_key) != "v2") std::abort();
  }
  EraseProfileSection(file, "Options");
  if (!ReadProfileValue(file, "Options", "Fuzz").empty()) std::abort();
  return 0;
}
