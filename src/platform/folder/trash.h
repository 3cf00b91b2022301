// Deleting from a folder library: the files of one asset go to the
// freedesktop Trash of their own volume, each with its .trashinfo, all or
// none, and only while each is still the very file the catalog recorded.
// Files are only ever renamed into a Trash, never copied.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/folder/catalog.h"

namespace lumenvale::Trash {

// Why one file, and so its whole asset, stays: a reason code the laptop
// reads and the owner's explanation.
struct Refusal {
  std::string reason;
  std::string detail;
};

// moveAll moves these files, one asset's, to the Trash, all or none: when
// one cannot go, those already moved come back, and the refusal says why
// (and what could not come back). Nothing when all went.
std::optional<Refusal> moveAll(const std::vector<const CatalogFile*>& files);

}  // namespace lumenvale::Trash
