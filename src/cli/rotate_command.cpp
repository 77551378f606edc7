// remoteccm-cli --rotate-backup PROFILE: the backup file (SQLBackup=Y) only grows. It is
// renamed aside under the destination's lock, so that no run is between two of its lines; the
// next run starts a new one with its header. Nothing is deleted: the backup is the copy of
// every record read.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "cli/cli_observer.h"
#include "cli/commands.h"
#include "retrieval/spool/destination.h"
#include "util/posix_file.h"
#include "util/utc_time.h"

namespace remoteccm {
namespace {

// "CDR.BAK" -> "CDR.BAK.20261209T031500Z" (UTC), beside it.
std::filesystem::path RotatedName(const std::filesystem::path& backup, std::time_t now) {
  std::tm tm{};
  char stamp[32] = "";
  if (UtcCalendarOf(now, tm)) std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &tm);
  return backup.string() + "." + stamp;
}

}  // namespace

int RotateBackupCommand(const CliContext& ctx, const std::string& profile) {
  const ProfileEnvironment env = CliProfileEnvironment(ctx);
  const std::string path = ProfilePathFor(profile, env.program_home);
  if (!ProfileFileExists(path)) {
    PrintError("there is no profile file " + path);
    return kExitNoProfile;
  }
  if (RefusedAsRootForOwner(ctx, env.program_home, path)) return kExitUsage;
  const ProfileSettings settings = LoadProfile(path, env);
  std::string error;
  const std::optional<DestinationFiles> files =
      ResolveDestination(settings.destination_file, error);
  if (!files) {
    PrintError(error);
    return kExitSettingsInvalid;
  }
  try {
    const std::optional<LockFile> lock = TakeDestinationLock(*files);
    if (!lock) {
      PrintError("another run is writing to " + files->destination.string() +
                 "; nothing was rotated (try again later)");
      return kExitLocked;
    }
    if (FileSize(files->backup) < 0) {
      std::printf("There is no backup file %s: nothing to rotate.\n",
                  files->backup.string().c_str());
      return kExitOk;
    }
    const std::filesystem::path rotated = RotatedName(files->backup, std::time(nullptr));
    // An earlier rotation in the same second is never replaced.
    RenameWithoutReplacing(files->backup, rotated);
    SyncFolderOf(files->backup);
    std::printf("Backup file %s rotated to %s\n", files->backup.string().c_str(),
                rotated.string().c_str());
  } catch (const FileError& e) {
    PrintError(e.what());
    return kExitPassFailed;
  }
  return std::fflush(stdout) != 0 ? kExitIoError : kExitOk;
}

}  // namespace remoteccm
