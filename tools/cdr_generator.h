// Realistic CallManager 4.x call detail records: answered, unanswered, busy and failed calls,
// transfers with their three rows, on-net and PSTN traffic with business-hour peaks. The same
// seed gives the same rows. Rows come out in dateTimeDisconnect order, as CallManager writes
// them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace remoteccm {

// One value of a generated row; text values may be null.
struct CdrValue {
  std::int64_t number = 0;
  std::string text;
  bool null = false;
};

// Values in the order of CdrColumns().
using CdrRow = std::vector<CdrValue>;

struct CdrGeneratorOptions {
  std::int64_t first_second = 0;  // start of the period, seconds since 1970 UTC
  std::int64_t days = 1;          // length of the period
  std::int64_t rows = 0;          // rows wanted (exactly), when calls is 0
  std::int64_t calls = 0;         // calls wanted, when not 0 (a transfer gives 3 rows)
  std::uint64_t seed = 1;
};

struct CdrGeneratorTotals {
  std::int64_t calls = 0;
  std::int64_t rows = 0;
  std::int64_t transfers = 0;
  std::int64_t unconnected = 0;  // busy, unanswered and failed calls
};

// Generates the rows and hands each to sink, in dateTimeDisconnect order (ties in the order
// the calls began).
CdrGeneratorTotals GenerateCdrs(const CdrGeneratorOptions& options,
                                const std::function<void(const CdrRow&)>& sink);

// CallManager's form of an IPv4 address: the four bytes in reversed order read as a signed
// 32-bit number (10.1.10.21 is 352977162).
std::int32_t CallManagerIp(int a, int b, int c, int d);

}  // namespace remoteccm
