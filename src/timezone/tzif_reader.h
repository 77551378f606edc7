// tzdata's compiled zone files (TZif, RFC 8536): the rule footer that states a zone's current
// rule. The files are input from disk, so every count and offset is checked before use.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "timezone/posix_tz.h"

namespace remoteccm {

// Files larger than this are not zone files and are refused unread.
inline constexpr std::uintmax_t kMaxZoneFileSize = 1 << 20;

// The TZ string of the footer of a version 2 (or later) file; none, with the reason in
// `error`, for a file that is not TZif, is truncated, is of version 1 (no footer) or has an
// empty footer.
std::optional<std::string> TzifFooter(std::string_view bytes, std::string* error);

// The rule of a zone file: its footer read as a TZ string.
std::optional<PosixZoneRule> ReadZoneFile(const std::filesystem::path& file, std::string* error);

}  // namespace remoteccm
