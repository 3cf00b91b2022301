#include "platform/openssl_keys.h"

#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/objects.h>
#include <openssl/params.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <climits>
#include <memory>

namespace lumenvale {
namespace {

template <auto Free>
struct Deleter {
  template <typename T>
  void operator()(T* pointer) const {
    Free(pointer);
  }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using PkeyContextPtr = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
using DigestContextPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;

class OpenSslKey : public KeyHandle {
 public:
  OpenSslKey(PkeyPtr pkey, bool isPrivate) : pkey_(std::move(pkey)), isPrivate_(isPrivate) {}

  EVP_PKEY* pkey() const { return pkey_.get(); }
  bool isPrivate() const { return isPrivate_; }

 private:
  PkeyPtr pkey_;
  bool isPrivate_;
};

// failed returns `what` with OpenSSL's first queued reason, and empties the
// queue so the next call starts clean.
std::string failed(std::string_view what) {
  std::string text(what);
  if (const unsigned long code = ERR_get_error(); code != 0) {
    char reason[256];
    ERR_error_string_n(code, reason, sizeof reason);
    text += " (";
    text += reason;
    text += ')';
  }
  ERR_clear_error();
  return text;
}

const OpenSslKey* openSslKey(const Key& key) { return dynamic_cast<const OpenSslKey*>(key.get()); }

const unsigned char* bytes(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

bool isP256(EVP_PKEY* pkey) {
  if (EVP_PKEY_is_a(pkey, "EC") != 1) return false;
  char group[64];
  size_t length = 0;
  if (EVP_PKEY_get_group_name(pkey, group, sizeof group, &length) != 1) return false;
  return OBJ_txt2nid(group) == NID_X9_62_prime256v1;
}

// parseCertificate reads exactly one DER certificate, with nothing after it.
X509Ptr parseCertificate(std::string_view der) {
  if (der.size() > static_cast<std::size_t>(LONG_MAX)) return nullptr;
  const unsigned char* cursor = bytes(der);
  X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
  if (certificate == nullptr || cursor != bytes(der) + der.size()) {
    ERR_clear_error();
    return nullptr;
  }
  return certificate;
}

// A stored key is never encrypted; answering "no password" keeps OpenSSL
// from prompting on the terminal if one ever is.
int noPassword(char*, int, int, void*) { return 0; }

}  // namespace

KeyResult<Key> OpenSslKeys::makeKey() {
  PkeyContextPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (context == nullptr) return KeyResult<Key>::failure(failed("EVP_PKEY_CTX_new_from_name failed"));
  if (EVP_PKEY_keygen_init(context.get()) <= 0) {
    return KeyResult<Key>::failure(failed("EVP_PKEY_keygen_init failed"));
  }
  if (EVP_PKEY_CTX_set_group_name(context.get(), SN_X9_62_prime256v1) <= 0) {
    return KeyResult<Key>::failure(failed("EVP_PKEY_CTX_set_group_name failed"));
  }
  EVP_PKEY* made = nullptr;
  if (EVP_PKEY_generate(context.get(), &made) <= 0) {
    return KeyResult<Key>::failure(failed("EVP_PKEY_generate failed"));
  }
  return KeyResult<Key>::success(std::make_shared<OpenSslKey>(PkeyPtr(made), true));
}

Key OpenSslKeys::copyPublicKey(const Key& privateKey) {
  const OpenSslKey* key = openSslKey(privateKey);
  if (key == nullptr || !isP256(key->pkey())) return nullptr;
  unsigned char point[kPublicPointBytes];
  size_t length = 0;
  if (EVP_PKEY_get_octet_string_param(key->pkey(), OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point,
                                      sizeof point, &length) != 1) {
    ERR_clear_error();
    return nullptr;
  }
  // A key of its own that holds only the point, so the public half can never
  // be used to sign.
  char group[] = SN_X9_62_prime256v1;
  char form[] = "uncompressed";
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, length),
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT, form, 0),
      OSSL_PARAM_construct_end(),
  };
  PkeyContextPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* made = nullptr;
  if (context == nullptr || EVP_PKEY_fromdata_init(context.get()) <= 0 ||
      EVP_PKEY_fromdata(context.get(), &made, EVP_PKEY_PUBLIC_KEY, const_cast<OSSL_PARAM*>(params)) <= 0) {
    ERR_clear_error();
    return nullptr;
  }
  return std::make_shared<OpenSslKey>(PkeyPtr(made), false);
}

