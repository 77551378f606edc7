#include <cstdio>
#include <fstream>
#include <string>

#include "cli/commands.h"
#include "platform/db/connection_string.h"
#include "platform/home/program_home.h"
#include "profile/profile_file.h"
#include "profile/profile_text.h"

namespace remoteccm {

int PrintCommand(const CliContext& ctx, const std::string& profile) {
  const ProfileEnvironment env = CliProfileEnvironment(ctx);
  const std::string path = ProfilePathFor(profile, env.program_home);
  if (!ProfileFileExists(path)) {
    std::fprintf(stderr, "remoteccm-cli: no profile file %s\n", path.c_str());
    return kExitNoProfile;
  }
  // An unreadable file would load as all defaults; say so instead of printing them.
  if (!std::ifstream(path, std::ios::binary).is_open()) {
    std::fprintf(stderr, "remoteccm-cli: cannot read the profile file %s\n", path.c_str());
    return kExitNoProfile;
  }
  ProfileSettings settings = LoadProfile(path, env);
  // A password inside the connection string is shown as "***" too.
  settings.sql_connection_string = MaskConnectionPasswords(settings.sql_connection_string);
  for (const std::string& line : ProfileSettingsLines(settings, env.computer_rule)) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("remoteccm-cli: could not write to standard output\n", stderr);
    return kExitIoError;
  }
  return kExitOk;
}

}  // namespace remoteccm
