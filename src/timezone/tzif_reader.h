// tzdata's compiled zone files (TZif, RFC 8536): the rule footer that states a zone's current
// rule. The files are input from disk, so every count and offset is checked before use.
#pragma once

#include <cstdint>
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

// True when every transition of the file's table from `from` on (seconds since 1970) leads to
// the offset the rule gives at that instant. tzdata lists in the table, ahead of the rule, the
// transitions a yearly rule cannot state (Morocco's and Palestine's around Ramadan).
bool TzifTableAgreesWithRule(std::string_view bytes, const ZoneRule& rule, std::int64_t from);

// The rule of a zone file: its footer read as a TZ string. It counts as approximated also
// when the table disagrees with it from a year before now on.
std::optional<PosixZoneRule> ReadZoneFile(const std::filesystem::path& file, std::string* error);

}  // namespace remoteccm
