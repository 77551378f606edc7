#include "util/ini_file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>

#include "util/posix_file.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

constexpr const char* kLineEnd = "\r\n";
// Profiles, field lists and the store are a few kilobytes; a file beyond this is not one of
// them and is neither read nor replaced.
constexpr std::size_t kIniFileMax = std::size_t{16} * 1024 * 1024;

// One physical line of the file: its text without the line end, and where it starts.
struct IniLine {
  std::string_view text;
  std::size_t begin = 0;  // offset of the first character
  std::size_t end = 0;    // offset just past the line end (CR LF, LF or CR), if any
  bool has_line_end = false;
};

// Splits on CR LF, LF or a lone CR. Calls visit(line) for each line until it returns false.
template <typename Visit>
void ForEachLine(std::string_view content, Visit visit) {
  std::size_t pos = 0;
  while (pos < content.size()) {
    std::size_t stop = pos;
    while (stop < content.size() && content[stop] != '\n' && content[stop] != '\r') ++stop;
    IniLine line;
    line.text = content.substr(pos, stop - pos);
    line.begin = pos;
    if (stop < content.size()) {
      line.has_line_end = true;
      stop +=
          (content[stop] == '\r' && stop + 1 < content.size() && content[stop + 1] == '\n') ? 2 : 1;
    }
    line.end = stop;
    if (!visit(line)) return;
    pos = stop;
  }
}

// When the line is a section header "[name]", its name (trimmed); else false.
bool SectionName(std::string_view line, std::string_view& name) {
  const std::string_view trimmed = TrimView(line);
  if (trimmed.empty() || trimmed.front() != '[') return false;
  std::string_view inner = trimmed.substr(1);
  const std::size_t close = inner.find(']');
  if (close != std::string_view::npos) inner = inner.substr(0, close);
  name = TrimView(inner);
  return true;
}

// When the line is "key=value", its key (trimmed) and raw value; else false.
bool KeyLine(std::string_view line, std::string_view& key, std::string_view& raw_value) {
  const std::size_t equal = line.find('=');
  if (equal == std::string_view::npos) return false;
  key = TrimView(line.substr(0, equal));
  raw_value = line.substr(equal + 1);
  return true;
}

// The value as the profile rules read it: trimmed, one enclosing pair of quotes removed, cut,
// and ending at its first NUL byte (the platform's reading hands values out as C strings; a
// path that went on after the NUL would name another file than the one opened).
std::string CleanValue(std::string_view raw) {
  std::string_view value = TrimView(raw);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  if (value.size() > kIniValueMax) value = value.substr(0, kIniValueMax);
  value = value.substr(0, value.find('\0'));
  return std::string(value);
}

enum class LoadResult { kLoaded, kMissing, kNotRegular, kFailed };

