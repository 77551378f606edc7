// The look-back of "New Records Only": records that reach the table late, with older times,
// are collected once; what was collected is never written again; the look-back never reaches
// before what its memory knows or before a start a user set.
#include "retrieval/run/late_arrivals.h"

#include <map>

#include "engine_fixture.h"
#include "util/key_value_lines.h"

namespace remoteccm::testing {
namespace {

namespace fs = std::filesystem;

class LateArrivalsTest : public EngineTest {
 protected:
  // A call that ended `minutes_before` minutes before `moment`.
  Call CallBefore(int id, std::int64_t moment, int minutes_before) {
    const std::int64_t end = moment - minutes_before * 60;
    return Call{id, end - 30, end, std::to_string(1000 + id), "555", 30, ""};
  }
  // How often each calling number (one per call) is in the destination.
  std::map<std::string, int> Written() {
    std::map<std::string, int> times;
    for (const std::string& line : DestinationLines()) ++times[line.substr(0, line.find(' '))];
    return times;
  }
  void UseLookBack(bool deletion) {
    Set("ConnectSQLMode", "New Records Only");
    Set("SQLNewRecDate", std::to_string(now_ - 6 * 3600));
    Set("SQLNewRecIncrValue", "1");
    Set("SQLNewRecIncrMode", "day(s)");
    Set("PollAgain", "N");
    Set("DeleteRecs", deletion ? "Y" : "N");
    Set("LateArrivalMinutes", "60");
    WriteFieldFile("CCM_FIELDS.INF", "[CCM_FIELDS]\r\ncallingPartyNumber=4\r\n");
  }
};

TEST_P(LateArrivalsTest, LateRecordsAreCollectedOnceInBothDeletionSettings) {
  for (const bool deletion : {true, false}) {
    SCOPED_TRACE(deletion ? "deleting" : "keeping");
    admin_.Execute("DELETE FROM " + table_);
    fs::remove(destination_);
    fs::remove(LateArrivalPath(profile_path_));
    UseLookBack(deletion);
    // A start set on purpose: the call 10 minutes before it is never collected.
    const std::int64_t start = now_ - 6 * 3600;
    Insert({CallBefore(1, start, 10), CallBefore(2, now_, 120), CallBefore(3, now_, 90)});
    ASSERT_EQ(Run(), RunStatus::kSuccess);
    EXPECT_EQ(observer_.Count("Late arrivals: there is no memory of earlier runs yet"), 1);
    // Run after run, calls arrive late, with times before the stored start.
    const std::int64_t stored = now_ - 90 * 60 + 1;
    EXPECT_EQ(Stored("SQLNewRecDate"), std::to_string(stored));
    Insert({CallBefore(4, stored, 30), CallBefore(5, stored, 59), CallBefore(6, stored, 61),
            CallBefore(7, now_, 5)});
    now_ += 600;
    ASSERT_EQ(Run(), RunStatus::kSuccess);
    ASSERT_EQ(Run(), RunStatus::kSuccess);  // nothing new: nothing written twice
    EXPECT_EQ(Written(), (std::map<std::string, int>{
                             {"1002", 1}, {"1003", 1}, {"1004", 1}, {"1005", 1}, {"1007", 1}}));
    // Beyond the look-back (6) and before the start set on purpose (1) stay in the table.
    EXPECT_EQ(ServerCount(), deletion ? 2 : 7);
    EXPECT_EQ(Stored("SQLNewRecDate"), std::to_string(now_ - 600 - 5 * 60 + 1));
  }
}

// Without its memory, a run cannot tell what it wrote: it looks back nothing and says so.
TEST_P(LateArrivalsTest, LostOrForeignMemoryLooksBackNothing) {
  UseLookBack(false);
  Insert({CallBefore(1, now_, 120)});
  ASSERT_EQ(Run(), RunStatus::kSuccess);
  const fs::path memory = LateArrivalPath(profile_path_);
  const std::string stored = Stored("SQLNewRecDate");
  struct Case {
    const char* what;
    std::string content;  // empty: the file removed
    const char* said;
  };
  const Case cases[] = {
      {"removed", "", "there is no memory of earlier runs yet"},
      {"empty", "\n", "is damaged"},
      {"cut short", "remoteccm late-arrivals 1\nprofile " + EscapeLineValue(profile_path_) + "\n",
       "is damaged"},
      {"of another profile",
       "remoteccm late-arrivals 1\nprofile /elsewhere/B.CCM\ntable x\nfloor 0\ncomplete-from "
       "0\nstored-start " +
           stored + "\nend\n",
       "belongs to another profile or table"},
  };
  int id = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(memory);
    if (!c.content.empty()) std::ofstream(memory, std::ios::binary) << c.content;
    Insert({CallBefore(++id, std::stoll(Stored("SQLNewRecDate")), 20)});  // late, not seen
    ASSERT_EQ(Run(), RunStatus::kSuccess);
    EXPECT_EQ(observer_.Count("Late arrivals: "), 1);
    EXPECT_NE(observer_.log.end(),
              std::find_if(observer_.log.begin(), observer_.log.end(), [&](const auto& line) {
                return line.find(c.said) != std::string::npos;
              }));
  }
  // Nothing was written twice, and the late calls the lost memory could not vouch for stayed.
  for (const auto& [number, times] : Written()) EXPECT_EQ(times, 1) << number;
  EXPECT_EQ(Written().size(), 1u);
}

// "-5", "99999", "abc" read as the default; 0 switches the look-back off.
TEST_P(LateArrivalsTest, MinutesOutOfRangeReadAsTheDefault) {
  const std::pair<const char*, int> cases[] = {{"-5", 60},   {"99999", 60}, {"abc", 60},   {"", 60},
                                               {" 30 ", 30}, {"0", 0},      {"1440", 1440}};
  for (const auto& [text, minutes] : cases) {
    Set("LateArrivalMinutes", text);
    EXPECT_EQ(LoadProfile(profile_path_, env_).late_arrival_minutes, minutes) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, LateArrivalsTest, ::testing::Values("sqlite", "postgres"),
                         [](const auto& param_info) { return param_info.param; });

}  // namespace
}  // namespace remoteccm::testing
