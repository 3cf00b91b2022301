#include "pairing/identity.h"

#include <chrono>
#include <optional>
#include <stdexcept>

#include "pairing/self_signed.h"
#include "util/bytes.h"
#include "util/crypto.h"
#include "util/text.h"

namespace lumenvale {
namespace {

using Item = Keychain::Item;

constexpr std::string_view kCommonNamePrefix = "Lumenvale ";
constexpr std::chrono::seconds kBackdate{3600};
constexpr std::chrono::seconds kLifetime{315360000};  // 3650 days
constexpr std::size_t kSerialBytes = 16;

// randomBytes turns the generator's rare failure into a set-up failure
// instead of an exception the start-up does not expect.
std::string randomBytes(std::size_t count) {
  try {
    return Bytes::random(count);
  } catch (const std::runtime_error&) {
    throw Identity::Failure("the system's secure random generator failed");
  }
}

// newUuid returns a random (version 4) UUID in lower-case text form.
std::string newUuid() {
  try {
    return Bytes::newUuid();
  } catch (const std::runtime_error&) {
    throw Identity::Failure("the system's secure random generator failed");
  }
}

std::string loadOrCreateDeviceId(Keychain& keychain) {
  std::string stored;
  const int status = keychain.copyMatching(Item::deviceId, stored);
  if (status == Keychain::kSuccess && !stored.empty() && Text::isValidUtf8(stored)) return stored;
  // An item that reads but holds no usable id never named this device to
  // anyone, so it is replaced; left alone, every later start-up would fail
  // on the duplicate add. An item that cannot be read at all is kept: the
  // add below then fails rather than overwrite an id that may be good.
  if (status == Keychain::kSuccess) keychain.remove(Item::deviceId);
  std::string deviceId = newUuid();
  const int added = keychain.add(Item::deviceId, deviceId);
  if (added != Keychain::kSuccess) {
    throw Identity::Failure("the keychain refused the device id (" + std::to_string(added) + ")");
  }
  return deviceId;
}

std::optional<std::string> storedCertificate(Keychain& keychain) {
  std::string der;
  if (keychain.copyMatching(Item::certificate, der) != Keychain::kSuccess) return std::nullopt;
  return der;
}

// findIdentity pairs `certificate` with the stored key, the way the platform
// keychain forms an identity from a certificate whose key it holds, and
// returns that key's PEM. The PEM is written afresh so the TLS server always
// gets PKCS#8, whatever form was stored.
std::optional<std::string> findIdentity(Keychain& keychain, KeyServices& keys, const std::string& certificate) {
  std::string pem;
  if (keychain.copyMatching(Item::privateKey, pem) != Keychain::kSuccess) return std::nullopt;
  KeyResult<Key> key = keys.loadPrivateKey(pem);
  if (!key || !keys.certificateMatchesKey(certificate, key.value())) return std::nullopt;
  KeyResult<std::string> pkcs8 = keys.privateKeyPem(key.value());
  if (!pkcs8) return std::nullopt;
  return std::move(pkcs8).value();
}

// remove drops the key and the certificate together; the device id stays.
// Statuses are ignored: a leftover item makes the next add fail loudly.
void remove(Keychain& keychain) {
  keychain.remove(Item::privateKey);
  keychain.remove(Item::certificate);
}

Key makeKey(Keychain& keychain, KeyServices& keys) {
  KeyResult<Key> key = keys.makeKey();
  if (!key) throw Identity::Failure("the keychain could not make a key: " + key.error());
  KeyResult<std::string> pem = keys.privateKeyPem(key.value());
  if (!pem) throw Identity::Failure("the keychain could not make a key: " + pem.error());
  const int status = keychain.add(Item::privateKey, pem.value());
  if (status != Keychain::kSuccess) {
    throw Identity::Failure("the keychain could not make a key: storing it failed (" + std::to_string(status) + ")");
  }
  return std::move(key).value();
}

}  // namespace

Identity Identity::loadOrCreate(Keychain& keychain, KeyServices& keys, TimePoint now) {
  std::string deviceId = loadOrCreateDeviceId(keychain);

  // A stored certificate is reused unchanged, whatever its dates: laptops
  // pinned exactly these bytes.
  if (std::optional<std::string> stored = storedCertificate(keychain)) {
    if (std::optional<std::string> keyPem = findIdentity(keychain, keys, *stored)) {
      return Identity(std::move(deviceId), std::move(*keyPem), std::move(*stored));
    }
  }

  remove(keychain);
  const Key key = makeKey(keychain, keys);
  std::string serial = randomBytes(kSerialBytes);
  serial[0] = static_cast<char>(serial[0] & 0x7F);
  std::string certificate;
  try {
    certificate = SelfSigned::build(keys, key, std::string(kCommonNamePrefix) + deviceId, now - kBackdate,
                                    now + kLifetime, serial);
  } catch (const SelfSigned::Failure& failure) {
    // One failure type for the start-up to catch; the words stay SelfSigned's.
    throw Failure(failure.description);
  }
  if (!keys.certificateParses(certificate)) {
    throw Failure("the certificate built for this phone does not parse");
  }
  const int status = keychain.add(Item::certificate, certificate);
  if (status != Keychain::kSuccess) {
    throw Failure("the keychain refused the certificate (" + std::to_string(status) + ")");
  }
  std::optional<std::string> keyPem = findIdentity(keychain, keys, certificate);
  if (!keyPem) throw Failure("the keychain did not pair the key with its certificate");
  return Identity(std::move(deviceId), std::move(*keyPem), std::move(certificate));
}

std::string Identity::fingerprint() const { return Bytes::hex(Crypto::sha256(certificate_)); }

}  // namespace lumenvale
