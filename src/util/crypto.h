// The cryptographic primitives behind fingerprints, tokens, proofs and
// checksums, on OpenSSL. Stateless; safe to call from any thread. Byte
// strings are std::string. Each throws std::runtime_error if OpenSSL fails,
// which with these fixed algorithms only happens when the library is broken.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace lumenvale::Crypto {

inline constexpr std::size_t kSha256Bytes = 32;

// sha256 returns the 32-byte digest of `bytes`.
std::string sha256(std::string_view bytes);

// Sha256 digests a stream that arrives in pieces, never holding it whole.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(std::string_view bytes);
  // finish returns the 32-byte digest; the object is not used again.
  std::string finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// hmacSha256 returns the 32-byte HMAC-SHA256 of `message` under `key`.
std::string hmacSha256(std::string_view key, std::string_view message);

// pbkdf2Sha256 derives `length` bytes with PBKDF2, HMAC-SHA256 as its
// pseudo-random function.
std::string pbkdf2Sha256(std::string_view password, std::string_view salt, int iterations, std::size_t length);

// base64 returns standard Base64 with padding.
std::string base64(std::string_view bytes);

// base64Url returns URL-safe Base64 without padding ('-' and '_' for '+'
// and '/', no '=').
std::string base64Url(std::string_view bytes);

}  // namespace lumenvale::Crypto
