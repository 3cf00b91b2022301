// Reads back the fields of a DER certificate with OpenSSL's X.509 parser, so
// tests check what we write against an independent reader. Single-threaded
// test helper; the certificate is taken as untrusted input.
#pragma once

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <climits>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace lumenvale::testing {

struct CertificateFields {
  long version = 0;             // 3 for X.509 v3
  int signatureNid = 0;         // the outer signature algorithm
  int tbsSignatureNid = 0;      // the algorithm named inside the to-be-signed body
  std::string issuer;           // one line, RFC 2253 style
  std::string subject;
  std::string commonName;       // of the subject
  int subjectEntries = 0;       // attributes in the subject name
  int extensions = 0;
  std::string serial;           // big-endian magnitude, no sign byte
  std::time_t notBefore = 0;
  std::time_t notAfter = 0;
  bool verifiesWithOwnKey = false;
};

inline std::string nameText(const X509_NAME* name) {
  char buffer[512];
  X509_NAME_oneline(name, buffer, sizeof buffer);
  return buffer;
}

inline std::optional<std::time_t> timeOf(const ASN1_TIME* time) {
  std::tm parts{};
  if (ASN1_TIME_to_tm(time, &parts) != 1) return std::nullopt;
  return ::timegm(&parts);
}

// readCertificate returns nothing unless `der` is exactly one certificate.
inline std::optional<CertificateFields> readCertificate(std::string_view der) {
  const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
  std::unique_ptr<X509, decltype(&X509_free)> x509(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())),
                                                   X509_free);
  if (x509 == nullptr || cursor != reinterpret_cast<const unsigned char*>(der.data()) + der.size()) {
    return std::nullopt;
  }
  CertificateFields fields;
  fields.version = X509_get_version(x509.get()) + 1;
  fields.signatureNid = X509_get_signature_nid(x509.get());
  const X509_ALGOR* inner = X509_get0_tbs_sigalg(x509.get());
  const ASN1_OBJECT* innerObject = nullptr;
  X509_ALGOR_get0(&innerObject, nullptr, nullptr, inner);
  fields.tbsSignatureNid = OBJ_obj2nid(innerObject);
  fields.issuer = nameText(X509_get_issuer_name(x509.get()));
  fields.subject = nameText(X509_get_subject_name(x509.get()));
  fields.subjectEntries = X509_NAME_entry_count(X509_get_subject_name(x509.get()));
  char commonName[256] = {};
  if (X509_NAME_get_text_by_NID(X509_get_subject_name(x509.get()), NID_commonName, commonName,
                                sizeof commonName) >= 0) {
    fields.commonName = commonName;
  }
  fields.extensions = X509_get_ext_count(x509.get());
  std::unique_ptr<BIGNUM, decltype(&BN_free)> serial(
      ASN1_INTEGER_to_BN(X509_get0_serialNumber(x509.get()), nullptr), BN_free);
  if (serial == nullptr) return std::nullopt;
  fields.serial.resize(static_cast<std::size_t>(BN_num_bytes(serial.get())));
  BN_bn2bin(serial.get(), reinterpret_cast<unsigned char*>(fields.serial.data()));
  const auto notBefore = timeOf(X509_get0_notBefore(x509.get()));
  const auto notAfter = timeOf(X509_get0_notAfter(x509.get()));
  if (!notBefore || !notAfter) return std::nullopt;
  fields.notBefore = *notBefore;
  fields.notAfter = *notAfter;
  EVP_PKEY* publicKey = X509_get0_pubkey(x509.get());
  fields.verifiesWithOwnKey = publicKey != nullptr && X509_verify(x509.get(), publicKey) == 1;
  return fields;
}

}  // namespace lumenvale::testing
