#include "platform/db/connection_string.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <random>

#include "platform/db/db_error.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::vector<std::string> SomeDrivers() { return {"SQLite3", "PostgreSQL Unicode", "FreeTDS"}; }

std::string Resolve(std::string_view text, std::string_view login = {},
                    std::string_view password = {}) {
  return ResolveConnectionString(text, login, password, SomeDrivers).connection_string;
}

std::string ResolveError(std::string_view text, const DriverLister& drivers = SomeDrivers) {
  try {
    ResolveConnectionString(text, {}, {}, drivers);
  } catch (const DbError& error) {
    return error.what();
  }
  return "(no error)";
}

TEST(ConnectionStringTest, ParsesQuotedBracedAndEmptyParts) {
  const ConnectionAttributes a = ParseConnectionString(
      " Driver = {SQLite3} ;;Database=/tmp/a b.db; PWD={x;}}y}; Password='it''s';"
      "Extended Properties=\"DSN=cdr;UID=u\";");
  ASSERT_EQ(a.size(), 5u);
  EXPECT_EQ(a[0].key, "Driver");
  EXPECT_EQ(a[0].value, "SQLite3");
  EXPECT_EQ(a[1].value, "/tmp/a b.db");
  EXPECT_EQ(a[2].value, "x;}y");
  EXPECT_EQ(a[3].value, "it's");
  EXPECT_EQ(a[4].value, "DSN=cdr;UID=u");
  EXPECT_EQ(*FindAttribute(a, "database"), "/tmp/a b.db");
  EXPECT_EQ(FindAttribute(a, "Server"), nullptr);
}

TEST(ConnectionStringTest, RefusalsNamePositionsAndKeysNeverPasswords) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"Driver={SQLite3;Database=x",
       "The value of \"Driver\" at character 8 of the connection string has no closing }"},
      {"Password='abc",
       "The value of \"Password\" at character 10 of the connection string has no closing '"},
      {"Driver=x;Database",
       "There is a part without \"=\" at character 10 of the connection string"},
      {"=value", "There is a value without a name at character 1 of the connection string"},
      {"PWD={a}b",
       "There is text after the quoted value of \"PWD\" at character 8 of the connection string"},
      // An unbraced ";" in a password: its tail is neither quoted nor named.
      {"PWD=abc;def;UID=x",
       "There is a part without \"=\" at character 9 of the connection string"},
      {"PWD=ab;c={d;UID=x", "The value at character 10 of the connection string has no closing }"},
      {"Provider=MSDASQL;Extended Properties=\"Driver=SQLite3;PWD=ab;cd\"",
       "There is a part without \"=\" at character 23 of Extended Properties in the connection "
       "string"},
      {"Provider=MSDASQL;Extended Properties={Driver={SQLite3}",
       "The value at character 8 of Extended Properties in the connection string has no "
       "closing }"},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolveError(c.text), c.error) << c.text;
  EXPECT_TRUE(ParseConnectionString("  ;; ").empty());
}

TEST(ConnectionStringTest, FormattingBracesWhatNeedsItAndParsesBack) {
  const ConnectionAttributes original = {
      {"Driver", "SQLite3"}, {"PWD", "a;b}c"}, {"Database", " lead"}, {"UID", "plain"}};
  const std::string text = FormatOdbcConnectionString(original);
  EXPECT_EQ(text, "Driver=SQLite3;PWD={a;b}}c};Database={ lead};UID=plain;");
  const ConnectionAttributes back = ParseConnectionString(text);
  ASSERT_EQ(back.size(), original.size());
  for (std::size_t i = 0; i < back.size(); ++i) EXPECT_EQ(back[i].value, original[i].value);
}

// A value as a connection string holds it: how 0 plain when it can be, 1 braced, 2 and 3 quoted.
std::string Quoted(const std::string& value, int how) {
  const bool plain = value.find(';') == std::string::npos && TrimView(value) == value &&
                     value.find_first_of("{'\"") != 0;
  if (how == 0 && plain) return value;
  const char open = "{{'\""[how % 4];
  const char close = open == '{' ? '}' : open;
  std::string text(1, open);
  for (char c : value) {
    text += c;
    if (c == close) text += close;
  }
  return text + close;
}

