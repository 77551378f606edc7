#include "util/sha256.h"

#include <nettle/sha2.h>

#include <cstdint>

namespace remoteccm {

// Nettle rather than OpenSSL: the same speed (both use the CPU's SHA instructions), and loading
// and starting OpenSSL's library alone costs a run more than 3 MiB of memory.
struct Sha256::State {
  sha256_ctx context{};
};

Sha256::Sha256() : state_(std::make_unique<State>()) { Reset(); }

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Reset() { sha256_init(&state_->context); }

void Sha256::Update(std::string_view bytes) {
  if (!bytes.empty()) {
    sha256_update(&state_->context, bytes.size(),
                  reinterpret_cast<const std::uint8_t*>(bytes.data()));
  }
}

std::string Sha256::HexDigest() const {
  // A copy is finished, so that more bytes may still be added to this one.
  sha256_ctx copy = state_->context;
  std::uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&copy, sizeof digest, digest);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(sizeof digest * 2);
  for (const std::uint8_t byte : digest) {
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 0xf]);
  }
  return text;
}

}  // namespace remoteccm
