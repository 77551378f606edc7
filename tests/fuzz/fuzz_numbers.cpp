// The lenient number routines on any bytes: no crash, and what they give is consistent.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "util/text_routines.h"

using namespace remoteccm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::int32_t whole = ParseWhole(text);
  if (ParseWhole(FormatWhole(whole)) != whole) std::abort();

  const double decimal = ParseDecimal(text);
  if (!std::isfinite(decimal)) std::abort();
  const std::string formatted = FormatWhole(decimal);
  if (formatted.empty() || formatted.find_first_not_of("-0123456789") != std::string::npos) {
    std::abort();
  }
  return 0;
}
