// A connection string of any bytes: no crash; what parses writes back to a string that parses
// to the same pairs; the masked form never holds a password value longer than the mask.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/db/connection_string.h"
#include "platform/db/db_error.h"

using namespace remoteccm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string masked = MaskConnectionPasswords(text);
  ConnectionAttributes pairs;
  try {
    pairs = ParseConnectionString(text);
  } catch (const DbError&) {
    return 0;
  }
  try {
    if (ParseConnectionString(FormatOdbcConnectionString(pairs)) != pairs) std::abort();
  } catch (const DbError&) {
    std::abort();
  }
  // A password of a plain key, unique in the string, is gone from the masked text.
  for (const ConnectionAttribute& pair : pairs) {
    if ((pair.key == "PWD" || pair.key == "Password") && pair.value.size() >= 8 &&
        text.find(pair.value) == text.rfind(pair.value) &&
        masked.find(pair.value) != std::string::npos) {
      std::abort();
    }
  }
  return 0;
}
