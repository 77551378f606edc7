// What a profile save promises on POSIX: a new file only its owner may read (it holds
// passwords in clear), and a save killed at any moment leaves the old or the new file whole.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "profile/profile_file.h"
#include "profile_fixture.h"
#include "util/posix_file.h"

namespace remoteccm {
namespace {

using SaveTest = ProfileTest;

TEST_F(SaveTest, ANewFileIsPrivate) {
  ProfileSettings settings = Load();
  SaveProfile(settings, env_);
  struct stat info {};
  ASSERT_EQ(::stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// A save killed at any moment leaves the file wholly old or wholly new, and the temporary file
// a killed save leaves behind is cleared away.
TEST_F(SaveTest, ASaveKilledAtRandomMomentsLeavesTheOldOrTheNewFile) {
  ProfileSettings a = Load();
  a.password = "first";
  ProfileSettings b = a;
  b.password = "second";
  b.connect_sql = {"SELECT *", "FROM CallDetailRecord"};
  SaveProfile(b, env_);
  const std::string new_file = Get(path_);
  SaveProfile(a, env_);
  const std::string old_file = Get(path_);
  ASSERT_NE(old_file, new_file);

  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> delay_us(0, 150000);
  std::set<std::string> seen;
  for (int round = 0; round < 30; ++round) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0; i < 100000; ++i) SaveProfile(i % 2 == 0 ? b : a, env_);
      ::_exit(0);
    }
    ::usleep(static_cast<useconds_t>(delay_us(random)));
    ::kill(pid, SIGKILL);
    ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
    const std::string now = Get(path_);
    EXPECT_TRUE(now == old_file || now == new_file) << "round " << round << ":\n" << now;
    seen.insert(now);
  }
  int left = 0;
  for (const auto& entry : std::filesystem::directory_iterator(home_)) {
    left += entry.path().filename().string().starts_with(".SITE1.CCM.") ? 1 : 0;
  }
  std::printf("%zu of 2 contents seen after the kills, %d temporaries left\n", seen.size(), left);
  RemoveStaleTemporaries(home_);
  for (const auto& entry : std::filesystem::directory_iterator(home_)) {
    EXPECT_EQ(entry.path().filename().string().find(".SITE1.CCM."), std::string::npos)
        << entry.path();
  }
}

}  // namespace
}  // namespace remoteccm
