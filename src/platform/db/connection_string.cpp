// One piece: the grammar of a connection string, and the rewrites and masking that
// must read it exactly as the parser does.

#include "platform/db/connection_string.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>

#include "platform/db/db_error.h"
#include "platform/db/odbc_api.h"
#include "platform/db/odbc_environment.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

constexpr std::string_view kSqliteBusyStepMs = "200";

// Size of the result fetch of psqlODBC's declare/fetch mode: large enough that a round trip
// carries many rows, small enough that memory stays flat (measured in bench/db_read_memory).
constexpr std::string_view kPostgresFetchRows = "1000";

struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;
};

struct ParsedAttribute {
  ConnectionAttribute attribute;
  Span value;      // where the value stands in the text, quotes and braces included
  char quote = 0;  // the opening brace or quote of the value, 0 for a plain value
};

// Words that make a key hold a secret (PWD, Password, "Jet OLEDB:Database Password", PASSWD,
// NewPWD, KeyStoreSecret, token...), upper case; also the misspellings of a password's key a
// hand makes (PDW, PSWD, Pasword): a driver ignores such a key, so its value is only ever
// shown, and masking a key that holds no secret costs nothing.
constexpr std::array<std::string_view, 10> kSecretWords = {"PW",  "PDW", "DPW", "DWP",    "WPD",
                                                           "WDP", "PSW", "PAS", "SECRET", "TOKEN"};

// Where the first secret word starts (npos when there is none). A password stands after its
// key, so nothing before this point can be part of one.
std::size_t FirstSecretWord(std::string_view text) {
  const std::string upper = UpperCase(text);
  std::size_t first = std::string::npos;
  for (std::string_view word : kSecretWords) first = std::min(first, upper.find(word));
  return first;
}

bool IsSecretKey(std::string_view key) { return FirstSecretWord(key) != std::string::npos; }

// Nested connection strings deeper than this are masked whole when they hold a secret word.
constexpr int kMaxMaskDepth = 8;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsPrintable(std::string_view text) {
  return std::ranges::none_of(text, [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
  });
}

// What a parse error may say about the text. It never quotes a value or a part without "=":
// behind a password with an unbraced ";" those are pieces of the password. Keys are named only
// when they stand before the first secret word; otherwise the error gives a position.
class ParseErrors {
 public:
  ParseErrors(std::string_view text, std::string_view where, bool name_keys)
      : where_(where), named_until_(name_keys ? FirstSecretWord(text) : 0), name_keys_(name_keys) {}

  [[noreturn]] void NoEquals(std::size_t at) const {
    throw DbError("There is a part without \"=\" " + At(at));
  }
  [[noreturn]] void NoName(std::size_t at) const {
    throw DbError("There is a value without a name " + At(at));
  }
  [[noreturn]] void NotClosed(std::string_view key, std::size_t key_at, std::size_t at,
                              char close) const {
    throw DbError("The value" + Of(key, key_at) + " " + At(at) + " has no closing " +
                  std::string(1, close));
  }
  [[noreturn]] void TextAfterQuote(std::string_view key, std::size_t key_at, std::size_t at) const {
    throw DbError("There is text after the quoted value" + Of(key, key_at) + " " + At(at));
  }

 private:
  std::string At(std::size_t at) const {
    return "at character " + std::to_string(at + 1) + " of " + std::string(where_);
  }
  std::string Of(std::string_view key, std::size_t key_at) const {
    if (!name_keys_ || key_at > named_until_ || !IsPrintable(key)) return {};
    return " of \"" + std::string(key) + "\"";
  }

  std::string_view where_;
  std::size_t named_until_;
  bool name_keys_;
};

