#include "util/sha256.h"

#include <openssl/evp.h>

#include <new>

namespace remoteccm {

struct Sha256::State {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  if (state_->context == nullptr) throw std::bad_alloc();
  Reset();
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Reset() {
  if (EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
}

void Sha256::Update(std::string_view bytes) {
  if (!bytes.empty()) EVP_DigestUpdate(state_->context, bytes.data(), bytes.size());
}

std::string Sha256::HexDigest() const {
  // A copy is finished, so that more bytes may still be added to this one.
  EVP_MD_CTX* copy = EVP_MD_CTX_new();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool done = copy != nullptr && EVP_MD_CTX_copy_ex(copy, state_->context) == 1 &&
                    EVP_DigestFinal_ex(copy, digest, &length) == 1;
  EVP_MD_CTX_free(copy);
  if (!done) throw std::bad_alloc();
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(static_cast<std::size_t>(length) * 2);
  for (unsigned int i = 0; i < length; ++i) {
    text.push_back(kHex[digest[i] >> 4]);
    text.push_back(kHex[digest[i] & 0xf]);
  }
  return text;
}

}  // namespace remoteccm
