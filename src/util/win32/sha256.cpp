// SHA-256 from the system's cryptography API (CNG), which every Windows has.
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <new>

#include "util/sha256.h"

namespace remoteccm {
namespace {

constexpr ULONG kDigestSize = 32;

BCRYPT_ALG_HANDLE Algorithm() {
  static const BCRYPT_ALG_HANDLE algorithm = [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (::BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
      return BCRYPT_ALG_HANDLE{};
    }
    return opened;
  }();
  if (algorithm == nullptr) throw std::bad_alloc();
  return algorithm;
}

}  // namespace

struct Sha256::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash != nullptr) ::BCryptDestroyHash(hash);
  }
};

Sha256::Sha256() : state_(std::make_unique<State>()) { Reset(); }

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Reset() {
  if (state_->hash != nullptr) ::BCryptDestroyHash(state_->hash);
  state_->hash = nullptr;
  if (::BCryptCreateHash(Algorithm(), &state_->hash, nullptr, 0, nullptr, 0, 0) != 0) {
    throw std::bad_alloc();
  }
}

void Sha256::Update(std::string_view bytes) {
  while (!bytes.empty()) {
    const ULONG part = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 1U << 30));
    // The API takes a writable pointer but only reads the bytes.
    ::BCryptHashData(state_->hash,
                     reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),  // NOLINT
                     part, 0);
    bytes.remove_prefix(part);
  }
}

std::string Sha256::HexDigest() const {
  // A copy is finished, so that more bytes may still be added to this one.
  BCRYPT_HASH_HANDLE copy = nullptr;
  unsigned char digest[kDigestSize];
  const bool done = ::BCryptDuplicateHash(state_->hash, &copy, nullptr, 0, 0) == 0 &&
                    ::BCryptFinishHash(copy, digest, kDigestSize, 0) == 0;
  if (copy != nullptr) ::BCryptDestroyHash(copy);
  if (!done) throw std::bad_alloc();
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(std::size_t{kDigestSize} * 2);
  for (unsigned char byte : digest) {
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 0xf]);
  }
  return text;
}

}  // namespace remoteccm
