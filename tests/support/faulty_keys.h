// Key services for tests: OpenSSL underneath, with switches that make one
// operation fail the way a platform's key services can, and a count of the
// keys made. Single-threaded.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "pairing/key_services.h"
#include "platform/openssl_keys.h"

namespace lumenvale::testing {

class FaultyKeys : public KeyServices {
 public:
  // When set, the operation fails with this text.
  std::optional<std::string> makeKeyError;
  std::optional<std::string> exportError;
  std::optional<std::string> signError;
  // When true, keys have no public half / certificates do not parse / no
  // certificate matches any key.
  bool noPublicHalf = false;
  bool rejectCertificates = false;
  bool unpairCertificates = false;

  int keysMade = 0;

  void heal() {
    makeKeyError.reset();
    exportError.reset();
    signError.reset();
    noPublicHalf = rejectCertificates = unpairCertificates = false;
  }

  KeyResult<Key> makeKey() override {
    if (makeKeyError) return KeyResult<Key>::failure(*makeKeyError);
    ++keysMade;
    return real_.makeKey();
  }
  Key copyPublicKey(const Key& privateKey) override {
    return noPublicHalf ? nullptr : real_.copyPublicKey(privateKey);
  }
  KeyResult<std::string> externalRepresentation(const Key& publicKey) override {
    if (exportError) return KeyResult<std::string>::failure(*exportError);
    return real_.externalRepresentation(publicKey);
  }
  KeyResult<std::string> sign(const Key& privateKey, std::string_view message) override {
    if (signError) return KeyResult<std::string>::failure(*signError);
    return real_.sign(privateKey, message);
  }
  KeyResult<std::string> privateKeyPem(const Key& privateKey) override {
    return real_.privateKeyPem(privateKey);
  }
  KeyResult<Key> loadPrivateKey(std::string_view pem) override { return real_.loadPrivateKey(pem); }
  bool certificateParses(std::string_view der) override {
    return !rejectCertificates && real_.certificateParses(der);
  }
  bool certificateMatchesKey(std::string_view der, const Key& privateKey) override {
    return !unpairCertificates && real_.certificateMatchesKey(der, privateKey);
  }

 private:
  OpenSslKeys real_;
};

}  // namespace lumenvale::testing
