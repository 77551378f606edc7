// The start point against the clocks: a start decades back, one in the future, a collector
// clock that is ahead of the database server's, and names that are not names in the profile.
#include <ctime>

#include "engine_fixture.h"
#include "util/text_routines.h"

namespace remoteccm::testing {
namespace {

class EngineClockTest : public EngineTest {
 protected:
  void NewRecordsOnly(double start) {
    Set("ConnectSQLMode", "New Records Only");
    Set("SQLNewRecDate", FormatWhole(start));
    Set("SQLNewRecIncrValue", "1");
    Set("SQLNewRecIncrMode", "day(s)");
    Set("PollAgain", "Y");
  }
  static Call CallAt(int id, std::int64_t end) {
    return {id, end - 60, end, "2001", "300", 60, ""};
  }
  bool Warned(const std::string& warning) const {
    const std::vector<std::string>& warnings = engine_->LastRun().warnings;
    return std::find(warnings.begin(), warnings.end(), warning) != warnings.end();
  }
};

// Thirty years of empty day windows were walked one by one; the window of the oldest record
// now comes next, found by one query that says so in the log.
TEST_P(EngineClockTest, AStartDecadesBackJumpsToTheOldestRecord) {
  Insert({CallAt(1, now_ - 3 * 86400), CallAt(2, now_ - 7200)});
  NewRecordsOnly(static_cast<double>(Utc(1996, 1, 1)));
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(DestinationLines().size(), 2u);
  EXPECT_LE(engine_->LastRun().passes, 5);
  EXPECT_EQ(observer_.Count("No records from 1996/01/01 00:00 to "), 1);
  EXPECT_EQ(Stored("SQLNewRecDate"), std::to_string(now_ - 7200 + 1));
}

// A start in the future collects nothing until then: a warning, never a silent success.
TEST_P(EngineClockTest, AStartInTheFutureIsSaid) {
  Insert({CallAt(1, now_ - 7200)});
  const double future = static_cast<double>(now_ + 30 * 86400);
  NewRecordsOnly(future);
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_TRUE(Warned("start-in-future"));
  EXPECT_EQ(observer_.Count("The start point "), 1);
  EXPECT_EQ(Stored("SQLNewRecDate"), FormatWhole(future));
}

// One run with the clock a month ahead moved the start a month ahead for good: every later run
// collected nothing. The windows now end by the database server's clock.
TEST_P(EngineClockTest, AClockAheadOfTheServerMovesTheStartNoFurther) {
  const std::int64_t real = static_cast<std::int64_t>(std::time(nullptr));
  Insert({CallAt(1, real - 7200)});
  NewRecordsOnly(static_cast<double>(real - 86400));
  now_ = real + 30 * 86400;
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(observer_.Count("This computer's clock is "), 1);
  EXPECT_LE(ParseDecimal(Stored("SQLNewRecDate")), static_cast<double>(std::time(nullptr)));

  Insert({CallAt(2, real - 120)});
  now_ = static_cast<std::int64_t>(std::time(nullptr));
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  EXPECT_EQ(DestinationLines().size(), 2u);
}

// The table and date/time column names go into every statement: anything but a name is
// refused before the first one is built.
TEST_P(EngineClockTest, ANameThatIsNotANameIsNeverRun) {
  Set("ConnectSQLMode", "All Records");
  for (const std::string key : {"SQLTableName", "SQLDateTimeFldName"}) {
    SCOPED_TRACE(key);
    const std::string saved = Stored(key);
    Set(key, table_ + "; DROP TABLE " + table_);
    EXPECT_EQ(Run(), RunStatus::kSettingsInvalid);
    EXPECT_EQ(
        observer_.Count(key == "SQLTableName" ? "The table name " : "The date/time field name "),
        1);
    Set(key, saved.empty() ? "dateTimeDisconnect" : saved);
  }
  EXPECT_EQ(ServerCount(), 0);  // the table is still there
}

INSTANTIATE_TEST_SUITE_P(Drivers, EngineClockTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm::testing