// Random text, most of it around a planted password (nested in Extended Properties up to three
// deep, cut short now and then): it parses back as it formats or is refused, and neither the
// mask nor any error shows the password.
TEST(ConnectionStringTest, AnyTextParsesOrFailsCleanlyAndNeverShowsAPassword) {
  std::mt19937 random(20261108);
  const std::string alphabet = "=;{}'\" \tPWDpwdaZ\\\x01\xe9";
  const std::string keys[] = {"PWD", "Password", "Jet OLEDB:Database Password", "NewPwd",
                              "KeyStoreSecret"};
  const auto noise = [&](std::size_t most) {
    std::string text;
    for (std::size_t i = random() % most; i > 0; --i) text += alphabet[random() % alphabet.size()];
    return text;
  };
  const auto some_noise = [&](std::size_t most) { return random() % 2 ? noise(most) : ""; };
  int masked_texts = 0;  // keeps the property from holding by masking nothing
  for (int n = 0; n < 20000; ++n) {
    std::string text;
    std::string secret;
    if (n % 4 == 0) {
      text = noise(40);
    } else {
      // "#" stands nowhere else, so the secret cannot turn up by chance.
      secret = noise(10) + noise(10);
      secret.insert(random() % (secret.size() + 1), "#");
      while (secret.size() < 4) secret += alphabet[random() % alphabet.size()];
      std::string key = keys[random() % std::size(keys)];
      for (char& c : key) c = random() % 2 ? static_cast<char>(std::toupper(c)) : c;
      std::string planted = key + "=" + Quoted(secret, static_cast<int>(random() % 4));
      for (int depth = static_cast<int>(random() % 4); depth > 0; --depth) {
        planted = "Extended Properties=" +
                  Quoted("UID=u;" + planted + ";" + some_noise(4), static_cast<int>(random() % 4));
      }
      text = (random() % 2 ? "Provider=MSDASQL;" : "") + some_noise(6) + ";" + planted + ";" +
             some_noise(6);
      if (random() % 4 == 0) text.resize(text.size() - random() % (text.size() - planted.size()));
    }
    SCOPED_TRACE(text);
    try {
      const ConnectionAttributes parsed = ParseConnectionString(text);
      const ConnectionAttributes again = ParseConnectionString(FormatOdbcConnectionString(parsed));
      ASSERT_EQ(again.size(), parsed.size());
      for (std::size_t i = 0; i < parsed.size(); ++i) {
        ASSERT_EQ(again[i].key, parsed[i].key);
        ASSERT_EQ(again[i].value, parsed[i].value);
      }
    } catch (const DbError& error) {
      if (!secret.empty()) {
        ASSERT_THAT(error.what(), Not(HasSubstr(secret)));
      }
    }
    const std::string masked = MaskConnectionPasswords(text);
    if (secret.empty()) continue;
    ASSERT_THAT(masked, Not(HasSubstr(secret)));
    if (masked.find("***") != std::string::npos) ++masked_texts;
    ASSERT_THAT(ResolveError(text), Not(HasSubstr(secret)));
  }
  EXPECT_GT(masked_texts, 10000);
}

