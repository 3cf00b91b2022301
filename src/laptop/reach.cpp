#include "laptop/reach.h"

#include <chrono>
#include <optional>
#include <stdexcept>

#include "laptop/device_connection.h"

namespace lumenvale::laptop {

namespace {

std::string where(const PairedDevice& device) {
  const bool ipv6 = device.host.find(':') != std::string::npos;
  return (ipv6 ? "[" + device.host + "]" : device.host) + ":" + std::to_string(device.port);
}

}  // namespace

PairedDevice reachDevice(const PairedDevice& saved, const Reach& reach) {
  std::optional<std::string> otherCertificate;
  try {
    if (reach.answers(saved)) return saved;
  } catch (const CertificateMismatch& failure) {
    // Another device has the address now, or this one was reset: looking
    // for it under its id tells which.
    otherCertificate = failure.what();
  }
  std::vector<FoundDevice> found;
  try {
    found = reach.find();
  } catch (const std::exception&) {
    // No Avahi on this laptop: the saved address is all there is.
  }
  for (const FoundDevice& device : found) {
    if (saved.deviceId.empty() || device.deviceId != saved.deviceId) continue;
    if (!device.fingerprintPrefix.empty() && !saved.fingerprint.starts_with(device.fingerprintPrefix)) continue;
    for (const std::string& address :
         device.addresses.empty() ? std::vector<std::string>{device.address} : device.addresses) {
      PairedDevice candidate = saved;
      candidate.host = address;
      candidate.port = device.port;
      if (candidate.host == saved.host && candidate.port == saved.port) continue;
      try {
        if (!reach.answers(candidate)) continue;
      } catch (const ConnectionError&) {
        continue;
      }
      reach.save(candidate);
      return candidate;
    }
  }
  if (otherCertificate) throw std::runtime_error(*otherCertificate);
  throw std::runtime_error(saved.name + " does not answer at " + where(saved) +
                           " and is not announced on this network. Is Lumenvale running there, on the same network?");
}

Reach networkReach(const std::string& configFolder) {
  Reach reach;
  reach.answers = [](const PairedDevice& device) {
    DeviceConnection connection(device.host, device.port, device.fingerprint, device.token);
    connection.setConnectTimeout(std::chrono::seconds(4));
    try {
      return connection.get("/v1/info").status == 200;
    } catch (const CertificateMismatch&) {
      throw;
    } catch (const ConnectionError&) {
      return false;
    }
  };
  reach.find = [] { return findDevices(std::chrono::seconds(3)); };
  reach.save = [configFolder](const PairedDevice& device) { LaptopConfig(configFolder).save(device); };
  return reach;
}

}  // namespace lumenvale::laptop
