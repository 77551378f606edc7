// Every test runs against the SQLite ODBC driver (a scratch file) and against PostgreSQL
// through psqlODBC (the server named by REMOTECCM_TEST_PG; skipped when it is not given, a
// failure when REMOTECCM_REQUIRE_PG=1).
#include "platform/db/database.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/db/cdr_schema.h"
#include "platform/db/connection_string.h"
#include "platform/db/db_error.h"
#include "support/cdr_database.h"
#include "support/scratch_dir.h"
#include "util/text_routines.h"

namespace remoteccm {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

enum class Backend { kSqlite, kPostgres };

bool PostgresRequired() {
  const char* required = std::getenv("REMOTECCM_REQUIRE_PG");
  return required != nullptr && std::string(required) == "1";
}

std::string PostgresString() {
  const char* text = std::getenv("REMOTECCM_TEST_PG");
  return text == nullptr ? std::string() : std::string(text);
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const DbError& error) {
    return error.what();
  }
  return "(no error)";
}

class DatabaseTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    table_ = "t_" + test.substr(0, test.find('/'));
    if (GetParam() == Backend::kSqlite) {
      connection_string_ =
          "Driver=SQLite3;Database=" + testing::DriverFilePath(scratch_ / "cdr.db") + ";NoCreat=0";
    } else {
      connection_string_ = PostgresString();
      if (connection_string_.empty()) {
        if (PostgresRequired()) {
          FAIL() << "REMOTECCM_REQUIRE_PG=1 but REMOTECCM_TEST_PG names no PostgreSQL server";
        }
        GTEST_SKIP() << "REMOTECCM_TEST_PG is not set (scripts/start-test-postgres gives one)";
      }
    }
    try {
      db_.Connect(connection_string_, "CDR", "", "");
    } catch (const DbError& error) {
      if (GetParam() == Backend::kPostgres && !PostgresRequired()) {
        GTEST_SKIP() << "PostgreSQL not reachable: " << error.what();
      }
      FAIL() << error.what();
    }
    db_.Execute("DROP TABLE IF EXISTS " + table_);
  }

  void TearDown() override {
    if (db_.Connected()) {
      try {
        db_.Execute("DROP TABLE IF EXISTS " + table_);
      } catch (const DbError&) {
      }
    }
    db_.Disconnect();
  }

  bool Postgres() const { return GetParam() == Backend::kPostgres; }

  // Fills table_ (id BIGINT, name VARCHAR(40)) with ids 1..count.
  void FillSequence(long count) {
    db_.Execute("CREATE TABLE " + table_ + " (id BIGINT, name VARCHAR(40))");
    if (Postgres()) {
      db_.Execute("INSERT INTO " + table_ + " SELECT x, 'row ' || x FROM generate_series(1, " +
                  std::to_string(count) + ") AS x");
    } else {
      db_.Execute("INSERT INTO " + table_ +
                  " WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < " +
                  std::to_string(count) +
                  ") SELECT x, 'row ' || x FROM c WHERE x <= " + std::to_string(count));
    }
  }

  // Every row of the statement as text.
  std::vector<std::vector<std::string>> ReadAll(const std::string& sql,
                                                std::size_t rowset = kDefaultRowsetSize) {
    DbQuery query(db_, rowset);
    query.AddLine(sql);
    query.Open();
    std::vector<std::vector<std::string>> rows;
    for (; !query.Eof(); query.Next()) {
      std::vector<std::string> row;
      row.reserve(static_cast<std::size_t>(query.FieldCount()));
      for (int i = 0; i < query.FieldCount(); ++i) row.emplace_back(query.AsString(i));
      rows.push_back(std::move(row));
    }
    return rows;
  }

  long Count(const std::string& where = "") {
    DbQuery query(db_);
    query.AddLine("SELECT COUNT(*) FROM " + table_ + where);
    query.Open();
    return static_cast<long>(query.AsFloat(0));
  }

  DbConnection db_;
  std::string connection_string_;
  std::string table_;
  testing::ScratchDir scratch_;
};

