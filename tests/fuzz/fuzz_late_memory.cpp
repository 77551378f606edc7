// The look-back memory file (NAME.late) made of any bytes: no crash, and a memory that is read
// writes back to a text that reads as the same memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "retrieval/run/late_arrivals.h"

using namespace remoteccm;

namespace {

bool Same(const LateArrivalMemory& a, const LateArrivalMemory& b) {
  return a.profile_path == b.profile_path && a.table == b.table && a.floor == b.floor &&
         a.complete_from == b.complete_from && a.stored_start == b.stored_start &&
         a.seen == b.seen && a.key_columns == b.key_columns;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const LateArrivalReading reading = ParseLateArrivals(text, "/home/SITE1.CCM", "CallDetailRecord");
  if (reading.state != LateArrivalReading::State::kRead) return 0;
  const LateArrivalReading again =
      ParseLateArrivals(LateArrivalText(reading.memory), "/home/SITE1.CCM", "CallDetailRecord");
  if (again.state != LateArrivalReading::State::kRead || !Same(reading.memory, again.memory)) {
    std::abort();
  }
  return 0;
}
