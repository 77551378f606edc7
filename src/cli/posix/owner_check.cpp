// A run as root of a profile another user owns (sudo remoteccm-cli ... on a server whose
// scheduled runs work as the user remoteccm) would replace the profile and its state files with
// copies only root may write, and every later scheduled run would fail. It is refused before
// anything is touched, with the command that runs it as that user.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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

}  // namespace

bool RefusedAsRootForOwner(const CliContext& ctx, const std::filesystem::path& home,
                           const std::string& profile_path) {
  if (::geteuid() != 0) return false;
  struct stat st {};
  if (::stat(profile_path.c_str(), &st) != 0 || st.st_uid == 0) return false;
  const passwd* owner = ::getpwuid(st.st_uid);
  const std::string user =
      owner != nullptr ? std::string(owner->pw_name) : "#" + std::to_string(st.st_uid);

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
               profile_path.c_str(), user.c_str(), command.c_str());
  return true;
}

}  // namespace remoteccm
