// INI files read and written with the Windows profile-file rules that profiles, field lists and
// the install-area store rely on: case-insensitive names, trimmed values, one pair of quotes
// removed, 2047-character values that end at their first NUL byte, the first of two equal keys
// gives a key's value, CR LF lines, 8-bit text.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/posix_file.h"

namespace remoteccm {

inline constexpr std::size_t kIniValueMax = 2047;

// "Unable to write to PATH: " and what the system said (the errno's text).
class IniWriteError : public std::runtime_error {
 public:
  IniWriteError(const std::string& message, int error_number)
      : std::runtime_error(message), error_number_(error_number) {}
  int ErrorNumber() const { return error_number_; }

 private:
  int error_number_;
};

// The text of an INI file read once, looked up by the rules of ReadProfileValue: a whole
// profile is read from one state of its file.
class IniContent {
 public:
  IniContent() = default;
  // A missing, unreadable or oversized file, or anything but a regular file, reads as empty.
  static IniContent Read(const std::filesystem::path& file);
  // The content of a file that holds text.
  static IniContent FromText(std::string text) { return IniContent(std::move(text)); }

  std::string Value(std::string_view section, std::string_view key) const;
  // See ReadProfileSection.
  std::vector<std::pair<std::string, std::string>> Section(std::string_view section) const;

  // The edits of WriteProfileValue and EraseProfileSection, made in memory. EraseSection says
  // whether anything was removed.
  void Write(std::string_view section, std::string_view key, std::string_view value);
  bool EraseSection(std::string_view section);
  const std::string& Text() const { return text_; }

 private:
  explicit IniContent(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

// One change of a whole file: read once under its folder's lock, any number of key writes
// (the rules of WriteProfileValue) and section removals made in memory, then one replacement
// of the file. Nobody sees the file half changed, and a crash leaves it wholly old or new.
class IniFileEdit {
 public:
  // Locks the folder and reads the file (a missing one is created, mode 0600, by Commit).
  // Throws IniWriteError when the file exists but cannot be read in full or may not be written.
  explicit IniFileEdit(const std::filesystem::path& file);
  IniFileEdit(const IniFileEdit&) = delete;
  IniFileEdit& operator=(const IniFileEdit&) = delete;

  void Write(std::string_view section, std::string_view key, std::string_view value);
  void EraseSection(std::string_view section);
  // Replaces the file by the changed text, nothing when nothing was changed. IniWriteError.
  void Commit();

 private:
  std::filesystem::path shown_;   // the path the error message names
  std::filesystem::path target_;  // the file replaced: a symbolic link's target
  FolderLock lock_;
  mode_t mode_ = 0600;
  IniContent content_;
  bool changed_ = false;
};

// The value of key in section; empty when the file, section or key is missing or unreadable.
std::string ReadProfileValue(const std::filesystem::path& file, std::string_view section,
                             std::string_view key);

// Replaces the key's value in place, or appends the key at the end of its section (a missing
// section is appended, a missing file created): one IniFileEdit. Throws IniWriteError.
void WriteProfileValue(const std::filesystem::path& file, std::string_view section,
                       std::string_view key, std::string_view value);

// The key=value pairs of a section, one for every key line in file order (a key named twice
// gives two pairs), values read by the same rules; keys with an empty value are left out.
std::vector<std::pair<std::string, std::string>> ReadProfileSection(
    const std::filesystem::path& file, std::string_view section);

// Removes a section with all its keys (nothing when it is missing). Throws IniWriteError.
void EraseProfileSection(const std::filesystem::path& file, std::string_view section);

}  // namespace remoteccm