TEST(ConnectionStringTest, MasksEveryPasswordAtAnyDepthAndKeepsTheRest) {
  const std::string deep = [] {
    std::string text;
    for (int i = 0; i < 100000; ++i) text += "a=";
    return text + "pwd=secret";
  }();
  const std::string deep_masked = [] {
    std::string text;
    for (int i = 0; i < 9; ++i) text += "a=";
    return text + "***";
  }();
  const struct {
    std::string text;
    std::string masked;
  } cases[] = {
      {"Driver=x;UID=sa;PWD=secret;Server=h", "Driver=x;UID=sa;PWD=***;Server=h"},
      {"Provider=SQLOLEDB;Password={a;b};pwd='c'", "Provider=SQLOLEDB;Password=***;pwd=***"},
      {"Provider=Microsoft.Jet.OLEDB.4.0;Jet OLEDB:Database Password=j3t;Data Source=c.mdb",
       "Provider=Microsoft.Jet.OLEDB.4.0;Jet OLEDB:Database Password=***;Data Source=c.mdb"},
      {" Driver = {SQLite3} ;;Database=/tmp/a b.db; PWD = \x01s\x01 ;",
       " Driver = {SQLite3} ;;Database=/tmp/a b.db; PWD = \x01***\x01 ;"},
      {"Provider=MSDASQL;Extended Properties=\"Driver=PostgreSQL Unicode;Server=h;PWD=s;UID=u\"",
       "Provider=MSDASQL;Extended Properties=\"Driver=PostgreSQL Unicode;Server=h;PWD=***;UID=u\""},
      {"Extended Properties={DSN=x;PWD={s}}}}e}};UID={a}}}}b}}}",
       "Extended Properties={DSN=x;PWD=***;UID={a}}}}b}}}"},
      {"A='B=\"C=1;pwd=''x''\";D=''2'''", "A='B=\"C=1;pwd=***\";D=''2'''"},
      {"Extended Properties=PASSWORD=s", "Extended Properties=PASSWORD=***"},
      // A password under a misspelled key is masked too.
      {"UID=sa;PDW=s1;PSWD=s2;Pasword=s3;WPD=s4;Server=h",
       "UID=sa;PDW=***;PSWD=***;Pasword=***;WPD=***;Server=h"},
      // Unparseable, here or nested: everything after the first password key goes.
      {"UID=sa;PWD={never closed;Server=h", "UID=sa;PWD=***"},
      {"Extended Properties=\"UID=u;PWD={open\";DSN=d",
       "Extended Properties=\"UID=u;PWD=***\";DSN=d"},
      {"Driver={SQLite3;Database=x", "Driver={SQLite3;Database=x"},
      {"DSN=cdr", "DSN=cdr"},
      {deep, deep_masked},
  };
  for (const auto& c : cases) EXPECT_EQ(MaskConnectionPasswords(c.text), c.masked) << c.text;
}

TEST(ConnectionStringTest, OdbcStringsPassAndGainTheStreamingOptions) {
  EXPECT_EQ(Resolve("Driver=SQLite3;Database=/x/cdr.db"),
            "Driver=SQLite3;Database=/x/cdr.db;StepAPI=1;NoCreat=1;Timeout=200;");
  EXPECT_EQ(Resolve("driver={SQLite3};Database=/x/cdr.db;StepAPI=0;NoCreat=0"),
            "driver=SQLite3;Database=/x/cdr.db;StepAPI=0;NoCreat=0;Timeout=200;");
  const std::string pg = Resolve("Driver={PostgreSQL Unicode};Server=h;Database=CDR");
  EXPECT_THAT(pg, HasSubstr("UseDeclareFetch=1;"));
  EXPECT_THAT(pg, HasSubstr("Fetch="));
  EXPECT_THAT(Resolve("Driver=PostgreSQL Unicode;UseDeclareFetch=0"),
              Not(HasSubstr("UseDeclareFetch=1")));
}

TEST(ConnectionStringTest, LoginAndPasswordTakeThePlaceOfTheStrings) {
  EXPECT_EQ(Resolve("Driver=FreeTDS;Server=h;UID=old;PWD=old", "new", "p;w"),
            "Driver=FreeTDS;Server=h;UID=new;PWD={p;w};");
  EXPECT_EQ(Resolve("Driver=FreeTDS;Server=h;UID=old;PWD=old"),
            "Driver=FreeTDS;Server=h;UID=old;PWD=old;");
}