// Reads the value quoted by text[i] (a doubled closing quote stands for itself), then the
// blanks after it: i ends at the ";" that follows, or at the end.
void ReadQuotedValue(std::string_view text, std::size_t& i, std::size_t key_begin,
                     const ParseErrors& errors, ParsedAttribute& parsed) {
  const std::size_t n = text.size();
  const char open = text[i];
  const char close = open == '{' ? '}' : open;
  parsed.quote = open;
  ++i;
  bool closed = false;
  while (i < n && !closed) {
    if (text[i] != close) {
      parsed.attribute.value += text[i++];
    } else if (i + 1 < n && text[i + 1] == close) {
      parsed.attribute.value += close;
      i += 2;
    } else {
      ++i;
      closed = true;
    }
  }
  const std::string& key = parsed.attribute.key;
  if (!closed) errors.NotClosed(key, key_begin, parsed.value.begin, close);
  parsed.value.end = i;
  while (i < n && IsBlank(text[i])) ++i;
  if (i < n && text[i] != ';') errors.TextAfterQuote(key, key_begin, i);
}

// Reads a bare value up to the next ";", without the blanks around it.
void ReadBareValue(std::string_view text, std::size_t& i, ParsedAttribute& parsed) {
  while (i < text.size() && text[i] != ';') ++i;
  const std::string_view raw = text.substr(parsed.value.begin, i - parsed.value.begin);
  const std::string_view value = TrimView(raw);
  // The span covers the value as kept, not the control characters trimmed off it.
  parsed.value.begin += value.empty() ? 0 : static_cast<std::size_t>(value.data() - raw.data());
  parsed.value.end = parsed.value.begin + value.size();
  parsed.attribute.value = std::string(value);
}

std::vector<ParsedAttribute> ParseWithSpans(std::string_view text,
                                            std::string_view where = "the connection string",
                                            bool name_keys = true) {
  const ParseErrors errors(text, where, name_keys);
  std::vector<ParsedAttribute> result;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    while (i < n && (IsBlank(text[i]) || text[i] == ';')) ++i;
    if (i >= n) break;
    const std::size_t key_begin = i;
    while (i < n && text[i] != '=' && text[i] != ';') ++i;
    const std::string key{TrimView(text.substr(key_begin, i - key_begin))};
    if (i >= n || text[i] == ';') errors.NoEquals(key_begin);
    if (key.empty()) errors.NoName(key_begin);
    ++i;  // "="
    while (i < n && IsBlank(text[i])) ++i;
    ParsedAttribute parsed;
    parsed.attribute.key = key;
    parsed.value.begin = i;
    if (i < n && (text[i] == '{' || text[i] == '\'' || text[i] == '"')) {
      ReadQuotedValue(text, i, key_begin, errors, parsed);
    } else {
      ReadBareValue(text, i, parsed);
    }
    result.push_back(std::move(parsed));
  }
  return result;
}

// An unparseable text: everything after the first "=" that follows a secret word goes, since
// any password stands there.
std::string MaskAfterFirstSecret(std::string_view text) {
  const std::size_t secret = FirstSecretWord(text);
  if (secret == std::string::npos) return std::string(text);
  const std::size_t equals = text.find('=', secret);
  if (equals == std::string::npos) return std::string(text);
  return std::string(text.substr(0, equals + 1)) + "***";
}

// A value quoted again as it was written, so that every byte but the password's stays.
std::string QuotedAgain(std::string_view value, char open) {
  const char close = open == '{' ? '}' : open;
  std::string quoted(1, open);
  for (const char c : value) {
    quoted += c;
    if (c == close) quoted += close;
  }
  return quoted + close;
}

std::string MaskAtDepth(std::string_view text, int depth) {
  std::vector<ParsedAttribute> parsed;
  try {
    parsed = ParseWithSpans(text);
  } catch (const DbError&) {
    return MaskAfterFirstSecret(text);
  }
  std::string masked(text);
  // Replace from the back so the earlier spans stay valid.
  for (auto it = parsed.rbegin(); it != parsed.rend(); ++it) {
    const Span span = it->value;
    const std::string& value = it->attribute.value;
    std::string shown;
    if (IsSecretKey(it->attribute.key)) {
      shown = "***";
    } else if (depth >= kMaxMaskDepth) {
      if (FirstSecretWord(value) == std::string::npos) continue;
      shown = "***";
    } else {
      // Any value may be a connection string of its own ("Extended Properties").
      const std::string inner = MaskAtDepth(value, depth + 1);
      if (inner == value) continue;
      shown = it->quote != 0 ? QuotedAgain(inner, it->quote) : inner;
    }
    masked.replace(span.begin, span.end - span.begin, shown);
  }
  return masked;
}