// Reads the whole file; a missing file is kMissing, a pipe, device or folder kNotRegular
// (refused unread: opened without blocking), anything else unreadable kFailed with the cause in
// error_number.
LoadResult LoadFile(const std::filesystem::path& file, std::string& content, int& error_number) {
  content.clear();
  error_number = 0;
  const FileDescriptor fd = TryOpenFile(file, O_RDONLY | kOpenWithoutWaiting, error_number);
  if (!fd.IsOpen()) {
    // Windows opens no folder as a file: it is said what POSIX says of a folder opened.
    if (error_number == EISDIR) return LoadResult::kNotRegular;
    return error_number == ENOENT ? LoadResult::kMissing : LoadResult::kFailed;
  }
  const std::int64_t size = RegularFileSize(fd.Get());
  if (size < 0) return LoadResult::kNotRegular;
  if (static_cast<std::uintmax_t>(size) > kIniFileMax) {
    error_number = EFBIG;
    return LoadResult::kFailed;
  }
  if (size > 0) content.reserve(static_cast<std::size_t>(size));
  char buffer[16384];
  for (;;) {
    const std::int64_t got = ReadSome(fd.Get(), buffer, sizeof buffer);
    if (got < 0 || content.size() + static_cast<std::size_t>(got) > kIniFileMax) {
      error_number = got < 0 ? errno : EFBIG;
      content.clear();
      return LoadResult::kFailed;
    }
    if (got == 0) return LoadResult::kLoaded;
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

// The bounds of the first section of that name: from the line after its header to the start
// of the next header (or the end). The end of its last key line is kept in last_line_end.
struct SectionSpan {
  bool found = false;
  std::size_t body_begin = 0;
  std::size_t body_end = 0;
  std::size_t insert_at = 0;  // just past the last non-blank line of the section
  bool insert_needs_line_end = false;
};

SectionSpan FindSection(std::string_view content, std::string_view section) {
  SectionSpan span;
  bool inside = false;
  ForEachLine(content, [&](const IniLine& line) {
    std::string_view name;
    if (SectionName(line.text, name)) {
      if (inside) {
        span.body_end = line.begin;
        return false;
      }
      if (SameText(name, section)) {
        inside = true;
        span.found = true;
        span.body_begin = line.end;
        span.body_end = content.size();
        span.insert_at = line.end;
        span.insert_needs_line_end = !line.has_line_end;
      }
      return true;
    }
    if (inside && !TrimView(line.text).empty()) {
      span.insert_at = line.end;
      span.insert_needs_line_end = !line.has_line_end;
    }
    return true;
  });
  return span;
}

// Line breaks in a name or value would split the line and make other keys of it.
std::string OneLine(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return result;
}

[[noreturn]] void ThrowWriteError(const std::filesystem::path& file, int error_number,
                                  std::string_view reason) {
  throw IniWriteError("Unable to write to " + file.string() + ": " + std::string(reason),
                      error_number);
}

[[noreturn]] void ThrowWriteError(const std::filesystem::path& file, int error_number) {
  ThrowWriteError(file, error_number, std::strerror(error_number));
}

// The file a write replaces: the target of a symbolic link, so the link itself survives.
std::filesystem::path WriteTarget(const std::filesystem::path& file) {
  std::error_code error;
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(file, error))) {
    std::filesystem::path resolved = std::filesystem::weakly_canonical(file, error);
    if (!error) return resolved;
  }
  return file;
}

// Loads the file for a change: the content and the mode to keep. Throws when the existing file
// cannot be read in full or may not be written, so it is never replaced by a guess.
std::string LoadForWrite(const std::filesystem::path& shown, const std::filesystem::path& target,
                         mode_t& mode) {
  std::string content;
  int error_number = 0;
  switch (LoadFile(target, content, error_number)) {
    case LoadResult::kMissing:
      mode = 0600;
      return content;
    case LoadResult::kNotRegular:
      ThrowWriteError(shown, EINVAL, "it is not a regular file");
    case LoadResult::kFailed:
      ThrowWriteError(shown, error_number);
    case LoadResult::kLoaded:
      break;
  }
  if (!MayReplace(target, mode)) ThrowWriteError(shown, errno);
  return content;
}

}  // namespace

IniContent IniContent::Read(const std::filesystem::path& file) {
  std::string content;
  int error_number = 0;
  if (LoadFile(file, content, error_number) != LoadResult::kLoaded) content.clear();
  return IniContent(std::move(content));
}

std::string IniContent::Value(std::string_view section, std::string_view key) const {
  std::string result;
  bool inside = false;
  bool seen_section = false;
  ForEachLine(text_, [&](const IniLine& line) {
    std::string_view name;
    if (SectionName(line.text, name)) {
      if (inside) return false;
      if (!seen_section && SameText(name, section)) inside = seen_section = true;
      return true;
    }
    if (!inside) return true;
    std::string_view line_key;
    std::string_view raw;
    if (KeyLine(line.text, line_key, raw) && SameText(line_key, TrimView(key))) {
      result = CleanValue(raw);
      return false;
    }
    return true;
  });
  return result;
}