TEST_P(DatabaseTest, ReadsEveryRowWhateverTheBlockSize) {
  for (long count : {0L, 1L, 99L, 100L, 101L, 250000L}) {
    SCOPED_TRACE(count);
    db_.Execute("DROP TABLE IF EXISTS " + table_);
    FillSequence(count);
    DbQuery query(db_);
    query.AddLine("SELECT id, name");
    query.AddLine("FROM " + table_ + " ORDER BY id");
    EXPECT_EQ(query.Text(), "SELECT id, name\nFROM " + table_ + " ORDER BY id");
    query.Open();
    ASSERT_TRUE(query.Active());
    EXPECT_EQ(query.Eof(), count == 0);
    long seen = 0;
    bool in_order = true;
    for (; !query.Eof(); query.Next()) {
      ++seen;
      in_order = in_order && query.AsFloat(0) == static_cast<double>(seen) &&
                 query.FieldByName("NAME").AsString() == "row " + std::to_string(seen);
    }
    EXPECT_EQ(seen, count);
    EXPECT_TRUE(in_order);
    query.Next();  // past the end stays at the end
    EXPECT_TRUE(query.Eof());
  }
  // The same result through blocks of other sizes.
  const auto by_one =
      ReadAll("SELECT id, name FROM " + table_ + " WHERE id <= 1234 ORDER BY id", 1);
  EXPECT_EQ(by_one.size(), 1234u);
  EXPECT_EQ(ReadAll("SELECT id, name FROM " + table_ + " WHERE id <= 1234 ORDER BY id", 7), by_one);
  EXPECT_EQ(ReadAll("SELECT id, name FROM " + table_ + " WHERE id <= 1234 ORDER BY id", 1000),
            by_one);
}

TEST_P(DatabaseTest, NullsReadAsEmptyTextAndZero) {
  db_.Execute("CREATE TABLE " + table_ +
              " (i INTEGER, b BIGINT, v VARCHAR(20), t TEXT, d DOUBLE PRECISION, c CHAR(3))");
  db_.Execute("INSERT INTO " + table_ + " VALUES (NULL, NULL, NULL, NULL, NULL, NULL)");
  db_.Execute("INSERT INTO " + table_ + " VALUES (7, 8, 'v', 't', 2.5, 'abc')");
  for (bool separately : {false, true}) {
    DbQuery query(db_);
    query.ReadValuesSeparately(separately);
    query.AddLine("SELECT * FROM " + table_ + " ORDER BY i");
    query.Open();
    // PostgreSQL sorts nulls last, SQLite first.
    for (int row = 0; row < 2; ++row, query.Next()) {
      ASSERT_FALSE(query.Eof());
      if (!query.IsNull(0)) {
        EXPECT_EQ(query.AsString(0), "7");
        EXPECT_EQ(query.FieldByName("d").AsFloat(), 2.5);
        EXPECT_EQ(query.FieldByName("c").AsString(), "abc");
        continue;
      }
      for (int i = 0; i < query.FieldCount(); ++i) {
        SCOPED_TRACE(query.FieldName(i));
        EXPECT_TRUE(query.Field(i).IsNull());
        EXPECT_EQ(query.Field(i).AsString(), "");
        EXPECT_EQ(query.Field(i).AsFloat(), 0.0);
      }
    }
    EXPECT_TRUE(query.Eof());
  }
}

TEST_P(DatabaseTest, LongTextIsNeverCut) {
  db_.Execute("CREATE TABLE " + table_ + " (id INTEGER, v VARCHAR(2048), t TEXT)");
  std::vector<std::string> values;
  DbTransaction filling(db_, IsolationLevel::kReadCommitted);
  for (std::size_t i = 0; i < 230; ++i) {
    // Mostly short values, a long one now and then, some at the bound buffer's edge.
    const std::size_t length = i % 37 == 5 ? 100000 : i % 11 == 3 ? 2000 : i % 5 == 0 ? 256 : i;
    std::string value;
    for (std::size_t j = 0; j < length; ++j) value += static_cast<char>('a' + (i + j) % 26);
    values.push_back(value);
    const std::string short_value = value.substr(0, 2000);
    db_.Execute("INSERT INTO " + table_ + " VALUES (" + std::to_string(i) + ", '" + short_value +
                "', '" + value + "')");
  }
  filling.Commit();
  // Bound blocks, bound single rows, and every value read on its own.
  for (std::size_t rowset : {1u, 100u, 0u}) {
    DbQuery query(db_, rowset);
    query.ReadValuesSeparately(rowset == 0);
    query.AddLine("SELECT id, v, t FROM " + table_ + " ORDER BY id");
    query.Open();
    for (std::size_t i = 0; i < values.size(); ++i, query.Next()) {
      ASSERT_FALSE(query.Eof());
      ASSERT_EQ(query.AsString(1), values[i].substr(0, 2000)) << "row " << i;
      ASSERT_EQ(query.AsString(2), values[i]) << "row " << i;
      ASSERT_EQ(query.AsString(2).size(), values[i].size());
    }
    EXPECT_TRUE(query.Eof());
  }
}

