// The device's whole library as a paired laptop lists it, page by page.
#pragma once

#include <string>
#include <vector>

#include "laptop/laptop_config.h"

namespace lumenvale::laptop {

struct ListedResource {
  std::string rid;
  std::string name;
};

struct ListedAsset {
  std::string id;
  std::string created;   // when it was taken, in the device's zone
  std::string modified;  // its version
  std::vector<ListedResource> resources;
};

// listAssets reads every page of the device's listing, each asset once.
// Throws std::runtime_error (ConnectionError among them) with the user's
// words when the device cannot be reached or refuses.
std::vector<ListedAsset> listAssets(const PairedDevice& device);

}  // namespace lumenvale::laptop
