#include "profile/profile_list.h"

#include <string>

#include "platform/home/program_home.h"
#include "profile/profile_file.h"
#include "profile_fixture.h"

namespace remoteccm {
namespace {

using ListTest = ProfileTest;

TEST_F(ListTest, ListsOnlyCcmFilesSortedAndSelectsWithoutRegardToCase) {
  for (const char* name : {"b.CCM", "A.CCM", ".hidden.CCM", "lower.ccm", "x.txt", "CCM"}) {
    Put(home_ / name, "");
  }
  std::filesystem::create_directory(home_ / "folder.CCM");
  ProfileList list = ListProfiles(home_, "B");
  EXPECT_EQ(list.names, (std::vector<std::string>{".hidden", "A", "b"}));
  EXPECT_EQ(list.selected, 2);
  EXPECT_EQ(ListProfiles(home_, "nothing").selected, -1);
  EXPECT_TRUE(ListProfiles(home_ / "missing", "A").names.empty());
}

TEST_F(ListTest, ProfilePathsFromNamesAndTypedNames) {
  EXPECT_EQ(ProfilePathFor("SITE1", home_), (home_ / "SITE1.CCM").string());
  EXPECT_EQ(ProfilePathFor("SITE1.ini", home_), (home_ / "SITE1.CCM").string());
  EXPECT_EQ(ProfilePathFor("/srv/ccm.d/SITE1", home_), "/srv/ccm.d/SITE1.CCM");
  EXPECT_EQ(ProfilePathFor("/srv/ccm.d/a.b.c", home_), "/srv/ccm.d/a.b.CCM");
  EXPECT_EQ(CleanProfileName("My.Site 2"), "MySite2");
  EXPECT_EQ(CleanProfileName(std::string(300, 'a') + ".x"), std::string(255, 'a'));
  EXPECT_EQ(ProfilePathForTypedName(" My.Site 2", home_), (home_ / "MySite2.CCM").string());
}

TEST_F(ListTest, OpenProfileLoadsOnlyAnExistingFile) {
  ProfileSettings s;
  s.login = "kept";
  EXPECT_FALSE(OpenProfile(s, "SITE1", env_));
  EXPECT_EQ(s.profile_path, path_);
  EXPECT_EQ(s.login, "kept");
  PutOptions("Login=stored\r\n");
  EXPECT_TRUE(OpenProfile(s, "SITE1.txt", env_));
  EXPECT_EQ(s.login, "stored");
}

TEST_F(ListTest, LastProfileIsStoredOnlyForAnExistingFile) {
  EXPECT_EQ(ReadLastProfile(env_.registry), "<none>");
  EXPECT_FALSE(SaveLastProfile(env_.registry, path_));
  EXPECT_EQ(ReadLastProfile(env_.registry), "<none>");
  PutOptions("");
  EXPECT_TRUE(SaveLastProfile(env_.registry, path_));
  EXPECT_EQ(ReadLastProfile(env_.registry), path_);
  EXPECT_EQ(env_.registry.GetRegistryItem(OwnExecutableFileName(), "lastprofile"), path_);
}

TEST_F(ListTest, RemoveDeletesOnlyAProfileFile) {
  PutOptions("");
  std::filesystem::create_directory(home_ / "DIR.CCM");
  EXPECT_FALSE(RemoveProfile(home_, "DIR"));
  EXPECT_FALSE(RemoveProfile(home_, "NONE"));
  EXPECT_TRUE(RemoveProfile(home_, "SITE1"));
  EXPECT_FALSE(ProfileFileExists(path_));
  EXPECT_TRUE(std::filesystem::is_directory(home_ / "DIR.CCM"));
}

}  // namespace
}  // namespace remoteccm