TEST_P(DatabaseTest, IntegersAtTheirLimitsAndEightBitText) {
  db_.Execute("CREATE TABLE " + table_ + " (i INTEGER, b BIGINT, v VARCHAR(40))");
  // SQLite keeps the bytes as they are; the PostgreSQL test database is UTF-8.
  const std::string text = Postgres() ? "\xC3\xA9t\xC3\xA9 M\xC3\xBCller" : "\xE9t\xE9 M\xFCller";
  db_.Execute("INSERT INTO " + table_ + " VALUES (-2147483648, -9007199254740993, 'x')");
  db_.Execute("INSERT INTO " + table_ + " VALUES (2147483647, 9223372036854775807, '" + text +
              "')");
  db_.Execute("INSERT INTO " + table_ + " VALUES (-1139627840, 0, '')");
  const auto rows = ReadAll("SELECT i, b, v FROM " + table_ + " ORDER BY i");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"-2147483648", "-9007199254740993", "x"}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{"-1139627840", "0", ""}));
  EXPECT_EQ(rows[2], (std::vector<std::string>{"2147483647", "9223372036854775807", text}));
  DbQuery query(db_);
  query.AddLine("SELECT i, b FROM " + table_ + " WHERE i < 0 ORDER BY i");
  query.Open();
  EXPECT_EQ(query.AsFloat(0), -2147483648.0);
  EXPECT_EQ(query.AsFloat(1), -9007199254740992.0);
}

TEST_P(DatabaseTest, FieldsByNameInAnyCase) {
  db_.Execute("CREATE TABLE " + table_ +
              " (dateTimeDisconnect INTEGER, callingPartyNumber "
              "VARCHAR(50))");
  db_.Execute("INSERT INTO " + table_ + " VALUES (1793491546, '2001')");
  DbQuery query(db_);
  query.AddLine("SELECT * FROM " + table_ +
                " WHERE (dateTimeDisconnect >= 1793491546) and "
                "(dateTimeDisconnect < 1793491547)");
  query.Open();
  ASSERT_FALSE(query.Eof());
  // PostgreSQL folds unquoted names to lower case; SQLite keeps the spelling.
  EXPECT_TRUE(SameText(query.FieldName(0), "dateTimeDisconnect"));
  EXPECT_EQ(query.FieldName(0), Postgres() ? "datetimedisconnect" : "dateTimeDisconnect");
  EXPECT_EQ(query.FieldByName("DATETIMEDISCONNECT").AsFloat(), 1793491546.0);
  EXPECT_EQ(query.FieldByName("CallingPartyNumber").AsString(), "2001");
  EXPECT_EQ(query.FieldIndex("duration"), -1);
  EXPECT_EQ(ErrorOf([&] { query.FieldByName("duration"); }), "Field 'duration' not found");
  EXPECT_THROW(query.Field(2), DbError);
  DbQuery text(db_);
  text.AddLine("SELECT 'x1' AS v");
  text.Open();
  EXPECT_EQ(ErrorOf([&] { text.FieldByName("V").AsFloat(); }),
            "Field 'v' holds \"x1\", which is not a number");
}

