// The platform's key services as the identity code needs them: P-256 keys
// behind opaque handles, the public point, ECDSA-SHA256 signatures, the
// stored form of a private key, and the checks a certificate needs before it
// is trusted as the TLS credential. Implemented in platform/; faked in tests.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace lumenvale {

// KeyHandle is an opaque key owned by one KeyServices implementation; only
// the services that made it can use it. Immutable, so any thread may hold it.
class KeyHandle {
 public:
  virtual ~KeyHandle() = default;
};
using Key = std::shared_ptr<const KeyHandle>;

// KeyResult holds a value, or the platform's text for why there is none.
template <typename T>
class KeyResult {
 public:
  static KeyResult success(T value) { return KeyResult(std::move(value), {}); }
  static KeyResult failure(std::string error) { return KeyResult(std::nullopt, std::move(error)); }

  explicit operator bool() const { return value_.has_value(); }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  // error is empty on success.
  const std::string& error() const { return error_; }

 private:
  KeyResult(std::optional<T> value, std::string error) : value_(std::move(value)), error_(std::move(error)) {}

  std::optional<T> value_;
  std::string error_;
};

// KeyServices is used by one thread at a time (the start-up); an
// implementation may keep no state of its own.
class KeyServices {
 public:
  // The uncompressed P-256 point: 0x04, then X and Y of 32 bytes each.
  static constexpr std::size_t kPublicPointBytes = 65;

  virtual ~KeyServices() = default;

  // makeKey returns a new random P-256 private key.
  virtual KeyResult<Key> makeKey() = 0;

  // copyPublicKey returns the public half of `privateKey`, or nullptr when
  // there is none.
  virtual Key copyPublicKey(const Key& privateKey) = 0;

  // externalRepresentation returns the kPublicPointBytes uncompressed point
  // of a P-256 public key.
  virtual KeyResult<std::string> externalRepresentation(const Key& publicKey) = 0;

  // sign returns the ECDSA signature over the SHA-256 digest of `message`,
  // as the DER SEQUENCE of the INTEGERs r and s.
  virtual KeyResult<std::string> sign(const Key& privateKey, std::string_view message) = 0;

  // privateKeyPem returns `privateKey` as PKCS#8 PEM, the form the keychain
  // stores and the TLS server loads.
  virtual KeyResult<std::string> privateKeyPem(const Key& privateKey) = 0;

  // loadPrivateKey reads a PEM private key back; it fails unless the PEM
  // holds a P-256 private key.
  virtual KeyResult<Key> loadPrivateKey(std::string_view pem) = 0;

  // certificateParses reports whether `der` is one whole X.509 certificate.
  virtual bool certificateParses(std::string_view der) = 0;

  // certificateMatchesKey reports whether the certificate `der` carries the
  // public half of `privateKey`: the two form a usable TLS credential.
  virtual bool certificateMatchesKey(std::string_view der, const Key& privateKey) = 0;
};

}  // namespace lumenvale