TEST(ConnectionStringTest, MsdasqlPassesItsOdbcPart) {
  EXPECT_EQ(Resolve("Provider=MSDASQL.1;Persist Security Info=False;Driver=SQLite3;Database=/c.db"),
            "Driver=SQLite3;Database=/c.db;StepAPI=1;NoCreat=1;Timeout=200;");
  EXPECT_EQ(Resolve("Provider=MSDASQL;Data Source=cdrdsn;User ID=sa;Password=pw;"
                    "Initial Catalog=CDR"),
            "DSN=cdrdsn;UID=sa;PWD=pw;Database=CDR;");
  EXPECT_EQ(Resolve("Provider=MSDASQL;Extended Properties=\"DSN=cdrdsn;UID=u\""),
            "DSN=cdrdsn;UID=u;");
  EXPECT_EQ(Resolve("Provider=MSDASQL;Extended Properties={Driver=SQLite3;Database=/c.db;"
                    "PWD={p;w}}};User ID=x"),
            "Driver=SQLite3;Database=/c.db;PWD={p;w};UID=x;StepAPI=1;NoCreat=1;Timeout=200;");
}

TEST(ConnectionStringTest, SqlServerProvidersBecomeFreeTds) {
  EXPECT_EQ(Resolve("Provider=SQLOLEDB.1;Persist Security Info=True;User ID=CDRUser;"
                    "Password=pw;Initial Catalog=CDR;Data Source=ccm-pub"),
            "Driver=FreeTDS;Server=ccm-pub;Port=1433;Database=CDR;UID=CDRUser;PWD=pw;"
            "TDS_Version=7.1;");
  EXPECT_EQ(Resolve("Provider=SQLNCLI11;Data Source=tcp:10.1.1.5,2433;Initial Catalog=CDR"),
            "Driver=FreeTDS;Server=10.1.1.5;Port=2433;Database=CDR;TDS_Version=7.1;");
  EXPECT_EQ(Resolve("Provider=MSOLEDBSQL;Data Source=ccm\\CDRINST;TDS_Version=7.4"),
            "Driver=FreeTDS;Server=ccm\\CDRINST;TDS_Version=7.4;");
  // Without FreeTDS, Microsoft's driver takes "host,port".
  const std::string ms =
      ResolveConnectionString("Provider=SQLOLEDB;Data Source=h,1500", {}, {}, [] {
        return std::vector<std::string>{"ODBC Driver 17 for SQL Server"};
      }).connection_string;
  EXPECT_EQ(ms, "Driver=ODBC Driver 17 for SQL Server;Server=h,1500;");
}

TEST(ConnectionStringTest, ClearMessagesForWhatCannotWork) {
  EXPECT_THAT(ResolveError("Provider=SQLOLEDB;Integrated Security=SSPI;Data Source=h"),
              HasSubstr("not supported on Linux"));
  EXPECT_THAT(ResolveError("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=c.mdb"),
              HasSubstr("provider named in Provider is not available on Linux"));
  EXPECT_THAT(ResolveError("Driver={Nonexistent Driver};Database=x"),
              HasSubstr("driver named in Driver is not installed. Installed drivers: SQLite3"));
  EXPECT_THAT(ResolveError("Provider=MSDASQL;Driver=SQLite3;Database=/c.db",
                           [] { return std::vector<std::string>{"PostgreSQL Unicode"}; }),
              HasSubstr("not installed; install the package libsqliteodbc. "
                        "Installed drivers: PostgreSQL Unicode"));
  EXPECT_THAT(ResolveError("Provider=SQLOLEDB;Data Source=h",
                           [] { return std::vector<std::string>{"SQLite3"}; }),
              HasSubstr("install the package tdsodbc"));
  EXPECT_THAT(ResolveError("Provider=SQLOLEDB;Data Source=h,99999"),
              HasSubstr("port of the Data Source (after its comma) is not a number"));
  EXPECT_THAT(ResolveError("Provider=SQLOLEDB;Initial Catalog=CDR"), HasSubstr("names no server"));
  EXPECT_THAT(ResolveError("Database=/x.db;UID=u"), HasSubstr("neither an ODBC driver"));
}

}  // namespace
}  // namespace remoteccm