TEST_P(DatabaseTest, ColumnListOfTheCdrTableInAnyCase) {
  db_.Execute(CdrCreateTableStatement(table_ + "_CallDetailRecord"));
  for (const std::string& name :
       {table_ + "_CallDetailRecord", table_ + "_calldetailrecord", table_ + "_CALLDETAILRECORD"}) {
    SCOPED_TRACE(name);
    const std::vector<DbColumnInfo> columns = db_.ListColumns(name);
    ASSERT_EQ(columns.size(), CdrColumns().size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
      EXPECT_TRUE(SameText(columns[i].name, CdrColumns()[i].name)) << columns[i].name;
      EXPECT_EQ(columns[i].max_length, CdrColumns()[i].length) << columns[i].name;
    }
  }
  EXPECT_TRUE(db_.ListColumns(table_ + "_NoSuchTable").empty());
  EXPECT_EQ(db_.ListColumns("[" + table_ + "_CallDetailRecord]").size(), CdrColumns().size());
  EXPECT_EQ(db_.ListColumns("\"" + table_ + "_CallDetailRecord\"").size(), CdrColumns().size());
  if (Postgres()) {
    EXPECT_EQ(db_.ListColumns("public." + table_ + "_CallDetailRecord").size(),
              CdrColumns().size());
    EXPECT_TRUE(db_.ListColumns("nosuchschema." + table_ + "_CallDetailRecord").empty());
  }
  db_.Execute("DROP TABLE " + table_ + "_CallDetailRecord");
}

TEST_P(DatabaseTest, FailuresCarryTheDriversDiagnostic) {
  DbQuery query(db_);
  query.AddLine("SELEC * FROM nowhere");
  const std::string syntax = ErrorOf([&] { query.Open(); });
  EXPECT_THAT(syntax, HasSubstr("Cannot execute the statement: ["));
  EXPECT_FALSE(query.Active());
  query.ClearLines();
  query.AddLine("SELECT * FROM " + table_ + "_missing");
  // PostgreSQL names the table in lower case.
  const std::string missing_table = UpperCase(table_ + "_missing");
  EXPECT_THAT(UpperCase(ErrorOf([&] { query.Open(); })), HasSubstr(missing_table));
  EXPECT_FALSE(query.Active());
  query.ClearLines();
  EXPECT_EQ(ErrorOf([&] { query.Open(); }), "The statement is empty");
  query.AddLine("CREATE TABLE " + table_ + " (id INTEGER)");
  EXPECT_EQ(ErrorOf([&] { query.Open(); }), "The statement returned no rows to read");
  EXPECT_FALSE(query.Active());
  query.ClearLines();
  const std::string deletion = ErrorOf([&] { db_.Execute("DELETE FROM " + table_ + "_missing"); });
  EXPECT_THAT(UpperCase(deletion), HasSubstr(missing_table));
  EXPECT_EQ(deletion.find('\n'), std::string::npos) << "a log line must stay one line";

  DbConnection other;
  EXPECT_THAT(ErrorOf([&] { other.Connect("Driver=No Such Driver;Database=x", "", "", ""); }),
              HasSubstr("driver named in Driver is not installed"));
  EXPECT_FALSE(other.Connected());
  if (Postgres()) {
    EXPECT_THAT(ErrorOf([&] { other.Connect(connection_string_, "CDR", "", "wrong password"); }),
                HasSubstr("password authentication failed"));
    ConnectionAttributes refused = ParseConnectionString(connection_string_);
    for (ConnectionAttribute& a : refused) {
      if (SameText(a.key, "Port")) a.value = "1";
    }
    EXPECT_THAT(ErrorOf([&] { other.Connect(FormatOdbcConnectionString(refused), "", "", ""); }),
                HasSubstr("Cannot connect to the database: [08001]"));
  }
  EXPECT_FALSE(other.Connected());
  DbQuery orphan(other);
  orphan.AddLine("SELECT 1");
  EXPECT_EQ(ErrorOf([&] { orphan.Open(); }), "The database is not connected");
}

