// Connection strings as profiles hold them (ODBC "DSN=..." / "Driver=...", or the OLE DB forms
// "Provider=MSDASQL;..." and "Provider=SQLOLEDB;Data Source=...") turned into the ODBC string
// the driver manager is given, with the options each known driver needs to stream results.
//
// Strings that work, as a profile holds them:
//   SQLite (libsqliteodbc):  Provider=MSDASQL;Driver=SQLite3;Database=/var/lib/cdr/cdr.db
//   PostgreSQL (psqlODBC):   Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=5432;
//                            Database=CDR;UID=cdr;PWD=...
//   SQL Server (FreeTDS):    Provider=SQLOLEDB.1;Data Source=ccm-pub;Initial Catalog=CDR;
//                            User ID=CDRUser;Password=...     (or Driver=FreeTDS;Server=...)
//   a data source:           DSN=cdr;UID=...;PWD=...
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace remoteccm {

// One "key=value" pair; keys keep their spelling, values are unquoted.
struct ConnectionAttribute {
  std::string key;
  std::string value;
  bool operator==(const ConnectionAttribute&) const = default;
};

using ConnectionAttributes = std::vector<ConnectionAttribute>;

// Splits "a=1;b={x;y};c='z''s'" into its pairs. Values may be in {braces} ("}}" is a brace
// inside), 'single' or "double" quotes (doubled to escape); blanks around keys and values and
// empty parts (";;") are dropped. Throws DbError on an unterminated quote or brace, or a part
// without "="; the message gives a position and names only keys that stand before any password,
// never a value or a part (an unbraced ";" in a password makes its tail look like one).
ConnectionAttributes ParseConnectionString(std::string_view text);

// Writes the pairs back in ODBC syntax, bracing values that need it.
std::string FormatOdbcConnectionString(const ConnectionAttributes& attributes);

// The value of the first key equal to key without regard to case, or nullptr.
const std::string* FindAttribute(const ConnectionAttributes& attributes, std::string_view key);

// The string with the value of every key that holds a secret (any key containing PWD, PASS,
// SECRET or TOKEN: PWD, Password, "Jet OLEDB:Database Password"...) replaced by "***", for logs.
// Connection strings nested in values (Extended Properties, quoted or braced, at any depth) are
// masked the same way; every other byte stays. A string that cannot be parsed is cut after the
// first "=" that follows such a word.
std::string MaskConnectionPasswords(std::string_view text);

// The keys that name the user and the password of a connection (UID, User ID, PWD, Password...).
bool IsUserKey(std::string_view key);
bool IsPasswordKey(std::string_view key);

// Names of the installed ODBC drivers; replaced in tests.
using DriverLister = std::function<std::vector<std::string>()>;

// The ODBC drivers the driver manager knows (SQLDrivers).
std::vector<std::string> InstalledOdbcDrivers();

// A data source registered with the driver manager, user's and system's (SQLDataSources).
struct OdbcDataSource {
  std::string name;
  std::string driver;  // the driver's description as odbc.ini gives it
};
std::vector<OdbcDataSource> OdbcDataSources();

// The ODBC pairs a profile's string stands for: the OLE DB forms translated as
// ResolveConnectionString translates them, nothing added for the driver. Throws DbError as
// ResolveConnectionString does for a string that cannot be parsed or an unknown provider, or a
// SQL Server provider without a SQL Server driver installed.
ConnectionAttributes OdbcAttributesOf(std::string_view text,
                                      const DriverLister& drivers = InstalledOdbcDrivers);

struct OdbcConnectionRequest {
  std::string connection_string;  // what SQLDriverConnect gets
  std::string driver;             // the driver named or chosen ("" for a DSN string)
  // The driver gives up on a locked database after a short step: repeat the statement.
  bool retry_while_locked = false;
};

// Turns a profile's connection string into the ODBC string to connect with. login and password,
// when not empty, take the place of any user name and password in the string. Adds the options
// that keep large results out of memory (SQLite: StepAPI=1; PostgreSQL: UseDeclareFetch=1 and a
// Fetch size) and NoCreat=1 for SQLite, unless the string already sets them. Throws DbError with
// a clear text for an OLE DB provider that has no ODBC counterpart here, Windows authentication,
// or a driver that is not installed; the text names keys, never a value of the string.
OdbcConnectionRequest ResolveConnectionString(std::string_view text, std::string_view login,
                                              std::string_view password,
                                              const DriverLister& drivers = InstalledOdbcDrivers);

}  // namespace remoteccm
