// A status file made of any bytes: no crash, and a record that is read writes back to a text
// that reads as the same text again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "retrieval/report/status_file.h"

using namespace remoteccm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const StatusFileRead read =
      ParseStatusFile(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!read.record) return 0;
  const std::string text = StatusFileText(*read.record);
  const StatusFileRead again = ParseStatusFile(text);
  if (!again.record || StatusFileText(*again.record) != text) std::abort();
  return 0;
}
