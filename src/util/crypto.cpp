#include "util/crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <climits>
#include <stdexcept>

namespace lumenvale::Crypto {
namespace {

const unsigned char* data(std::string_view bytes) {
  return reinterpret_cast<const unsigned char*>(bytes.data());
}

void check(int ok, const char* what) {
  if (ok != 1) throw std::runtime_error(std::string("OpenSSL failed: ") + what);
}

}  // namespace

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
  ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->context = EVP_MD_CTX_new();
  if (state_->context == nullptr) throw std::runtime_error("OpenSSL failed: EVP_MD_CTX_new");
  check(EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr), "EVP_DigestInit_ex");
}

Sha256::~Sha256() = default;

void Sha256::update(std::string_view bytes) {
  check(EVP_DigestUpdate(state_->context, bytes.data(), bytes.size()), "EVP_DigestUpdate");
}

std::string Sha256::finish() {
  std::string digest(kSha256Bytes, '\0');
  unsigned int length = 0;
  check(EVP_DigestFinal_ex(state_->context, reinterpret_cast<unsigned char*>(digest.data()), &length),
        "EVP_DigestFinal_ex");
  return digest;
}

std::string sha256(std::string_view bytes) {
  Sha256 digest;
  digest.update(bytes);
  return digest.finish();
}

std::string hmacSha256(std::string_view key, std::string_view message) {
  if (key.size() > static_cast<std::size_t>(INT_MAX)) throw std::length_error("HMAC key too long");
  std::string mac(kSha256Bytes, '\0');
  unsigned int length = 0;
  if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), data(message), message.size(),
           reinterpret_cast<unsigned char*>(mac.data()), &length) == nullptr ||
      length != kSha256Bytes) {
    throw std::runtime_error("OpenSSL failed: HMAC");
  }
  return mac;
}

std::string pbkdf2Sha256(std::string_view password, std::string_view salt, int iterations,
                         std::size_t length) {
  if (password.size() > INT_MAX || salt.size() > INT_MAX || length > INT_MAX) {
    throw std::length_error("PBKDF2 input too long");
  }
  std::string key(length, '\0');
  check(PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), data(salt),
                          static_cast<int>(salt.size()), iterations, EVP_sha256(),
                          static_cast<int>(length), reinterpret_cast<unsigned char*>(key.data())),
        "PKCS5_PBKDF2_HMAC");
  return key;
}

std::string base64(std::string_view bytes) {
  if (bytes.size() > INT_MAX / 2) throw std::length_error("Base64 input too long");
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), data(bytes),
                                      static_cast<int>(bytes.size()));
  text.resize(static_cast<std::size_t>(written));
  return text;
}

std::string base64Url(std::string_view bytes) {
  std::string text = base64(bytes);
  while (!text.empty() && text.back() == '=') text.pop_back();
  for (char& c : text) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  return text;
}

}  // namespace lumenvale::Crypto
