#include "retrieval/run/late_arrivals.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "util/key_value_lines.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

constexpr std::string_view kHeader = "remoteccm late-arrivals 1";

bool ParseSeconds(std::string_view text, double& value) {
  std::int64_t whole = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), whole);
  value = static_cast<double>(whole);
  return error == std::errc() && end == text.data() + text.size();
}

std::string Seconds(double value) { return std::to_string(static_cast<std::int64_t>(value)); }

}  // namespace

std::filesystem::path LateArrivalPath(const std::filesystem::path& profile_path) {
  std::filesystem::path path = profile_path;
  path.replace_extension(".late");
  return path;
}

LateArrivalReading ReadLateArrivals(const std::filesystem::path& path,
                                    std::string_view profile_path, std::string_view table) {
  const std::optional<std::string> text = ReadWholeFile(path);
  if (!text) {
    LateArrivalReading reading;
    if (FileSize(path) >= 0) reading.state = LateArrivalReading::State::kDamaged;
    return reading;
  }
  return ParseLateArrivals(*text, profile_path, table);
}

LateArrivalReading ParseLateArrivals(std::string_view text, std::string_view profile_path,
                                     std::string_view table) {
  LateArrivalReading reading;
  reading.state = LateArrivalReading::State::kDamaged;
  LateArrivalMemory& memory = reading.memory;
  std::string_view body;
  if (HeaderLine(text, body) != kHeader) return reading;
  bool other = false;
  bool has_floor = false;
  bool has_start = false;
  const bool whole =
      ReadKeyValueLines(body, false, [&](std::string_view key, std::string_view value) {
        if (key == "profile") {
          other = other || EscapeLineValue(profile_path) != value;
          memory.profile_path = std::string(profile_path);
        } else if (key == "table") {
          other = other || EscapeLineValue(table) != value;
          memory.table = std::string(table);
        } else if (key == "floor") {
          has_floor = ParseSeconds(value, memory.floor);
          return has_floor;
        } else if (key == "complete-from") {
          return ParseSeconds(value, memory.complete_from);
        } else if (key == "stored-start") {
          has_start = ParseSeconds(value, memory.stored_start);
          return has_start;
        } else if (key == "key-column") {
          memory.key_columns.push_back(UnescapeLineValue(value));
        } else if (key == "seen") {
          const std::size_t space = value.find(' ');
          double date = 0;
          if (space == std::string_view::npos || !ParseSeconds(value.substr(0, space), date)) {
            return false;
          }
          memory.seen[std::string(value.substr(space + 1))] = date;
        } else {
          return false;
        }
        return true;
      });
  if (other) {
    reading.state = LateArrivalReading::State::kOtherProfile;
  } else if (whole && has_floor && has_start && !memory.profile_path.empty()) {
    reading.state = LateArrivalReading::State::kRead;
  }
  return reading;
}

void WriteLateArrivals(const std::filesystem::path& path, const LateArrivalMemory& memory) {
  ReplaceFileContent(path, LateArrivalText(memory), 0600);
}

std::string LateArrivalText(const LateArrivalMemory& memory) {
  std::string text;
  text.reserve(64 + memory.seen.size() * 64);
  text.append(kHeader).append("\n");
  text.append("profile ").append(EscapeLineValue(memory.profile_path)).append("\n");
  text.append("table ").append(EscapeLineValue(memory.table)).append("\n");
  text.append("floor ").append(Seconds(memory.floor)).append("\n");
  text.append("complete-from ").append(Seconds(memory.complete_from)).append("\n");
  text.append("stored-start ").append(Seconds(memory.stored_start)).append("\n");
  for (const std::string& column : memory.key_columns) {
    text.append("key-column ").append(EscapeLineValue(column)).append("\n");
  }
  for (const auto& [key, date] : memory.seen) {
    text.append("seen ").append(Seconds(date)).append(" ").append(key).append("\n");
  }
  text.append("end\n");
  return text;
}

LateArrivalMemory FreshLateArrivals(std::string profile_path, std::string table, double start) {
  LateArrivalMemory memory;
  memory.profile_path = std::move(profile_path);
  memory.table = std::move(table);
  memory.floor = start;
  memory.complete_from = start;
  memory.stored_start = start;
  return memory;
}

void AfterLinesAreIn(LateArrivalMemory& memory, const std::vector<WrittenRecord>& written,
                     double stored_start, double look_back_seconds, bool keys_known) {
  memory.stored_start = stored_start;
  if (!keys_known) {
    memory.seen.clear();
    memory.complete_from = stored_start;
    return;
  }
  for (const WrittenRecord& record : written) memory.seen[record.key] = record.date;
  const double reach = stored_start - look_back_seconds;
  std::erase_if(memory.seen, [reach](const auto& entry) { return entry.second < reach; });
  memory.complete_from = std::max(memory.complete_from, reach);
}

double LookBackFrom(const LateArrivalMemory& memory, double start, double look_back_seconds,
                    bool deleting) {
  double from = std::max(start - look_back_seconds, memory.floor);
  if (!deleting) from = std::max(from, memory.complete_from);
  return std::min(from, start);
}

void MoveLateArrivals(const std::filesystem::path& from_profile,
                      const std::filesystem::path& to_profile, std::string_view table) {
  const std::filesystem::path from = LateArrivalPath(from_profile);
  const std::filesystem::path to = LateArrivalPath(to_profile);
  if (FileSize(to) >= 0) return;
  LateArrivalReading reading = ReadLateArrivals(from, from_profile.string(), table);
  if (reading.state != LateArrivalReading::State::kRead) return;
  reading.memory.profile_path = to_profile.string();
  try {
    WriteLateArrivals(to, reading.memory);
  } catch (const FileError&) {
    return;  // the new name then starts without a memory: it looks back nothing
  }
  std::error_code ignored;
  std::filesystem::remove(from, ignored);
}

std::string RowHashKey(std::string_view row_text) {
  // 64-bit FNV-1a: stable across builds and machines, which std::hash is not.
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : row_text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char text[24];
  std::snprintf(text, sizeof text, "#%016llx", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace remoteccm
