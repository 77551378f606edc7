#include "util/ini_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

#include "util/text_routines.h"

namespace remoteccm {
namespace {

constexpr const char* kLineEnd = "\r\n";
// Profiles, field lists and the store are a few kilobytes; a file beyond this is not one of
// them and is neither read nor replaced.
constexpr off_t kIniFileMax = off_t{16} * 1024 * 1024;

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

// The value as the profile rules read it: trimmed, one enclosing pair of quotes removed, cut.
std::string CleanValue(std::string_view raw) {
  std::string_view value = TrimView(raw);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  if (value.size() > kIniValueMax) value = value.substr(0, kIniValueMax);
  return std::string(value);
}

enum class LoadResult { kLoaded, kMissing, kFailed };

// Reads the whole file; a missing file is kMissing, anything else unreadable kFailed.
LoadResult LoadFile(const std::filesystem::path& file, std::string& content) {
  content.clear();
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? LoadResult::kMissing : LoadResult::kFailed;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kIniFileMax) {
    ::close(fd);
    return LoadResult::kFailed;
  }
  if (info.st_size > 0) content.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      content.clear();
      return LoadResult::kFailed;
    }
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
    if (content.size() > static_cast<std::size_t>(kIniFileMax)) {
      ::close(fd);
      content.clear();
      return LoadResult::kFailed;
    }
  }
  ::close(fd);
  return LoadResult::kLoaded;
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

[[noreturn]] void ThrowWriteError(const std::filesystem::path& file) {
  throw IniWriteError("Unable to write to " + file.string());
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

bool WriteAll(int fd, std::string_view data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t put = ::write(fd, data.data() + done, data.size() - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(put);
  }
  return true;
}

// Replaces file by content: a temporary file beside it, made durable, renamed over it.
void ReplaceFile(const std::filesystem::path& shown, const std::filesystem::path& target,
                 std::string_view content, mode_t mode) {
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) ThrowWriteError(shown);
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
    ::unlink(temp.c_str());
    ThrowWriteError(shown);
  }
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

// Holds an exclusive lock on the file's folder while a change is read, made and renamed into
// place, so two processes changing the same file (the engine moving the start point on while
// the profile is saved) do not lose each other's keys. Without a readable folder, no lock.
class FolderLock {
 public:
  explicit FolderLock(const std::filesystem::path& target) {
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_ = -1;
};

// Loads the file for a change: the content and the mode to keep. Throws when the existing file
// cannot be read in full or may not be written, so it is never replaced by a guess.
std::string LoadForWrite(const std::filesystem::path& shown, const std::filesystem::path& target,
                         mode_t& mode) {
  std::string content;
  switch (LoadFile(target, content)) {
    case LoadResult::kMissing:
      mode = 0600;
      return content;
    case LoadResult::kFailed:
      ThrowWriteError(shown);
    case LoadResult::kLoaded:
      break;
  }
  struct stat info {};
  // A file without any write permission is read-only for everyone, the superuser included.
  if (::stat(target.c_str(), &info) != 0 || ::access(target.c_str(), W_OK) != 0 ||
      (info.st_mode & 0222) == 0) {
    ThrowWriteError(shown);
  }
  mode = info.st_mode & 07777;
  return content;
}

}  // namespace

std::string ReadProfileValue(const std::filesystem::path& file, std::string_view section,
                             std::string_view key) {
  std::string content;
  if (LoadFile(file, content) != LoadResult::kLoaded) return {};
  std::string result;
  bool inside = false;
  bool seen_section = false;
  ForEachLine(content, [&](const IniLine& line) {
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

std::vector<std::pair<std::string, std::string>> ReadProfileSection(
    const std::filesystem::path& file, std::string_view section) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::string content;
  if (LoadFile(file, content) != LoadResult::kLoaded) return pairs;
  const SectionSpan span = FindSection(content, section);
  if (!span.found) return pairs;
  std::vector<std::string_view> seen;
  ForEachLine(std::string_view(content).substr(span.body_begin, span.body_end - span.body_begin),
              [&](const IniLine& line) {
                std::string_view key;
                std::string_view raw;
                if (!KeyLine(line.text, key, raw)) return true;
                for (const std::string_view other : seen) {
                  if (SameText(other, key)) return true;
                }
                seen.push_back(key);
                std::string value = CleanValue(raw);
                if (!value.empty()) pairs.emplace_back(std::string(key), std::move(value));
                return true;
              });
  return pairs;
}

void WriteProfileValue(const std::filesystem::path& file, std::string_view section,
                       std::string_view key, std::string_view value) {
  const std::filesystem::path target = WriteTarget(file);
  const FolderLock lock(target);
  mode_t mode = 0600;
  std::string content = LoadForWrite(file, target, mode);
  const std::string clean_section = OneLine(Trim(section));
  const std::string clean_key = OneLine(Trim(key));
  const std::string new_line = clean_key + "=" + OneLine(value) + kLineEnd;

  const SectionSpan span = FindSection(content, clean_section);
  if (!span.found) {
    if (!content.empty() && content.back() != '\n' && content.back() != '\r') content += kLineEnd;
    content += "[" + clean_section + "]" + kLineEnd + new_line;
  } else {
    // The first line of the section that holds the key is replaced, line end included.
    bool replaced = false;
    const std::string_view body =
        std::string_view(content).substr(span.body_begin, span.body_end - span.body_begin);
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
      content.replace(line_begin, line_end - line_begin, new_line);
    } else {
      content.insert(span.insert_at,
                     span.insert_needs_line_end ? std::string(kLineEnd) + new_line : new_line);
    }
  }
  ReplaceFile(file, target, content, mode);
}

void EraseProfileSection(const std::filesystem::path& file, std::string_view section) {
  const std::filesystem::path target = WriteTarget(file);
  const FolderLock lock(target);
  std::string content;
  if (LoadFile(target, content) == LoadResult::kMissing) return;
  mode_t mode = 0600;
  content = LoadForWrite(file, target, mode);
  std::string kept;
  kept.reserve(content.size());
  bool erasing = false;
  bool erased = false;
  ForEachLine(content, [&](const IniLine& line) {
    std::string_view name;
    if (SectionName(line.text, name)) erasing = SameText(name, Trim(section));
    if (erasing) {
      erased = true;
    } else {
      kept.append(content, line.begin, line.end - line.begin);
    }
    return true;
  });
  if (erased) ReplaceFile(file, target, kept, mode);
}

}  // namespace remoteccm
