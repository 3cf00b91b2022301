#include "pairing/self_signed.h"

#include "pairing/der.h"

namespace lumenvale::SelfSigned {
namespace {

constexpr std::string_view kEcPublicKey = "1.2.840.10045.2.1";
constexpr std::string_view kPrime256v1 = "1.2.840.10045.3.1.7";
constexpr std::string_view kEcdsaWithSha256 = "1.2.840.10045.4.3.2";
constexpr std::string_view kCommonName = "2.5.4.3";

// bitString wraps whole bytes: the leading 0x00 says no bits are unused.
std::string bitString(std::string_view bytes) {
  std::string content(1, '\0');
  content.append(bytes);
  return Der::tlv(Der::kBitString, content);
}

}  // namespace

std::string publicKeyInfo(KeyServices& keys, const Key& publicKey) {
  KeyResult<std::string> point = keys.externalRepresentation(publicKey);
  if (!point) throw Failure("the public key cannot be exported: " + point.error());
  return Der::seq({Der::seq({Der::oid(kEcPublicKey), Der::oid(kPrime256v1)}), bitString(point.value())});
}

std::string build(KeyServices& keys, const Key& privateKey, std::string_view commonName, TimePoint notBefore,
                  TimePoint notAfter, std::string_view serial) {
  const Key publicKey = keys.copyPublicKey(privateKey);
  if (publicKey == nullptr) throw Failure("the key has no public half");
  const std::string subjectPublicKeyInfo = publicKeyInfo(keys, publicKey);
  // ECDSA algorithm identifiers carry no parameters field, not even NULL.
  const std::string algorithm = Der::seq({Der::oid(kEcdsaWithSha256)});
  const std::string name =
      Der::seq({Der::set({Der::seq({Der::oid(kCommonName), Der::tlv(Der::kUtf8String, commonName)})})});
  const std::string tbsCertificate = Der::seq({
      Der::tlv(Der::kContextConstructed0, Der::integer(std::string(1, '\x02'))),  // version 3
      Der::integer(serial),
      algorithm,
      name,  // issuer
      Der::seq({Der::time(notBefore), Der::time(notAfter)}),
      name,  // subject: self-issued, so the same bytes
      subjectPublicKeyInfo,
  });
  KeyResult<std::string> signature = keys.sign(privateKey, tbsCertificate);
  if (!signature) throw Failure("signing failed: " + signature.error());
  return Der::seq({tbsCertificate, algorithm, bitString(signature.value())});
}

}  // namespace lumenvale::SelfSigned
