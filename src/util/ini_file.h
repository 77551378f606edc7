// INI files read and written with the Windows profile-file rules that profiles, field lists and
// the install-area store rely on: case-insensitive names, trimmed values, one pair of quotes
// removed, 2047-character values, the first of two equal keys counts, CR LF lines, 8-bit text.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace remoteccm {

inline constexpr std::size_t kIniValueMax = 2047;

// "Unable to write to %s" with the file path.
class IniWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The value of key in section; empty when the file, section or key is missing or unreadable.
std::string ReadProfileValue(const std::filesystem::path& file, std::string_view section,
                             std::string_view key);

// Replaces the key's value in place, or appends the key at the end of its section (a missing
// section is appended, a missing file created). Never leaves a half-written file: the new
// content is written beside it and renamed over it. Throws IniWriteError.
void WriteProfileValue(const std::filesystem::path& file, std::string_view section,
                       std::string_view key, std::string_view value);

// The key=value pairs of a section in file order, read by the same rules; a key that occurs
// twice counts once, keys with an empty value are left out.
std::vector<std::pair<std::string, std::string>> ReadProfileSection(
    const std::filesystem::path& file, std::string_view section);

// Removes a section with all its keys (nothing when it is missing). Throws IniWriteError.
void EraseProfileSection(const std::filesystem::path& file, std::string_view section);

}  // namespace remoteccm
