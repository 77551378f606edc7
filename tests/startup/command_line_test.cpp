#include "startup/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace remoteccm {
namespace {

TEST(CommandLineTest, SwitchesMatchWithoutCaseAndGiveOneBasedIndexes) {
  const CommandLine params = {"site1", "/visible", "/Entity:0002", "/VISIBLE"};
  EXPECT_EQ(FindSwitch(params, "/VISIBLE"), 2);
  EXPECT_EQ(FindSwitch(params, "/vis"), -1);
  EXPECT_EQ(FindSwitch(params, "SITE1"), 1);
  EXPECT_EQ(FindSwitchPrefix(params, "/ENTITY:"), 3);
  EXPECT_EQ(FindSwitchPrefix(params, "/entity:00023"), -1);
  EXPECT_EQ(FindSwitch({}, "/CONFIG"), -1);
}

TEST(CommandLineTest, EntityNameKeepsItsCaseAndLength) {
  EXPECT_EQ(EntityName({"/ENTITY:0002", "SITE1"}), "0002");
  EXPECT_EQ(EntityName({"/entity:Branch A"}), "Branch A");
  EXPECT_EQ(EntityName({"/ENTITYX", "SITE1"}), "");
  EXPECT_EQ(EntityName({"/ENTITYX", "/ENTITY:7", "/ENTITY:8"}), "7");
  EXPECT_EQ(EntityName({"/ENTITY:"}), "");
  EXPECT_EQ(EntityName({"/ENTITY:   "}), "   ");
  EXPECT_EQ(EntityName({"/ENTITY:" + std::string(300, 'e')}), std::string(255, 'e'));
  EXPECT_EQ(EntityName({"SITE1"}), "");
}

// What start-up does with a profile that exists, and whether a run then ends the program.
struct Start {
  bool last_profile;
  std::string profile;
  bool minimised;
  bool runs_at_once;
  bool closes_after_run;
};

Start StartWith(const CommandLine& params) {
  const StartupDecision decision = DecideStartup(params);
  return {decision.use_last_profile, decision.profile, decision.start_minimised,
          RunsAtOnce(params, true), ClosesAfterRun(params, true)};
}

TEST(CommandLineTest, StartUpCases) {
  const Start none = StartWith({});
  EXPECT_TRUE(none.last_profile);
  EXPECT_FALSE(none.minimised || none.runs_at_once || none.closes_after_run);

  const Start site = StartWith({"SITE1"});
  EXPECT_EQ(site.profile, "SITE1");
  EXPECT_TRUE(site.minimised && site.runs_at_once && site.closes_after_run);

  const Start visible = StartWith({"SITE1", "/VISIBLE"});
  EXPECT_FALSE(visible.minimised);
  EXPECT_TRUE(visible.runs_at_once && visible.closes_after_run);

  const Start config_first = StartWith({"/CONFIG", "SITE1"});
  EXPECT_EQ(config_first.profile, "SITE1");
  EXPECT_FALSE(config_first.minimised || config_first.runs_at_once ||
               config_first.closes_after_run);

  const Start config_last = StartWith({"SITE1", "/CONFIG"});
  EXPECT_FALSE(config_last.runs_at_once);
  EXPECT_TRUE(config_last.closes_after_run);

  const Start config_lower = StartWith({"/config", "SITE1"});
  EXPECT_FALSE(config_lower.minimised || config_lower.runs_at_once);
  EXPECT_TRUE(config_lower.closes_after_run);

  const Start by_default = StartWith({"/DEFAULT"});
  EXPECT_TRUE(by_default.last_profile && by_default.minimised);
  EXPECT_TRUE(by_default.runs_at_once && by_default.closes_after_run);

  const Start default_config = StartWith({"/CONFIG", "/default", "SITE1"});
  EXPECT_TRUE(default_config.last_profile);
  EXPECT_TRUE(default_config.runs_at_once);
  EXPECT_FALSE(default_config.closes_after_run);

  const StartupDecision entity = DecideStartup({"/ENTITY:0002", "SITE1"});
  EXPECT_EQ(entity.entity_name, "0002");
  EXPECT_EQ(entity.profile, "SITE1");
  EXPECT_TRUE(RunsAtOnce({"/ENTITY:0002", "SITE1"}, true));
}

TEST(CommandLineTest, ProfileChoiceEdges) {
  EXPECT_EQ(DecideStartup({"A", "/VISIBLE", "/srv/ccm/B.CCM"}).profile, "/srv/ccm/B.CCM");
  EXPECT_EQ(DecideStartup({"/srv/B.CCM", "/ENTITY:a/b", "/VISIBLE"}).profile, "/srv/B.CCM");
  EXPECT_TRUE(DecideStartup({"/VISIBLE", "/UNKNOWN"}).use_last_profile);
  EXPECT_TRUE(DecideStartup({"", "  "}).use_last_profile);
  EXPECT_EQ(DecideStartup({"A", ""}).profile, "A");
  // A missing profile never runs, whatever the parameters.
  EXPECT_FALSE(RunsAtOnce({"MISSING"}, false));
  EXPECT_FALSE(RunsAtOnce({"/DEFAULT"}, false));
  EXPECT_FALSE(ClosesAfterRun({"SITE1"}, false));
}

}  // namespace
}  // namespace remoteccm
