// The key services on OpenSSL 3: P-256 keys as EVP_PKEY handles, ECDSA with
// SHA-256, PKCS#8 PEM, and X.509 checks of the built certificate. Holds no
// state; every call drains OpenSSL's per-thread error queue into its error
// text, so any thread may call it.
#pragma once

#include "pairing/key_services.h"

namespace lumenvale {

class OpenSslKeys : public KeyServices {
 public:
  KeyResult<Key> makeKey() override;
  Key copyPublicKey(const Key& privateKey) override;
  KeyResult<std::string> externalRepresentation(const Key& publicKey) override;
  KeyResult<std::string> sign(const Key& privateKey, std::string_view message) override;
  KeyResult<std::string> privateKeyPem(const Key& privateKey) override;
  KeyResult<Key> loadPrivateKey(std::string_view pem) override;
  bool certificateParses(std::string_view der) override;
  bool certificateMatchesKey(std::string_view der, const Key& privateKey) override;
};

}  // namespace lumenvale
