#include "support/run_cli.h"

namespace remoteccm::testing {

std::string HomeVariables(const std::filesystem::path& home) {
  return "REMOTECCM_HOME='" + home.string() + "' REMOTECCM_REGISTRY='" +
         (home / "install.ini").string() + "'";
}

}  // namespace remoteccm::testing
