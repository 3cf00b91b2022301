#include "util/pair_proof.h"

#include "util/bytes.h"
#include "util/crypto.h"

namespace lumenvale::PairProof {
namespace {

// The labels put before what each side proves, so that a proof for pairing
// can never stand for anything else.
constexpr std::string_view kLaptopLabel = "lumenvale-pair|";
constexpr std::string_view kPhoneLabel = "lumenvale-paired|";

std::string mac(std::string_view key, std::string_view text) { return Bytes::hex(Crypto::hmacSha256(key, text)); }

}  // namespace

std::string key(std::string_view symbols, std::string_view fingerprint) {
  std::string salt(kLaptopLabel);
  salt += fingerprint;
  return Crypto::pbkdf2Sha256(symbols, salt, kIterations, kKeyBytes);
}

std::string laptop(std::string_view key, std::string_view fingerprint, std::string_view laptopId) {
  std::string message(kLaptopLabel);
  message.append(fingerprint).append("|").append(laptopId);
  return mac(key, message);
}

std::string phone(std::string_view key, std::string_view fingerprint, std::string_view laptopId,
                  std::string_view token) {
  std::string message(kPhoneLabel);
  message.append(fingerprint).append("|").append(laptopId).append("|").append(token);
  return mac(key, message);
}

}  // namespace lumenvale::PairProof
