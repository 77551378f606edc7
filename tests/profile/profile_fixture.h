// A temporary program home with a fixed clock and computer zone, for the profile tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "profile/profile_file.h"
#include "support/fake_clock.h"
#include "support/scratch_dir.h"
#include "util/calendar.h"

namespace remoteccm {

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.program_home = home_;
    env_.registry = TRegAccess(home_ / "install.ini");
    env_.computer_rule.bias = 300;  // five hours behind UTC, no daylight period
    clock_.Set(static_cast<double>(now_));
    env_.clock = &clock_;
    path_ = (home_ / "SITE1.CCM").string();
  }

  // "[Options]" and the given key lines, CR LF ended.
  void PutOptions(const std::string& lines) { Put(path_, "[Options]\r\n" + lines); }
  static void Put(const std::filesystem::path& file, const std::string& content) {
    testing::WriteFile(file, content);
  }
  static std::string Get(const std::filesystem::path& file) { return testing::ReadFile(file); }
  ProfileSettings Load() const { return LoadProfile(path_, env_); }

  testing::ScratchDir home_;
  ProfileEnvironment env_;
  std::string path_;
  // 2026-12-08 15:30 UTC: 10:30 on the computer, whose date is 2026-12-08.
  double today_ = EncodeDateAny(2026, 12, 8);
  testing::FakeClock clock_;
  std::time_t now_ = static_cast<std::time_t>((today_ - kUnixEpochDays) * 86400 + 15.5 * 3600);
};

}  // namespace remoteccm