// SQLite says "connect failed (native 14)" whatever is wrong with the file: the layer says what
// it is, the driver's text after it.
TEST(SqliteFileTest, WhatIsWrongWithTheFileIsSaidInWords) {
  const testing::ScratchDir scratch;
  const std::string missing = testing::DriverFilePath(scratch / "missing.db");
  const std::string in_nowhere = testing::DriverFilePath(scratch / "nowhere" / "cdr.db");
  const std::string folder = testing::DriverFilePath(scratch);
  const struct {
    std::string file;
    std::string said;
  } cases[] = {
      {missing, "the database file " + missing + " does not exist"},
      {in_nowhere, "the folder " + std::filesystem::path(in_nowhere).parent_path().string() +
                       " of the database file " + in_nowhere + " does not exist"},
      {folder, folder + " is a folder, not a database file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    DbConnection attempt;
    EXPECT_EQ(ErrorOf([&] { attempt.Connect("Driver=SQLite3;Database=" + c.file, "", "", ""); }),
              "Cannot connect to the database: " + c.said +
                  " ([HY000] [SQLite]connect failed (native 14))");
  }
  EXPECT_FALSE(std::filesystem::exists(scratch / "missing.db"));
}

// Provider=MSDASQL with the backend's ODBC string in Extended Properties, double-quoted or
// braced: it connects, and what the log shows of it keeps the password out.
TEST_P(DatabaseTest, ConnectsThroughExtendedPropertiesAndMasksItsPassword) {
  const std::string inner = Postgres() ? connection_string_ : connection_string_ + ";PWD=n3sted";
  const std::string password = *FindAttribute(ParseConnectionString(inner), "PWD");
  for (const char open : {'"', '{'}) {
    const char close = open == '{' ? '}' : open;
    std::string nested = "Provider=MSDASQL;Extended Properties=" + std::string(1, open);
    for (char c : inner) {
      nested += c;
      if (c == close) nested += close;
    }
    nested += close;
    SCOPED_TRACE(MaskConnectionPasswords(nested));
    DbConnection other;
    EXPECT_EQ(ErrorOf([&] { other.Connect(nested, "CDR", "", ""); }), "(no error)");
    EXPECT_EQ(other.DbmsName(), Postgres() ? "PostgreSQL" : "SQLite");
    EXPECT_THAT(MaskConnectionPasswords(nested), Not(HasSubstr(password)));
  }
}

TEST_P(DatabaseTest, DeletionInsideATransactionRollsBackUnlessCommitted) {
  FillSequence(10);
  {
    DbTransaction transaction(db_, IsolationLevel::kSerializable);
    db_.Execute("DELETE FROM " + table_ + " WHERE id > 4");
    EXPECT_EQ(Count(), 4);
  }  // not committed
  EXPECT_EQ(Count(), 10);
  {
    DbTransaction transaction(db_, IsolationLevel::kSerializable);
    db_.Execute("DELETE FROM " + table_ + " WHERE id > 4");
    db_.Execute("DELETE FROM " + table_ + " WHERE id > 1000");  // matches nothing
    transaction.Commit();
  }
  EXPECT_EQ(Count(), 4);
  // Autocommit is back on: this deletion stays without a transaction.
  db_.Execute("DELETE FROM " + table_ + " WHERE id = 1");
  db_.Disconnect();
  db_.Connect(connection_string_, "CDR", "", "");
  EXPECT_EQ(Count(), 3);
}

// The engine selects a window and deletes the same window in one serializable transaction: a
// row another connection inserts into the window meanwhile must survive.
TEST_P(DatabaseTest, ARowInsertedBetweenSelectAndDeleteSurvives) {
  FillSequence(50);
  DbConnection other;
  // SQLite: the writer waits at most 200 ms for the lock instead of the default 100 s.
  other.Connect(connection_string_ + (Postgres() ? "" : ";Timeout=200"), "CDR", "", "");

  bool inserted = false;
  bool committed = false;
  long read = 0;
  try {
    DbTransaction transaction(db_, IsolationLevel::kSerializable);
    DbQuery select(db_);
    select.AddLine("SELECT * FROM " + table_ + " WHERE (id >= 1) and (id < 1000)");
    select.Open();
    for (; !select.Eof(); select.Next()) ++read;
    select.Close();
    try {
      other.Execute("INSERT INTO " + table_ + " VALUES (500, 'late')");
      inserted = true;
    } catch (const DbError& error) {
      // SQLite: the reader's lock keeps the writer out ("database is locked").
      EXPECT_FALSE(Postgres()) << error.what();
    }
    db_.Execute("DELETE FROM " + table_ + " WHERE (id >= 1) and (id < 1000)");
    transaction.Commit();
    committed = true;
  } catch (const DbError& error) {
    // A driver may refuse the deletion instead (SQLite in WAL mode); then nothing is deleted.
    ADD_FAILURE() << "the window could not be deleted: " << error.what();
  }
  EXPECT_EQ(read, 50);
  if (!inserted) {
    other.Execute("INSERT INTO " + table_ + " VALUES (500, 'late')");  // after the commit
  }
  EXPECT_TRUE(committed);
  const auto rows = ReadAll("SELECT id, name FROM " + table_);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"500", "late"}));
}