void RemoveKeys(ConnectionAttributes& attributes, bool (*matches)(std::string_view)) {
  std::erase_if(attributes, [&](const ConnectionAttribute& a) { return matches(a.key); });
}

void RemoveKey(ConnectionAttributes& attributes, std::string_view key) {
  std::erase_if(attributes, [&](const ConnectionAttribute& a) { return SameText(a.key, key); });
}

void AddIfMissing(ConnectionAttributes& attributes, std::string_view key, std::string_view value) {
  if (FindAttribute(attributes, key) == nullptr) {
    attributes.push_back({std::string(key), std::string(value)});
  }
}

bool Contains(std::string_view text, std::string_view part) {
  return UpperCase(text).find(UpperCase(part)) != std::string::npos;
}

// OLE DB properties that mean nothing to an ODBC driver.
constexpr std::array<std::string_view, 16> kOleDbOnlyKeys = {
    "Provider",
    "Persist Security Info",
    "Auto Translate",
    "Packet Size",
    "Workstation ID",
    "Use Procedure for Prepare",
    "Mode",
    "Prompt",
    "Connect Timeout",
    "Locale Identifier",
    "Extended Properties",
    "OLE DB Services",
    "General Timeout",
    "Tag with column collation when possible",
    "Application Name",
    "Initial File Name"};

bool IsOleDbOnlyKey(std::string_view key) {
  return std::ranges::any_of(kOleDbOnlyKeys, [&](std::string_view k) { return SameText(k, key); });
}

std::optional<std::string> FindInstalled(const std::vector<std::string>& installed,
                                         std::string_view name) {
  for (const std::string& driver : installed) {
    if (SameText(driver, name)) return driver;
  }
  return std::nullopt;
}

// The Debian package that brings the driver of that name; empty for a driver we do not know.
std::string_view DriverPackage(std::string_view driver) {
  if (Contains(driver, "sqlite")) return "libsqliteodbc";
  if (Contains(driver, "postgres")) return "odbc-postgresql";
  if (Contains(driver, "freetds") || Contains(driver, "sql server")) return "tdsodbc";
  return {};
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text.empty() ? "none" : text;
}

// Provider=MSDASQL: the rest is an ODBC string, possibly inside "Extended Properties".
ConnectionAttributes FromMsdasql(const ConnectionAttributes& attributes) {
  ConnectionAttributes odbc;
  if (const std::string* extended = FindAttribute(attributes, "Extended Properties")) {
    // Its keys may stand after a password of the outer string: errors give positions only.
    for (ParsedAttribute& p :
         ParseWithSpans(*extended, "Extended Properties in the connection string", false)) {
      odbc.push_back(std::move(p.attribute));
    }
  }
  for (const ConnectionAttribute& a : attributes) {
    if (IsOleDbOnlyKey(a.key)) continue;
    if (SameText(a.key, "Data Source")) {
      if (FindAttribute(attributes, "DSN") == nullptr &&
          FindAttribute(attributes, "Driver") == nullptr && FindAttribute(odbc, "DSN") == nullptr &&
          FindAttribute(odbc, "Driver") == nullptr) {
        odbc.push_back({"DSN", a.value});
      }
      continue;
    }
    if (SameText(a.key, "Initial Catalog")) {
      AddIfMissing(odbc, "Database", a.value);
      continue;
    }
    if (SameText(a.key, "User ID")) {
      AddIfMissing(odbc, "UID", a.value);
      continue;
    }
    if (SameText(a.key, "Password")) {
      AddIfMissing(odbc, "PWD", a.value);
      continue;
    }
    RemoveKey(odbc, a.key);
    odbc.push_back(a);
  }
  return odbc;
}

bool IsSqlServerProvider(std::string_view provider) {
  const std::string p = UpperCase(TrimView(provider));
  return p.starts_with("SQLOLEDB") || p.starts_with("SQLNCLI") || p.starts_with("MSOLEDBSQL");
}

