#include "platform/db/connection_builder.h"

#include <algorithm>
#include <optional>

#include "util/text_routines.h"

namespace remoteccm {
namespace {

bool Mentions(std::string_view text, std::string_view part) {
  return UpperCase(text).find(UpperCase(part)) != std::string::npos;
}

// Takes the value of the first pair whose key matches out of the list.
std::optional<std::string> Take(ConnectionAttributes& pairs,
                                const std::function<bool(std::string_view)>& matches) {
  const auto at = std::find_if(pairs.begin(), pairs.end(),
                               [&](const ConnectionAttribute& a) { return matches(a.key); });
  if (at == pairs.end()) return std::nullopt;
  std::string value = at->value;
  pairs.erase(at);
  return value;
}

std::function<bool(std::string_view)> Named(std::initializer_list<std::string_view> names) {
  std::vector<std::string_view> list(names);
  return [list](std::string_view key) {
    return std::ranges::any_of(list, [&](std::string_view name) { return SameText(name, key); });
  };
}

}  // namespace

DriverKind KindOfDriver(std::string_view driver_name) {
  if (Mentions(driver_name, "sqlite")) return DriverKind::kSqlite;
  if (Mentions(driver_name, "postgres") || Mentions(driver_name, "psqlodbc")) {
    return DriverKind::kPostgres;
  }
  if (Mentions(driver_name, "tds") || Mentions(driver_name, "sql server")) {
    return DriverKind::kSqlServer;
  }
  return DriverKind::kOther;
}

std::string_view DefaultPort(DriverKind kind) {
  switch (kind) {
    case DriverKind::kPostgres:
      return "5432";
    case DriverKind::kSqlServer:
      return "1433";
    case DriverKind::kSqlite:
    case DriverKind::kOther:
      break;
  }
  return "";
}

ConnectionParts SplitConnectionString(std::string_view text, const DriverLister& drivers) {
  ConnectionParts parts;
  ConnectionAttributes pairs = OdbcAttributesOf(text, drivers);
  if (auto dsn = Take(pairs, Named({"DSN"}))) {
    parts.use_data_source = true;
    parts.data_source = *dsn;
  }
  parts.driver = Take(pairs, Named({"Driver"})).value_or("");
  if (!parts.use_data_source && KindOfDriver(parts.driver) == DriverKind::kSqlite) {
    parts.file = Take(pairs, Named({"Database"})).value_or("");
  } else {
    parts.host = Take(pairs, Named({"Server", "Servername", "Host"})).value_or("");
    parts.port = Take(pairs, Named({"Port"})).value_or("");
    parts.database = Take(pairs, Named({"Database"})).value_or("");
  }
  parts.user = Take(pairs, IsUserKey).value_or("");
  parts.password = Take(pairs, IsPasswordKey).value_or("");
  parts.other = std::move(pairs);
  return parts;
}

std::string JoinConnectionString(const ConnectionParts& parts) {
  ConnectionAttributes pairs;
  auto add = [&pairs](std::string_view key, const std::string& value) {
    if (!value.empty()) pairs.push_back({std::string(key), value});
  };
  if (parts.use_data_source) {
    // What a data source says may be overridden by the string.
    add("DSN", parts.data_source);
    add("Server", parts.host);
    add("Port", parts.port);
    add("Database", parts.database);
  } else if (KindOfDriver(parts.driver) == DriverKind::kSqlite) {
    // The form the embedded default has always had in profiles.
    pairs.push_back({"Provider", "MSDASQL"});
    add("Driver", parts.driver);
    add("Database", parts.file);
  } else {
    add("Driver", parts.driver);
    add("Server", parts.host);
    add("Port", parts.port);
    add("Database", parts.database);
  }
  add("UID", parts.user);
  add("PWD", parts.password);
  pairs.insert(pairs.end(), parts.other.begin(), parts.other.end());
  std::string text = FormatOdbcConnectionString(pairs);
  if (text.ends_with(';')) text.pop_back();
  return text;
}

}  // namespace remoteccm