TEST_P(DatabaseTest, DefaultDatabaseAndDriverFacts) {
  EXPECT_TRUE(db_.Connected());
  EXPECT_EQ(db_.DbmsName(), Postgres() ? "PostgreSQL" : "SQLite");
  // psqlODBC reads long values of a block; the SQLite driver only row by row.
  EXPECT_EQ(db_.ReadsLongValuesInBlocks(), Postgres());
  FillSequence(3);
  DbQuery query(db_, 50);
  query.AddLine("SELECT id FROM " + table_);
  query.Open();
  EXPECT_EQ(query.EffectiveRowsetSize(), Postgres() ? 50u : 1u);
  if (Postgres()) {
    // A batch: the rows are those of the first result that has columns.
    DbQuery batch(db_);
    batch.AddLine("UPDATE " + table_ + " SET id = id * 10;");
    batch.AddLine("SELECT SUM(id) AS total FROM " + table_);
    batch.Open();
    EXPECT_EQ(batch.FieldByName("total").AsFloat(), 60.0);
  }
  query.Close();
  EXPECT_FALSE(query.Active());
  EXPECT_TRUE(query.Eof());
  // Disconnecting closes a query still open on the connection.
  query.Open();
  ASSERT_TRUE(query.Active());
  db_.Disconnect();
  EXPECT_FALSE(db_.Connected());
  EXPECT_FALSE(query.Active());
  query.Next();
  EXPECT_TRUE(query.Eof());
  db_.Connect(connection_string_, "", "", "");
  EXPECT_TRUE(db_.Connected());
}

TEST_P(DatabaseTest, ReadOnlyColumnsKeepsTheirValuesAndRefusesTheOthers) {
  db_.Execute("CREATE TABLE " + table_ + " (id INTEGER, a VARCHAR(20), t TEXT, b VARCHAR(20))");
  std::vector<std::string> long_values;
  DbTransaction filling(db_, IsolationLevel::kReadCommitted);
  for (int i = 0; i < 250; ++i) {
    // Now and then a value longer than the bound buffer in the kept text column.
    long_values.push_back(std::string(i % 40 == 7 ? 3000 : 10, static_cast<char>('a' + i % 26)));
    db_.Execute("INSERT INTO " + table_ + " VALUES (" + std::to_string(i) + ", 'a" +
                std::to_string(i) + "', '" + long_values.back() + "', " +
                (i % 3 == 0 ? std::string("NULL") : "'b" + std::to_string(i) + "'") + ")");
  }
  filling.Commit();
  // Narrowed on the first row and in the middle of a block; bound blocks, bound single rows,
  // and every value read on its own.
  for (int narrow_at : {0, 42}) {
    for (std::size_t rowset : {100u, 1u, 0u}) {
      SCOPED_TRACE(std::to_string(narrow_at) + " " + std::to_string(rowset));
      DbQuery query(db_, rowset);
      query.ReadValuesSeparately(rowset == 0);
      query.AddLine("SELECT id, a, t, b FROM " + table_ + " ORDER BY id");
      query.Open();
      int row = 0;
      for (; !query.Eof(); query.Next(), ++row) {
        if (row == narrow_at) query.ReadOnlyColumns({2, 0});
        ASSERT_EQ(query.AsFloat(0), row);
        ASSERT_EQ(query.AsString(2), long_values[static_cast<std::size_t>(row)]);
        if (row < narrow_at) {
          ASSERT_EQ(query.AsString(1), "a" + std::to_string(row));
          ASSERT_EQ(query.IsNull(3), row % 3 == 0);
        } else {
          EXPECT_THAT(ErrorOf([&] { query.AsString(1); }), HasSubstr("'a' is not read"));
          EXPECT_THAT(ErrorOf([&] { query.IsNull(3); }), HasSubstr("'b' is not read"));
          EXPECT_EQ(query.FieldName(3), "b");
        }
      }
      EXPECT_EQ(row, 250);
      EXPECT_THAT(ErrorOf([&] { query.ReadOnlyColumns({4}); }), HasSubstr("out of range"));
    }
  }
  DbQuery closed(db_);
  EXPECT_THAT(ErrorOf([&] { closed.ReadOnlyColumns({0}); }), HasSubstr("not open"));
}

