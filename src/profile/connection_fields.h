// The profile settings the properties dialog takes out of the connection string: the user
// name, password and server when it opens, the database name when it closes with OK.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "profile/profile_settings.h"

namespace remoteccm {

// The text after key ("USER ID=", searched without regard to case) up to the next ";" or the
// end, its case kept; none when the key does not occur.
std::optional<std::string> ConnectionStringValue(std::string_view text, std::string_view key);

// "USER ID=" into login, "PASSWORD=" into password (an empty value empties it), "SERVER="
// into server_name, each only when its key occurs in sql_connection_string.
void TakeLoginFromConnectionString(ProfileSettings& settings);

// "DATABASE=", then "INITIAL CATALOG=" (which wins), without double quotes, into
// sql_database_name; a blank database or table name then takes its default.
void TakeDatabaseFromConnectionString(ProfileSettings& settings);

}  // namespace remoteccm
