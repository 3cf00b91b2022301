// The paired device where it is now. Addresses change (a router hands out
// another, the device restarts on the next free port): when the saved one
// no longer answers, the device is found again by DNS-SD under its id, and
// the address that answers is kept for next time. Trust stays with the
// pinned certificate, never with what the network announces: an address
// is used only once the device there has shown that certificate.
#pragma once

#include <functional>
#include <vector>

#include "laptop/find/finder.h"
#include "laptop/laptop_config.h"

namespace lumenvale::laptop {

struct Reach {
  // answers says whether the device with the pinned certificate answers at
  // the given address; throws CertificateMismatch when another does.
  std::function<bool(const PairedDevice&)> answers;
  // find lists the devices announced on the network (none when it cannot).
  std::function<std::vector<FoundDevice>()> find;
  // save keeps the address that answered.
  std::function<void(const PairedDevice&)> save;
};

// reachDevice returns `saved` where it answers now. Throws
// std::runtime_error, in the user's words, when it answers nowhere (or
// only another certificate answers at its saved address).
PairedDevice reachDevice(const PairedDevice& saved, const Reach& reach);

// networkReach is Reach over the network and the laptop's configuration in
// `configFolder`.
Reach networkReach(const std::string& configFolder);

}  // namespace lumenvale::laptop