// Narrowed on its first row, a result gives the kept columns of the same rows in the same order
// as the whole result, whatever the statement: an index on a kept column must not change the
// order, a name must be quoted, a name the result holds twice cannot be selected by name.
TEST_P(DatabaseTest, ReadOnlyColumnsGivesTheWholeResultsRowsInItsOrder) {
  db_.Execute("CREATE TABLE " + table_ + R"( (id INTEGER, "odd ""name""" VARCHAR(20), d INTEGER))");
  db_.Execute("CREATE INDEX ix_" + table_ + "_d ON " + table_ + " (d)");
  DbTransaction filling(db_, IsolationLevel::kReadCommitted);
  for (int i = 0; i < 120; ++i) {
    db_.Execute("INSERT INTO " + table_ + " VALUES (" + std::to_string(i) + ", 'n" +
                std::to_string(i % 7) + "', " + std::to_string(1000 - i) + ")");
  }
  filling.Commit();
  const struct {
    std::string sql;
    std::vector<int> kept;
  } kCases[] = {
      {"SELECT * FROM " + table_, {2}},
      {"SELECT * -- every column\nFROM " + table_ + "\nWHERE id >= 5", {1, 2}},
      {"select * from " + table_ + R"( ORDER BY "odd ""name""", id)", {0}},
      {"SELECT * FROM " + table_ + " LIMIT 40", {2}},
      {"SELECT id, d, id FROM " + table_, {0, 1}},
  };
  for (const auto& [sql, kept] : kCases) {
    SCOPED_TRACE(sql);
    std::vector<std::vector<std::string>> expected;
    for (const std::vector<std::string>& row : ReadAll(sql)) {
      std::vector<std::string>& values = expected.emplace_back();
      for (const int column : kept) values.push_back(row[static_cast<std::size_t>(column)]);
    }
    DbQuery query(db_);
    query.AddLine(sql);
    query.Open();
    query.ReadOnlyColumns(kept);
    std::vector<std::vector<std::string>> read;
    for (; !query.Eof(); query.Next()) {
      std::vector<std::string>& values = read.emplace_back();
      for (const int column : kept) values.emplace_back(query.AsString(column));
    }
    EXPECT_EQ(read, expected);
  }
}

// A cancel from another thread stops the reading at whatever moment of a fetch it arrives,
// many times over, and the connection serves again once the cancel is reset. (The SQLite
// driver's own SQLCancel frees the row that the reading thread is filling.)
TEST_P(DatabaseTest, CancelWhileReadingStopsTheReadWheneverItArrives) {
  FillSequence(3000);
  std::string wide = "SELECT id";
  for (int i = 0; i < 40; ++i) wide += ", name";  // the driver copies every value of a row
  wide += " FROM " + table_;
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    DbQuery query(db_);
    query.AddLine(wide);
    query.Open();
    std::thread canceller;
    std::atomic<bool> sent{false};
    long rows = 0;
    const std::string error = ErrorOf([&] {
      for (; !query.Eof(); query.Next()) {
        if (++rows == 50) {
          canceller = std::thread([&] {
            db_.Cancel();
            sent.store(true);
          });
        }
        // The cancel arrives wherever the reading is, but before its end: on a loaded machine
        // the canceller may otherwise start only once every row was read.
        while (rows == 2000 && !sent.load()) std::this_thread::yield();
      }
    });
    canceller.join();
    EXPECT_NE(error, "(no error)");
    EXPECT_LT(rows, 3000);
    query.Close();
    db_.ResetCancel();
  }
  EXPECT_EQ(Count(), 3000);
}

INSTANTIATE_TEST_SUITE_P(Backends, DatabaseTest,
                         ::testing::Values(Backend::kSqlite, Backend::kPostgres),
                         [](const ::testing::TestParamInfo<Backend>& param_info) {
                           return param_info.param == Backend::kSqlite ? "SQLite" : "PostgreSQL";
                         });

}  // namespace
}  // namespace remoteccm
