// The vocabulary of the photo library as laptops see it: an asset, one of its
// files, a page of the listing, and the asset's JSON form. Plain values made
// fresh for each request; safe to copy and to read from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "library/instant.h"
#include "util/identifiers.h"

namespace lumenvale {

struct Resource {
  std::string rid;                   // "photo", "video", "edited", "editedvideo" or "alternate"
  std::string name;                  // the file name a laptop stores it under
  std::string mime;                  // "application/octet-stream" when none is known
  std::optional<std::int64_t> size;  // never known in advance, so always empty

  bool operator==(const Resource&) const = default;
};

struct Asset {
  // The characters a wire id may hold, and its longest accepted length. The
  // encoding (URL-safe Base64 without padding) only ever produces the first
  // 64; "." and "~" are accepted so that any id a laptop may send is checked
  // the same way everywhere.
  static constexpr std::string_view idCharacters = Identifiers::idCharacters;
  static constexpr std::size_t kMaxIdLength = Identifiers::kMaxIdLength;

  std::string id;        // the store's local identifier, URL-safe Base64 without "="
  std::string kind;      // "photo", "video" or "live"
  std::string created;   // "yyyy-MM-dd'T'HH:mm:ssXXXXX"
  std::string modified;  // same form; the asset's version
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::optional<double> duration;  // seconds, videos only
  std::vector<Resource> resources;

  bool operator==(const Asset&) const = default;

  // json returns the asset with exactly the keys "id", "kind", "created",
  // "modified", "width", "height", "duration" and "resources"; absent
  // optionals are null, never left out.
  nlohmann::json json() const;
};

struct Page {
  std::vector<Asset> assets;
  std::optional<std::string> next;  // the cursor after the last asset; empty at the end
};

}  // namespace lumenvale
