// The laptop's side of pairing, written out from the published recipe, so
// that tests check the device against it rather than against its own code.
#pragma once

#include <algorithm>
#include <string>

#include "util/bytes.h"
#include "util/crypto.h"

namespace lumenvale::testing {

inline const std::string kProofLabel = "lumenvale-pair|";

inline std::string pairingKey(const std::string& symbols, const std::string& fingerprint) {
  return Crypto::pbkdf2Sha256(symbols, kProofLabel + fingerprint, 100000, 32);
}

inline std::string laptopProof(const std::string& symbols, const std::string& fingerprint,
                               const std::string& laptopId) {
  return Bytes::hex(Crypto::hmacSha256(pairingKey(symbols, fingerprint), kProofLabel + fingerprint + "|" + laptopId));
}

inline std::string phoneProof(const std::string& symbols, const std::string& fingerprint, const std::string& laptopId,
                              const std::string& token) {
  return Bytes::hex(Crypto::hmacSha256(pairingKey(symbols, fingerprint),
                                       "lumenvale-paired|" + fingerprint + "|" + laptopId + "|" + token));
}

// symbolsOf returns the code's symbols as shown, without the dash.
inline std::string symbolsOf(const std::string& display) {
  std::string symbols = display;
  symbols.erase(std::remove(symbols.begin(), symbols.end(), '-'), symbols.end());
  return symbols;
}

}  // namespace lumenvale::testing
