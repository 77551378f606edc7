// A run as root of a profile another user owns, or lying in a folder of theirs (sudo
// remoteccm-cli ... on a server whose scheduled runs work as the user remoteccm), would replace the
// profile and its state files with copies only root may write, and every later scheduled run would
// fail. It is refused before anything is touched, with the command that runs it as that user (sudo,
// or runuser where there is no sudo).
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "util/posix_file.h"
#include "util/text_routines.h"

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

// Whether an executable of that name is on the PATH.
bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string_view rest = path != nullptr ? path : "/usr/bin:/bin";
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::filesystem::path folder(rest.substr(0, colon));
    if (!folder.empty() && ::access((folder / program).c_str(), X_OK) == 0) return true;
    rest.remove_prefix(colon == std::string_view::npos ? rest.size() : colon + 1);
  }
  return false;
}

bool SameFolder(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error);
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
  const std::filesystem::path folder = FolderOf(std::filesystem::absolute(profile_path));
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

  // The user cannot be counted on to reach root's own program home: a profile that lies
  // elsewhere runs with its own folder as the home (where its field list is), unless the
  // command line named one. Its environment is not the user's either: the home is named on the
  // command line, and the profile by its file, never as root's /DEFAULT.
  const std::filesystem::path profile = std::filesystem::absolute(profile_path).lexically_normal();
  const bool home_named = std::any_of(ctx.arguments.begin(), ctx.arguments.end(),
                                      [](const std::string& arg) { return arg == "--home"; });
  const std::filesystem::path folder = FolderOf(profile);
  const std::filesystem::path run_home = home_named || SameFolder(folder, home)
                                             ? std::filesystem::absolute(home).lexically_normal()
                                             : folder;
  const std::string named_as =
      SameFolder(folder, run_home) ? ProfileNameOf(profile_path) : profile.string();
  // A minimal Debian has no sudo; runuser comes with util-linux, which every system has.
  std::string command =
      OnPath("sudo") ? "sudo -u " + ShellWord(user) : "runuser -u " + ShellWord(user) + " --";
  command += " remoteccm-cli --home " + ShellWord(run_home.string());
  for (std::size_t i = 0; i < ctx.arguments.size(); ++i) {
    const std::string& arg = ctx.arguments[i];
    if (arg == "--home") {
      ++i;
      continue;
    }
    const bool names_profile = SameText(arg, "/DEFAULT") ||
                               (!arg.starts_with("-") && ProfilePathFor(arg, home) == profile_path);
    command += " " + ShellWord(names_profile ? named_as : arg);
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
