#include "platform/db/connection_string.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "platform/db/db_error.h"

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

TEST(ConnectionStringTest, RefusesMalformedStrings) {
  EXPECT_THROW(ParseConnectionString("Driver={SQLite3;Database=x"), DbError);
  EXPECT_THROW(ParseConnectionString("Password='abc"), DbError);
  EXPECT_THROW(ParseConnectionString("Driver=x;Database"), DbError);
  EXPECT_THROW(ParseConnectionString("=value"), DbError);
  EXPECT_THROW(ParseConnectionString("PWD={a}b"), DbError);
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

TEST(ConnectionStringTest, AnyTextParsesOrFailsCleanly) {
  std::mt19937 random(20261108);
  const std::string alphabet = "=;{}'\" \tPWDpwdaZ\\\x01\xe9";
  for (int n = 0; n < 20000; ++n) {
    std::string text;
    const std::size_t length = random() % 40;
    for (std::size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    SCOPED_TRACE(text);
    try {
      const ConnectionAttributes parsed = ParseConnectionString(text);
      const ConnectionAttributes again = ParseConnectionString(FormatOdbcConnectionString(parsed));
      ASSERT_EQ(again.size(), parsed.size());
      for (std::size_t i = 0; i < parsed.size(); ++i) {
        ASSERT_EQ(again[i].key, parsed[i].key);
        ASSERT_EQ(again[i].value, parsed[i].value);
      }
    } catch (const DbError&) {
      // refused with a message: fine
    }
    ASSERT_NO_THROW(MaskConnectionPasswords(text));
  }
}

TEST(ConnectionStringTest, MasksEveryPasswordAndKeepsTheRest) {
  EXPECT_EQ(MaskConnectionPasswords("Driver=x;UID=sa;PWD=secret;Server=h"),
            "Driver=x;UID=sa;PWD=***;Server=h");
  EXPECT_EQ(MaskConnectionPasswords("Provider=SQLOLEDB;Password={a;b};pwd='c'"),
            "Provider=SQLOLEDB;Password=***;pwd=***");
  // Unparseable: everything after the first password key goes.
  EXPECT_EQ(MaskConnectionPasswords("UID=sa;PWD={never closed;Server=h"), "UID=sa;PWD=***");
  EXPECT_EQ(MaskConnectionPasswords("DSN=cdr"), "DSN=cdr");
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
              HasSubstr("\"Microsoft.Jet.OLEDB.4.0\" is not available"));
  EXPECT_THAT(ResolveError("Driver={Nonexistent Driver};Database=x"),
              HasSubstr("\"Nonexistent Driver\" is not installed. Installed drivers: SQLite3"));
  EXPECT_THAT(ResolveError("Provider=SQLOLEDB;Data Source=h",
                           [] { return std::vector<std::string>{"SQLite3"}; }),
              HasSubstr("install the package tdsodbc"));
  EXPECT_THAT(ResolveError("Provider=SQLOLEDB;Data Source=h,99999"), HasSubstr("99999"));
  EXPECT_THAT(ResolveError("Provider=SQLOLEDB;Initial Catalog=CDR"), HasSubstr("names no server"));
  EXPECT_THAT(ResolveError("Database=/x.db;UID=u"), HasSubstr("neither an ODBC driver"));
}

}  // namespace
}  // namespace remoteccm
