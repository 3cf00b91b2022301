// Builds the device's TLS certificate: X.509 version 3 for a P-256 key,
// self-issued (issuer = subject = one common name), no extensions, signed
// with ECDSA over SHA-256 by the key services. Stateless; safe on any thread
// that may use the given key services.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include "pairing/key_services.h"
#include "util/clock.h"
#include "util/failure.h"

namespace lumenvale::SelfSigned {

// Failure ends the identity set-up; `description` is also its printed form.
class Failure : public DescribedFailure {
 public:
  using DescribedFailure::DescribedFailure;
};

// publicKeyInfo returns the SubjectPublicKeyInfo of a P-256 public key.
// Throws Failure when the key services cannot export the point.
std::string publicKeyInfo(KeyServices& keys, const Key& publicKey);

// build returns the whole certificate in DER. `serial` is the big-endian
// magnitude of the serial number (positive; at most 20 bytes by custom).
// Throws Failure when the key has no public half, the point cannot be
// exported, or signing fails.
std::string build(KeyServices& keys, const Key& privateKey, std::string_view commonName, TimePoint notBefore,
                  TimePoint notAfter, std::string_view serial);

}  // namespace lumenvale::SelfSigned