std::vector<std::pair<std::string, std::string>> IniContent::Section(
    std::string_view section) const {
  std::vector<std::pair<std::string, std::string>> pairs;
  const SectionSpan span = FindSection(text_, section);
  if (!span.found) return pairs;
  ForEachLine(std::string_view(text_).substr(span.body_begin, span.body_end - span.body_begin),
              [&](const IniLine& line) {
                std::string_view key;
                std::string_view raw;
                if (!KeyLine(line.text, key, raw)) return true;
                std::string value = CleanValue(raw);
                if (!value.empty()) pairs.emplace_back(std::string(key), std::move(value));
                return true;
              });
  return pairs;
}

void IniContent::Write(std::string_view section, std::string_view key, std::string_view value) {
  const std::string clean_section = OneLine(Trim(section));
  const std::string clean_key = OneLine(Trim(key));
  const std::string new_line = clean_key + "=" + OneLine(value) + kLineEnd;

  const SectionSpan span = FindSection(text_, clean_section);
  if (!span.found) {
    if (!text_.empty() && text_.back() != '\n' && text_.back() != '\r') {
      text_ += kLineEnd;
    }
    text_ += "[" + clean_section + "]" + kLineEnd + new_line;
    return;
  }
  // The first line of the section that holds the key is replaced, line end included.
  bool replaced = false;
  const std::string_view body =
      std::string_view(text_).substr(span.body_begin, span.body_end - span.body_begin);
  std::size_t line_begin = 0;
  std::size_t line_end = 0;
  ForEachLine(body, [&](const IniLine& line) {
    std::string_view line_key;
    std::string_view raw;
    if (KeyLine(line.text, line_key, raw) && SameText(line_key, clean_key)) {
      replaced = true;
      line_begin = span.body_begin + line.begin;
      line_end = span.body_begin + line.end;
      return false;
    }
    return true;
  });
  if (replaced) {
    text_.replace(line_begin, line_end - line_begin, new_line);
  } else {
    text_.insert(span.insert_at,
                 span.insert_needs_line_end ? std::string(kLineEnd) + new_line : new_line);
  }
}

bool IniContent::EraseSection(std::string_view section) {
  std::string kept;
  kept.reserve(text_.size());
  bool erasing = false;
  bool erased = false;
  ForEachLine(text_, [&](const IniLine& line) {
    std::string_view name;
    if (SectionName(line.text, name)) erasing = SameText(name, Trim(section));
    if (erasing) {
      erased = true;
    } else {
      kept.append(text_, line.begin, line.end - line.begin);
    }
    return true;
  });
  if (!erased) return false;
  text_ = std::move(kept);
  return true;
}

IniFileEdit::IniFileEdit(const std::filesystem::path& file)
    : shown_(file), target_(WriteTarget(file)), lock_(FolderOf(target_)) {
  content_ = IniContent::FromText(LoadForWrite(shown_, target_, mode_));
}

void IniFileEdit::Write(std::string_view section, std::string_view key, std::string_view value) {
  content_.Write(section, key, value);
  changed_ = true;
}

void IniFileEdit::EraseSection(std::string_view section) {
  if (content_.EraseSection(section)) changed_ = true;
}

void IniFileEdit::Commit() {
  if (!changed_) return;
  // A file this program could not read back is not written either.
  if (content_.Text().size() > kIniFileMax) ThrowWriteError(shown_, EFBIG);
  try {
    ReplaceFileContent(target_, content_.Text(), mode_);
  } catch (const FileError& e) {
    ThrowWriteError(shown_, e.ErrorNumber());
  }
  changed_ = false;
}

std::string ReadProfileValue(const std::filesystem::path& file, std::string_view section,
                             std::string_view key) {
  return IniContent::Read(file).Value(section, key);
}

std::vector<std::pair<std::string, std::string>> ReadProfileSection(
    const std::filesystem::path& file, std::string_view section) {
  return IniContent::Read(file).Section(section);
}

void WriteProfileValue(const std::filesystem::path& file, std::string_view section,
                       std::string_view key, std::string_view value) {
  IniFileEdit edit(file);
  edit.Write(section, key, value);
  edit.Commit();
}

void EraseProfileSection(const std::filesystem::path& file, std::string_view section) {
  IniFileEdit edit(file);
  edit.EraseSection(section);
  edit.Commit();
}

}  // namespace remoteccm