KeyResult<std::string> OpenSslKeys::externalRepresentation(const Key& publicKey) {
  const OpenSslKey* key = openSslKey(publicKey);
  if (key == nullptr) return KeyResult<std::string>::failure("the key was not made by OpenSSL");
  if (!isP256(key->pkey())) return KeyResult<std::string>::failure("the key is not a P-256 key");
  std::string point(kPublicPointBytes, '\0');
  size_t length = 0;
  if (EVP_PKEY_get_octet_string_param(key->pkey(), OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY,
                                      reinterpret_cast<unsigned char*>(point.data()), point.size(),
                                      &length) != 1) {
    return KeyResult<std::string>::failure(failed("EVP_PKEY_get_octet_string_param failed"));
  }
  if (length != kPublicPointBytes || point[0] != '\x04') {
    return KeyResult<std::string>::failure("the public point is not in uncompressed form");
  }
  return KeyResult<std::string>::success(std::move(point));
}

KeyResult<std::string> OpenSslKeys::sign(const Key& privateKey, std::string_view message) {
  const OpenSslKey* key = openSslKey(privateKey);
  if (key == nullptr || !key->isPrivate()) {
    return KeyResult<std::string>::failure("the key is not a private key made by OpenSSL");
  }
  DigestContextPtr context(EVP_MD_CTX_new());
  if (context == nullptr) return KeyResult<std::string>::failure(failed("EVP_MD_CTX_new failed"));
  if (EVP_DigestSignInit_ex(context.get(), nullptr, "SHA256", nullptr, nullptr, key->pkey(), nullptr) != 1) {
    return KeyResult<std::string>::failure(failed("EVP_DigestSignInit_ex failed"));
  }
  size_t length = 0;
  if (EVP_DigestSign(context.get(), nullptr, &length, bytes(message), message.size()) != 1) {
    return KeyResult<std::string>::failure(failed("EVP_DigestSign failed"));
  }
  std::string signature(length, '\0');
  if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                     bytes(message), message.size()) != 1) {
    return KeyResult<std::string>::failure(failed("EVP_DigestSign failed"));
  }
  // The first call gives the largest possible size; DER drops leading zeros.
  signature.resize(length);
  return KeyResult<std::string>::success(std::move(signature));
}

KeyResult<std::string> OpenSslKeys::privateKeyPem(const Key& privateKey) {
  const OpenSslKey* key = openSslKey(privateKey);
  if (key == nullptr || !key->isPrivate()) {
    return KeyResult<std::string>::failure("the key is not a private key made by OpenSSL");
  }
  BioPtr bio(BIO_new(BIO_s_secmem()));
  if (bio == nullptr) return KeyResult<std::string>::failure(failed("BIO_new failed"));
  // PEM_write_bio_PrivateKey writes PKCS#8 ("BEGIN PRIVATE KEY").
  if (PEM_write_bio_PrivateKey(bio.get(), key->pkey(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    return KeyResult<std::string>::failure(failed("PEM_write_bio_PrivateKey failed"));
  }
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  if (length <= 0 || data == nullptr) {
    return KeyResult<std::string>::failure(failed("BIO_get_mem_data failed"));
  }
  return KeyResult<std::string>::success(std::string(data, static_cast<std::size_t>(length)));
}

KeyResult<Key> OpenSslKeys::loadPrivateKey(std::string_view pem) {
  if (pem.size() > static_cast<std::size_t>(INT_MAX)) return KeyResult<Key>::failure("the PEM is too long");
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (bio == nullptr) return KeyResult<Key>::failure(failed("BIO_new_mem_buf failed"));
  PkeyPtr pkey(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassword, nullptr));
  if (pkey == nullptr) return KeyResult<Key>::failure(failed("PEM_read_bio_PrivateKey failed"));
  if (!isP256(pkey.get())) return KeyResult<Key>::failure("the key is not a P-256 key");
  return KeyResult<Key>::success(std::make_shared<OpenSslKey>(std::move(pkey), true));
}

bool OpenSslKeys::certificateParses(std::string_view der) { return parseCertificate(der) != nullptr; }

bool OpenSslKeys::certificateMatchesKey(std::string_view der, const Key& privateKey) {
  const OpenSslKey* key = openSslKey(privateKey);
  if (key == nullptr || !key->isPrivate()) return false;
  const X509Ptr certificate = parseCertificate(der);
  if (certificate == nullptr) return false;
  const bool matches = X509_check_private_key(certificate.get(), key->pkey()) == 1;
  ERR_clear_error();
  return matches;
}

}  // namespace lumenvale
