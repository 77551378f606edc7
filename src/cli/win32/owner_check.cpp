// Windows has no superuser that runs over a user's files in the way root does: an administrator
// who runs a profile runs it as himself, with his own rights on its folder.
#include "cli/commands.h"

namespace remoteccm {

bool RefusedAsRootForOwner(const CliContext& /*ctx*/, const std::filesystem::path& /*home*/,
                           const std::string& /*profile_path*/) {
  return false;
}

}  // namespace remoteccm
