// The pairing recipe, the one both sides follow: the key an 8-symbol code
// derives, the proof a laptop sends with it and the proof the phone answers
// with. The device checks what the laptop computes, byte for byte; changing
// any label or step here makes every laptop's proof fail.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumenvale::PairProof {

// The derivation is slow on purpose, so that a proof seen by a stranger
// cannot be tried against all 2^40 codes; each side runs it once per code.
inline constexpr int kIterations = 100000;
inline constexpr std::size_t kKeyBytes = 32;

// key derives the key of code `symbols` (without the "-") shown by the
// phone whose certificate has SHA-256 `fingerprint` (lower-case hex):
//   PBKDF2-HMAC-SHA256(symbols, "lumenvale-pair|" + fingerprint,
//                      kIterations, kKeyBytes)
std::string key(std::string_view symbols, std::string_view fingerprint);

// laptop returns the proof a laptop sends, in lower-case hex:
//   HMAC-SHA256(key, "lumenvale-pair|" + fingerprint + "|" + laptopId)
std::string laptop(std::string_view key, std::string_view fingerprint, std::string_view laptopId);

// phone returns the proof the phone answers a pairing with, which the laptop
// recomputes to know it paired with the phone that showed the code:
//   HMAC-SHA256(key, "lumenvale-paired|" + fingerprint + "|" + laptopId + "|" + token)
std::string phone(std::string_view key, std::string_view fingerprint, std::string_view laptopId,
                  std::string_view token);

}  // namespace lumenvale::PairProof
