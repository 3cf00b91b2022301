// The device's lasting identity on the network: a device id that never
// changes once made, a P-256 key and its self-signed certificate, all kept
// in the keychain. Made once per server start on the start-up thread;
// immutable afterwards, so any thread may read it.
#pragma once

#include <exception>
#include <string>
#include <utility>

#include "pairing/key_services.h"
#include "pairing/keychain.h"
#include "util/clock.h"
#include "util/failure.h"

namespace lumenvale {

class Identity {
 public:
  // Failure ends the start-up; `description` is also its printed form.
  class Failure : public DescribedFailure {
   public:
    using DescribedFailure::DescribedFailure;
  };

  // loadOrCreate returns the identity the keychain holds, or makes what is
  // missing: a device id when there is none, and a new key with a new
  // certificate (valid from an hour before `now` for 3650 days) when the
  // stored certificate is gone or no longer matches the stored key. The
  // device id survives a new key. Throws Failure; a certificate that cannot
  // be built fails with the description SelfSigned gave it.
  static Identity loadOrCreate(Keychain& keychain, KeyServices& keys, TimePoint now);

  // deviceId returns the lower-case UUID text that names this device.
  const std::string& deviceId() const { return deviceId_; }

  // certificate returns the certificate in DER, exactly as stored.
  const std::string& certificate() const { return certificate_; }

  // fingerprint returns the SHA-256 of certificate() as 64 lower-case hex
  // digits: what laptops pin.
  std::string fingerprint() const;

  // privateKeyPem returns the certificate's private key as PKCS#8 PEM, for
  // the TLS server only.
  std::string privateKeyPem() const { return privateKeyPem_; }

 private:
  Identity(std::string deviceId, std::string privateKeyPem, std::string certificate)
      : deviceId_(std::move(deviceId)),
        privateKeyPem_(std::move(privateKeyPem)),
        certificate_(std::move(certificate)) {}

  std::string deviceId_;
  std::string privateKeyPem_;
  std::string certificate_;
};

}  // namespace lumenvale