bool SaysYes(std::string_view value) {
  return SameText(value, "SSPI") || SameText(value, "yes") || SameText(value, "true");
}

// Where a SQL Server listens: Data Source "host", "host,port" or "host\instance".
struct SqlServerAddress {
  std::string host;
  std::string port;  // empty for a named instance without one
};

SqlServerAddress SqlServerDataSource(const ConnectionAttributes& attributes) {
  const std::string* source = FindAttribute(attributes, "Data Source");
  if (source == nullptr) source = FindAttribute(attributes, "Server");
  if (source == nullptr || TrimView(*source).empty()) {
    throw DbError("The SQL Server connection string names no server (Data Source=...)");
  }
  SqlServerAddress address{std::string(TrimView(*source)), std::string()};
  std::string& host = address.host;
  std::string& port = address.port;
  if (SameText(std::string_view(host).substr(0, 4), "tcp:")) host.erase(0, 4);
  if (const std::size_t comma = host.find(','); comma != std::string::npos) {
    port = Trim(std::string_view(host).substr(comma + 1));
    host = Trim(std::string_view(host).substr(0, comma));
    int number = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (error != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535) {
      throw DbError(
          "The port of the Data Source (after its comma) is not a number from 1 to 65535");
    }
  }
  if (host == "." || SameText(host, "(local)")) host = "127.0.0.1";
  const bool named_instance = host.find('\\') != std::string::npos;
  if (port.empty() && !named_instance) port = "1433";
  return address;
}

// FreeTDS first: CallManager 4.x runs SQL Server 2000, which Microsoft's current drivers no
// longer reach; their drivers serve when FreeTDS is missing.
std::string SqlServerDriver(const std::vector<std::string>& installed) {
  std::optional<std::string> driver = FindInstalled(installed, "FreeTDS");
  for (std::string_view name : {"ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server",
                                "ODBC Driver 13 for SQL Server"}) {
    if (!driver) driver = FindInstalled(installed, name);
  }
  if (!driver) {
    throw DbError(
        "No SQL Server ODBC driver is installed (FreeTDS or ODBC Driver 17/18 for SQL Server); "
        "install the package tdsodbc. Installed drivers: " +
        JoinNames(installed));
  }
  return *driver;
}

// The keys of a SQL Server provider's string that its ODBC string spells otherwise, or not.
bool IsSqlServerProviderKey(std::string_view key) {
  return IsOleDbOnlyKey(key) || SameText(key, "Data Source") || SameText(key, "Server") ||
         SameText(key, "Initial Catalog") || SameText(key, "User ID") ||
         SameText(key, "Password") || SameText(key, "Integrated Security") ||
         SameText(key, "Trusted_Connection");
}

// The SQL Server OLE DB providers, as the ODBC string of the driver installed.
ConnectionAttributes FromSqlServerProvider(const ConnectionAttributes& attributes,
                                           const std::vector<std::string>& installed) {
  for (const ConnectionAttribute& a : attributes) {
    if ((SameText(a.key, "Integrated Security") || SameText(a.key, "Trusted_Connection")) &&
        SaysYes(a.value)) {
      throw DbError(
          "Windows authentication (Integrated Security=SSPI) is not supported on Linux: give a "
          "SQL Server login in User ID and Password");
    }
  }
  const SqlServerAddress address = SqlServerDataSource(attributes);
  const std::string driver = SqlServerDriver(installed);
  const bool free_tds = SameText(driver, "FreeTDS");

  ConnectionAttributes odbc;
  odbc.push_back({"Driver", driver});
  if (free_tds) {
    odbc.push_back({"Server", address.host});
    if (!address.port.empty()) odbc.push_back({"Port", address.port});
  } else {
    odbc.push_back(
        {"Server", address.port.empty() ? address.host : address.host + "," + address.port});
  }
  for (const auto& [from, to] : {std::pair{"Initial Catalog", "Database"},
                                 std::pair{"User ID", "UID"}, std::pair{"Password", "PWD"}}) {
    if (const std::string* value = FindAttribute(attributes, from)) odbc.push_back({to, *value});
  }
  for (const ConnectionAttribute& a : attributes) {
    if (IsSqlServerProviderKey(a.key)) continue;
    RemoveKey(odbc, a.key);
    odbc.push_back(a);
  }
  // SQL Server 2000 speaks TDS 7.1 at most; newer servers still accept it.
  if (free_tds) AddIfMissing(odbc, "TDS_Version", "7.1");
  return odbc;
}

