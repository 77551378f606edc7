#include "timezone/tzif_reader.h"

#include <cstdint>
#include <ctime>
#include <fstream>
#include <system_error>

#include "timezone/zone_period.h"

namespace remoteccm {
namespace {

constexpr std::size_t kHeaderSize = 44;

bool Fail(std::string* error, const char* text) {
  if (error) *error = text;
  return false;
}

std::uint64_t Get32(std::string_view b, std::size_t at) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(b[at + i]);
  return value;
}

// Reads the header at `at` and sets `data_size` to the length of the data block after it, for
// transition times of `time_size` bytes. The caller checks that the block fits the file.
bool ReadHeader(std::string_view b, std::size_t at, std::uint64_t time_size, char* version,
                std::uint64_t* data_size, std::string* error) {
  if (b.size() - at < kHeaderSize) return Fail(error, "truncated zone file header");
  if (b.substr(at, 4) != "TZif") return Fail(error, "not a zone file");
  *version = b[at + 4];
  const std::uint64_t isut = Get32(b, at + 20);
  const std::uint64_t isstd = Get32(b, at + 24);
  const std::uint64_t leap = Get32(b, at + 28);
  const std::uint64_t times = Get32(b, at + 32);
  const std::uint64_t types = Get32(b, at + 36);
  const std::uint64_t chars = Get32(b, at + 40);
  // Each count is below 2^32, so the sum cannot overflow 64 bits.
  *data_size =
      times * time_size + times + types * 6 + chars + leap * (time_size + 4) + isstd + isut;
  return true;
}

std::int64_t Get64(std::string_view b, std::size_t at) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 8; ++i) value = value << 8 | static_cast<unsigned char>(b[at + i]);
  return static_cast<std::int64_t>(value);
}

}  // namespace

std::optional<std::string> TzifFooter(std::string_view bytes, std::string* error) {
  char version = 0;
  std::uint64_t size = 0;
  if (!ReadHeader(bytes, 0, 4, &version, &size, error)) return std::nullopt;
  if (version == '\0') {
    Fail(error, "version 1 zone file has no rule footer");
    return std::nullopt;
  }
  if (size > bytes.size() - kHeaderSize) {
    Fail(error, "truncated zone file");
    return std::nullopt;
  }
  const std::size_t second = kHeaderSize + static_cast<std::size_t>(size);
  if (!ReadHeader(bytes, second, 8, &version, &size, error)) return std::nullopt;
  if (size > bytes.size() - second - kHeaderSize) {
    Fail(error, "truncated zone file");
    return std::nullopt;
  }
  const std::size_t footer = second + kHeaderSize + static_cast<std::size_t>(size);
  if (footer >= bytes.size() || bytes[footer] != '\n') {
    Fail(error, "zone file has no rule footer");
    return std::nullopt;
  }
  const std::size_t end = bytes.find('\n', footer + 1);
  if (end == std::string_view::npos) {
    Fail(error, "zone file rule footer is not terminated");
    return std::nullopt;
  }
  if (end == footer + 1) {
    Fail(error, "zone file has an empty rule footer");
    return std::nullopt;
  }
  return std::string(bytes.substr(footer + 1, end - footer - 1));
}

bool TzifTableAgreesWithRule(std::string_view bytes, const ZoneRule& rule, std::int64_t from) {
  std::string error;
  if (!TzifFooter(bytes, &error)) return false;  // also checks that both blocks fit the file
  char version = 0;
  std::uint64_t size = 0;
  ReadHeader(bytes, 0, 4, &version, &size, &error);
  const std::size_t second = kHeaderSize + static_cast<std::size_t>(size);
  ReadHeader(bytes, second, 8, &version, &size, &error);
  const std::size_t times_at = second + kHeaderSize;
  const std::size_t transitions = Get32(bytes, second + 32);
  const std::size_t types = Get32(bytes, second + 36);
  const std::size_t indices_at = times_at + transitions * 8;
  const std::size_t types_at = indices_at + transitions;
  // Far beyond the rule arithmetic's years a transition says nothing about the rule.
  constexpr std::int64_t kLastChecked = kPastRuleMoment / 1000 - std::int64_t{2} * 86400;
  for (std::size_t i = 0; i < transitions; ++i) {
    const std::int64_t at = Get64(bytes, times_at + i * 8);
    if (at < from || at > kLastChecked) continue;
    const std::size_t type = static_cast<unsigned char>(bytes[indices_at + i]);
    if (type >= types) return false;
    const std::int64_t table_offset = static_cast<std::int32_t>(Get32(bytes, types_at + type * 6));
    const std::int64_t rule_offset = -60 * std::int64_t{BiasOf(rule, PeriodAtUtc(rule, at * 1000))};
    if (table_offset != rule_offset) return false;
  }
  return true;
}

std::optional<PosixZoneRule> ReadZoneFile(const std::filesystem::path& file, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    Fail(error, "no such zone file");
    return std::nullopt;
  }
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec || size > kMaxZoneFileSize) {
    Fail(error, ec ? "zone file cannot be read" : "zone file too large");
    return std::nullopt;
  }
  std::ifstream in(file, std::ios::binary);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (!in || !in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    Fail(error, "zone file cannot be read");
    return std::nullopt;
  }
  const auto footer = TzifFooter(bytes, error);
  if (!footer) return std::nullopt;
  auto rule = ParsePosixTz(*footer);
  if (!rule) {
    Fail(error, "zone file rule footer is not a TZ string");
    return rule;
  }
  const std::int64_t a_year_ago =
      static_cast<std::int64_t>(std::time(nullptr)) - std::int64_t{366} * 86400;
  if (!TzifTableAgreesWithRule(bytes, rule->rule, a_year_ago)) rule->approximated = true;
  return rule;
}

}  // namespace remoteccm
