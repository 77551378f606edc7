// A run as root of a profile another user owns (sudo remoteccm-cli ... on a server whose
// scheduled runs work as the user remoteccm) would replace the profile and its state files with
// copies only root may write, and every later scheduled run would fail. It is refused before
// anything is touched, with the command that runs it as that user.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "cli/commands.h"

namespace remoteccm {
namespace {

// A word as the shell reads it back.
std::string ShellWord(const std::string& word) {
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789-_./:=@%+,") == std::string::npos) {
    return word;
  }
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// What a user other than root owns of the profile file, its folder and the program home (the
// run writes beside the profile and in the home), the first of them: a profile that root made
// in a user's folder is that user's too.
struct OtherOwner {
  std::filesystem::path owned;
  uid_t uid = 0;
};

std::optional<OtherOwner> FindOtherOwner(const std::filesystem::path& home,
                                         const std::string& profile_path) {
  const std::filesystem::path folder = std::filesystem::absolute(profile_path).parent_path();
  for (const std::filesystem::path& path : {std::filesystem::path(profile_path), folder, home}) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_uid != 0) return OtherOwner{path, st.st_uid};
  }
  return std::nullopt;
}

}  // namespace

bool RefusedAsRootForOwner(const CliContext& ctx, const std::filesystem::path& home,
                           const std::string& profile_path) {
  if (::geteuid() != 0) return false;
  const std::optional<OtherOwner> other = FindOtherOwner(home, profile_path);
  if (!other) return false;
  const passwd* owner = ::getpwuid(other->uid);
  const std::string user =
      owner != nullptr ? std::string(owner->pw_name) : "#" + std::to_string(other->uid);

  // sudo leaves the environment behind: the home is named on the command line.
  std::string command = "sudo -u " + ShellWord(user) + " remoteccm-cli --home " +
                        ShellWord(std::filesystem::absolute(home).string());
  for (std::size_t i = 0; i < ctx.arguments.size(); ++i) {
    if (ctx.arguments[i] == "--home") {
      ++i;
      continue;
    }
    command += " " + ShellWord(ctx.arguments[i]);
  }
  std::fprintf(stderr,
               "remoteccm-cli: %s belongs to the user %s: run as root, this would leave files "
               "there that the user's scheduled runs cannot replace. Run it as that user:\n"
               "  %s\n",
               other->owned.c_str(), user.c_str(), command.c_str());
  if (other->owned != profile_path) {
    std::fprintf(stderr, "The profile file itself is not that user's: first\n  chown %s %s\n",
                 ShellWord(user).c_str(), ShellWord(profile_path).c_str());
  }
  return true;
}

}  // namespace remoteccm