// The driver a DSN stands for, from odbc.ini ("" when unknown).
std::string DriverOfDataSource(const std::string& dsn) {
  std::array<char, 512> buffer{};
  const int length = SQLGetPrivateProfileString(dsn.c_str(), "Driver", "", buffer.data(),
                                                static_cast<int>(buffer.size()), "odbc.ini");
  if (length <= 0) return {};
  return std::string(buffer.data(), std::min(static_cast<std::size_t>(length), buffer.size() - 1));
}

}  // namespace

ConnectionAttributes ParseConnectionString(std::string_view text) {
  ConnectionAttributes result;
  for (ParsedAttribute& p : ParseWithSpans(text)) result.push_back(std::move(p.attribute));
  return result;
}

std::string FormatOdbcConnectionString(const ConnectionAttributes& attributes) {
  std::string text;
  for (const ConnectionAttribute& a : attributes) {
    text += a.key;
    text += '=';
    // Braces keep blanks and control characters at the ends, and a leading quote a plain
    // character, when the text is read back.
    const bool needs_braces =
        a.value.find_first_of(";{}") != std::string::npos ||
        TrimView(a.value).size() != a.value.size() ||
        (!a.value.empty() && (a.value.front() == '\'' || a.value.front() == '"'));
    if (needs_braces) {
      text += '{';
      for (char c : a.value) {
        text += c;
        if (c == '}') text += '}';
      }
      text += '}';
    } else {
      text += a.value;
    }
    text += ';';
  }
  return text;
}

const std::string* FindAttribute(const ConnectionAttributes& attributes, std::string_view key) {
  for (const ConnectionAttribute& a : attributes) {
    if (SameText(a.key, key)) return &a.value;
  }
  return nullptr;
}

std::string MaskConnectionPasswords(std::string_view text) { return MaskAtDepth(text, 0); }

bool IsPasswordKey(std::string_view key) {
  return SameText(key, "PWD") || SameText(key, "Password");
}

bool IsUserKey(std::string_view key) {
  return SameText(key, "UID") || SameText(key, "User ID") || SameText(key, "User") ||
         SameText(key, "UserName") || SameText(key, "User Name");
}

std::vector<std::string> InstalledOdbcDrivers() {
  std::vector<std::string> drivers;
  SQLHENV env = OdbcEnvironment();
  std::array<SQLCHAR, 256> name{};
  std::array<SQLCHAR, 1024> attributes{};
  SQLSMALLINT name_length = 0;
  SQLSMALLINT attributes_length = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDrivers(env, direction, name.data(), name.size(), &name_length,
                                  attributes.data(), attributes.size(), &attributes_length))) {
    drivers.emplace_back(reinterpret_cast<const char*>(name.data()));
    direction = SQL_FETCH_NEXT;
  }
  return drivers;
}

std::vector<OdbcDataSource> OdbcDataSources() {
  std::vector<OdbcDataSource> sources;
  SQLHENV env = OdbcEnvironment();
  std::array<SQLCHAR, SQL_MAX_DSN_LENGTH + 1> name{};
  std::array<SQLCHAR, 512> driver{};
  SQLSMALLINT name_length = 0;
  SQLSMALLINT driver_length = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDataSources(env, direction, name.data(), name.size(), &name_length,
                                      driver.data(), driver.size(), &driver_length))) {
    sources.push_back(
        {reinterpret_cast<const char*>(name.data()), reinterpret_cast<const char*>(driver.data())});
    direction = SQL_FETCH_NEXT;
  }
  return sources;
}

