// Destinations that only Windows makes unwritable: the names of its devices, which open the
// device in any folder and with any extension (lines written there are gone), and characters
// its file names may not hold.
#include "retrieval/engine_faults_fixture.h"

namespace remoteccm::testing {
namespace {

TEST_P(EngineFaultsTest, AWindowsDeviceOrForbiddenNameIsRefusedBeforeDeleting) {
  ExpectRefusedBeforeDeleting({
      {"the null device", out_ / "NUL", [] { return true; }},
      {"the null device, with an extension", out_ / "nul.txt", [] { return true; }},
      {"the console", out_ / "CON", [] { return true; }},
      {"the null device, to be overwritten", out_ / "NUL", [] { return true; }, "Y"},
      {"a character Windows forbids", out_ / "CDR?.TXT", [] { return true; }},
      {"a folder name with a character Windows forbids", out_ / "a|b" / "CDR.TXT",
       [] { return true; }},
  });
}

}  // namespace
}  // namespace remoteccm::testing
