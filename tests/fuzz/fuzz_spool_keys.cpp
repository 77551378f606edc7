// The keys file beside a spool, handed over in blocks of any size: no crash, the same keys
// however the blocks fall, and no key the program would not write itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "retrieval/spool/pass_spool.h"

using namespace remoteccm;

namespace {

std::optional<std::vector<SpoolKey>> Parse(std::string_view text, std::size_t block) {
  SpoolKeysParser parser;
  for (std::size_t at = 0; at < text.size(); at += block) {
    if (!parser.Feed(text.substr(at, block))) break;
  }
  return parser.Finish();
}

bool Same(const std::optional<std::vector<SpoolKey>>& a,
          const std::optional<std::vector<SpoolKey>>& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return true;
  if (a->size() != b->size()) return false;
  for (std::size_t i = 0; i < a->size(); ++i) {
    const SpoolKey& x = (*a)[i];
    const SpoolKey& y = (*b)[i];
    if (x.bytes != y.bytes || x.date != y.date || x.key != y.key) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t block = 1 + data[0] % 64;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::optional<std::vector<SpoolKey>> whole = Parse(text, text.size() + 1);
  if (!Same(whole, Parse(text, block))) std::abort();
  for (const SpoolKey& key : whole.value_or(std::vector<SpoolKey>())) {
    if (key.key.empty() || key.key.size() > kMaxSpoolKeyLength) std::abort();
    for (const char c : key.key) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) std::abort();
    }
  }
  return 0;
}