ConnectionAttributes OdbcAttributesOf(std::string_view text, const DriverLister& drivers) {
  ConnectionAttributes attributes = ParseConnectionString(text);
  const std::string* provider = FindAttribute(attributes, "Provider");
  if (provider == nullptr) return attributes;
  const std::string name = UpperCase(TrimView(*provider));
  if (name.starts_with("MSDASQL")) return FromMsdasql(attributes);
  if (IsSqlServerProvider(name)) return FromSqlServerProvider(attributes, drivers());
  // Errors name keys, not values: behind an unbraced ";" in a password a value is a piece of
  // it (the masked string in the log shows what the values are).
  throw DbError(
      "The OLE DB provider named in Provider is not available on Linux: use an ODBC "
      "connection string (Driver=...; or DSN=...;), Provider=MSDASQL;... or "
      "Provider=SQLOLEDB;...");
}

namespace {

// The profile's login and password, when given, stand for any the string names.
void PutLogin(ConnectionAttributes& odbc, std::string_view login, std::string_view password) {
  if (!login.empty()) {
    RemoveKeys(odbc, IsUserKey);
    odbc.push_back({"UID", std::string(login)});
  }
  if (!password.empty()) {
    RemoveKeys(odbc, IsPasswordKey);
    odbc.push_back({"PWD", std::string(password)});
  }
}

// What a driver needs to read a large result in little memory and to be cancelled, unless the
// string says otherwise.
void AddDriverDefaults(ConnectionAttributes& odbc, std::string_view driver_kind,
                       OdbcConnectionRequest& request) {
  if (Contains(driver_kind, "sqlite")) {
    // Without StepAPI the driver reads the whole result into memory before the first row.
    AddIfMissing(odbc, "StepAPI", "1");
    // A mistyped path must not create an empty database.
    AddIfMissing(odbc, "NoCreat", "1");
    // The driver's own wait for a locked database cannot be cancelled: unless the string sets
    // it, the driver waits in short steps and the database layer repeats the statement until
    // its own limit or a cancel.
    if (FindAttribute(odbc, "Timeout") == nullptr) {
      odbc.push_back({"Timeout", std::string(kSqliteBusyStepMs)});
      request.retry_while_locked = true;
    }
  } else if (Contains(driver_kind, "postgres") || Contains(driver_kind, "psqlodbc")) {
    // Without declare/fetch psqlODBC holds the whole result in memory.
    AddIfMissing(odbc, "UseDeclareFetch", "1");
    AddIfMissing(odbc, "Fetch", kPostgresFetchRows);
  }
}

}  // namespace

OdbcConnectionRequest ResolveConnectionString(std::string_view text, std::string_view login,
                                              std::string_view password,
                                              const DriverLister& drivers) {
  std::optional<std::vector<std::string>> installed;
  auto installed_drivers = [&]() -> const std::vector<std::string>& {
    if (!installed) installed = drivers();
    return *installed;
  };
  ConnectionAttributes odbc = OdbcAttributesOf(text, [&] { return installed_drivers(); });

  const std::string* driver = FindAttribute(odbc, "Driver");
  const std::string* dsn = FindAttribute(odbc, "DSN");
  if (driver == nullptr && dsn == nullptr && FindAttribute(odbc, "FILEDSN") == nullptr) {
    throw DbError(
        "The connection string names neither an ODBC driver (Driver=...) nor a data source "
        "(DSN=...)");
  }

  OdbcConnectionRequest request;
  std::string driver_kind;
  if (driver != nullptr) {
    request.driver = *driver;
    driver_kind = *driver;
    // A driver given by its library path is the driver manager's to find.
    if (driver->find('/') == std::string::npos) {
      if (auto found = FindInstalled(installed_drivers(), Trim(*driver))) {
        driver_kind = *found;
      } else {
        const std::string_view package = DriverPackage(*driver);
        throw DbError("The ODBC driver named in Driver is not installed" +
                      (package.empty() ? "" : "; install the package " + std::string(package)) +
                      ". Installed drivers: " + JoinNames(installed_drivers()));
      }
    }
  } else if (dsn != nullptr) {
    driver_kind = DriverOfDataSource(*dsn);
  }

  PutLogin(odbc, login, password);
  AddDriverDefaults(odbc, driver_kind, request);
  request.connection_string = FormatOdbcConnectionString(odbc);
  return request;
}

}  // namespace remoteccm
