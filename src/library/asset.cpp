#include "library/asset.h"

namespace lumenvale {
namespace {

template <typename T>
nlohmann::json valueOrNull(const std::optional<T>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

}  // namespace

nlohmann::json Asset::json() const {
  nlohmann::json files = nlohmann::json::array();
  for (const Resource& resource : resources) {
    files.push_back({{"rid", resource.rid},
                     {"name", resource.name},
                     {"mime", resource.mime},
                     {"size", valueOrNull(resource.size)}});
  }
  return {{"id", id},
          {"kind", kind},
          {"created", created},
          {"modified", modified},
          {"width", width},
          {"height", height},
          {"duration", valueOrNull(duration)},
          {"resources", std::move(files)}};
}

}  // namespace lumenvale
