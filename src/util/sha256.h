// SHA-256 of a stream of bytes, as lower-case hex: the fingerprint that proves a file beside the
// destination holds the bytes it was written with (a checksum anyone can forge would not).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace remoteccm {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(Sha256&&) noexcept;
  Sha256& operator=(Sha256&&) noexcept;

  void Update(std::string_view bytes);
  // The digest of everything given since the start (or the last Reset), in 64 hex digits.
  std::string HexDigest() const;
  void Reset();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace remoteccm
