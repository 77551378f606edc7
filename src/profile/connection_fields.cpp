#include "profile/connection_fields.h"

#include <algorithm>

#include "util/text_routines.h"

namespace remoteccm {

std::optional<std::string> ConnectionStringValue(std::string_view text, std::string_view key) {
  const std::size_t at = UpperCase(text).find(UpperCase(key));
  if (at == std::string::npos) return std::nullopt;
  const std::string_view rest = text.substr(at + key.size());
  return std::string(rest.substr(0, rest.find(';')));
}

void TakeLoginFromConnectionString(ProfileSettings& settings) {
  const std::string& text = settings.sql_connection_string;
  if (auto user = ConnectionStringValue(text, "USER ID=")) settings.login = *user;
  if (auto password = ConnectionStringValue(text, "PASSWORD=")) settings.password = *password;
  if (auto server = ConnectionStringValue(text, "SERVER=")) settings.server_name = *server;
}

void TakeDatabaseFromConnectionString(ProfileSettings& settings) {
  for (std::string_view key : {"DATABASE=", "INITIAL CATALOG="}) {
    if (auto value = ConnectionStringValue(settings.sql_connection_string, key)) {
      std::erase(*value, '"');
      settings.sql_database_name = *value;
    }
  }
  if (TrimView(settings.sql_database_name).empty()) {
    settings.sql_database_name = kDefaultDatabaseName;
  }
  if (TrimView(settings.sql_table_name).empty()) settings.sql_table_name = kDefaultTableName;
}

}  // namespace remoteccm
