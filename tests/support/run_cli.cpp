#include "support/run_cli.h"

#include <cstdlib>

namespace remoteccm::testing {

int KillRounds(int fallback) {
  const char* text = std::getenv("REMOTECCM_KILL_ROUNDS");
  if (text == nullptr) return fallback;
  char* end = nullptr;
  const long rounds = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && rounds > 0 && rounds < 100000 ? static_cast<int>(rounds)
                                                                      : fallback;
}

std::string HomeVariables(const std::filesystem::path& home) {
  return "REMOTECCM_HOME='" + home.string() + "' REMOTECCM_REGISTRY='" +
         (home / "install.ini").string() + "'";
}

}  // namespace remoteccm::testing
