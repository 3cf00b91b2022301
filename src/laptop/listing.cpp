#include "laptop/listing.h"

#include <set>
#include <stdexcept>

#include "laptop/device_connection.h"
#include "util/text.h"

namespace lumenvale::laptop {

std::vector<ListedAsset> listAssets(const PairedDevice& device) {
  DeviceConnection lister(device.host, device.port, device.fingerprint, device.token);
  std::vector<ListedAsset> assets;
  std::set<std::string> seen;
  std::string after;
  do {
    const Response answer =
        lister.get("/v1/assets?limit=500" + (after.empty() ? "" : "&after=" + Text::percentEncoded(after)));
    if (answer.status != 200) throw std::runtime_error(errorText(answer));
    const nlohmann::json page = answer.json();
    if (!page.is_object() || !page["assets"].is_array())
      throw std::runtime_error("The device sent a listing that does not read.");
    for (const nlohmann::json& asset : page["assets"]) {
      if (!asset.is_object()) continue;
      ListedAsset listed{asset.value("id", ""), asset.value("created", ""), asset.value("modified", ""), {}};
      if (listed.id.empty() || !seen.insert(listed.id).second) continue;
      std::set<std::string> rids;
      for (const nlohmann::json& resource : asset.value("resources", nlohmann::json::array())) {
        if (!resource.is_object()) continue;
        const std::string rid = resource.value("rid", "");
        if (rid.empty() || !rids.insert(rid).second) continue;
        listed.resources.push_back({rid, resource.value("name", rid)});
      }
      assets.push_back(std::move(listed));
    }
    after = page["next"].is_string() ? page["next"].get<std::string>() : "";
  } while (!after.empty());
  return assets;
}

}  // namespace lumenvale::laptop
