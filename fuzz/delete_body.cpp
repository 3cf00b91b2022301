// Fuzzes the delete endpoint's body through the router and the verified
// delete handler, over an in-memory library: a photo, a Live Photo, an
// edited photo and a photo whose file cannot be read. Deleting is on; the
// owner answers yes when the input's first byte is odd. The rest is the body.
// A request is refused with 400, or decided asset by asset as the library's
// files say: every named id once, kept as not_found, incomplete or
// hash_mismatch, the others put to the owner, who must find them still as
// verified, and deleted on a yes or all kept (409) on a no.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "api/api.h"
#include "api_answer.h"
#include "fuzz_support.h"
#include "library/photo_library.h"
#include "safety/delete_handler.h"
#include "support/memory_photo_store.h"
#include "util/bytes.h"
#include "util/crypto.h"

namespace lumenvale::fuzz {
namespace {

using testing::MemoryPhotoStore;

const std::string kToken = "fuzz-token";

MemoryPhotoStore::StoredFile file(ResourceType type, const std::string& name, const std::string& locator,
                                  std::string data) {
  MemoryPhotoStore::StoredFile stored;
  stored.file = {type, name, "", locator};
  stored.data = std::move(data);
  return stored;
}

// The library, made afresh for every input: the in-memory store keeps a log
// of every file read, which would otherwise grow for the whole run.
struct Photos {
  Photos() : library(store, nullptr, [] { return std::string("UTC"); }) {
    store.setDelivery(MemoryPhotoStore::Delivery::inline_);
    store.add(MemoryPhotoStore::photo("photo-1", 1000, "pixels"));
    MemoryPhotoStore::StoredAsset live = MemoryPhotoStore::photo("live-1", 900, "still");
    live.files.push_back(file(ResourceType::pairedVideo, "IMG_live-1.MOV", "live-1-video", "motion"));
    store.add(std::move(live));
    MemoryPhotoStore::StoredAsset edited = MemoryPhotoStore::photo("edited-1", 800, "original");
    edited.record.modificationDate = 850;
    edited.files.push_back(file(ResourceType::fullSizePhoto, "IMG_edited-1.JPG", "edited-1-full", "edit"));
    store.add(std::move(edited));
    MemoryPhotoStore::StoredAsset unreadable = MemoryPhotoStore::photo("unreadable-1", 700, "lost");
    unreadable.files.front().failure = "The file cannot be read.";
    store.add(std::move(unreadable));
  }

  MemoryPhotoStore store;
  PhotoLibrary library;
};

struct Fixture {
  Fixture() : pairing(std::string(64, 'c')), laptops(folder.path() + "/laptops.json") {
    laptops.add("laptop-1", "Desk", kToken, systemNow());
    const auto hash = [](const std::string& bytes) { return Bytes::hex(Crypto::sha256(bytes)); };
    files[PhotoLibrary::wireId("photo-1")] = {{"photo", hash("pixels")}};
    files[PhotoLibrary::wireId("live-1")] = {{"photo", hash("still")}, {"video", hash("motion")}};
    files[PhotoLibrary::wireId("edited-1")] = {{"photo", hash("original")}, {"edited", hash("edit")}};
    files[PhotoLibrary::wireId("unreadable-1")] = {{"photo", std::nullopt}};
  }

  // What the library's files say of one asset: its reason to be kept, or
  // nothing when it is to be deleted.
  std::optional<std::string> verdict(const std::string& id, const std::map<std::string, std::string>& sent) const {
    const auto found = files.find(id);
    if (found == files.end()) return "not_found";
    std::set<std::string> rids;
    for (const auto& [rid, hash] : found->second) rids.insert(rid);
    std::set<std::string> sentRids;
    for (const auto& [rid, hash] : sent) sentRids.insert(rid);
    if (rids != sentRids) return "incomplete";
    for (const auto& [rid, hash] : found->second) {
      if (!hash || *hash != sent.at(rid)) return "hash_mismatch";
    }
    return std::nullopt;
  }

  ScratchFolder folder{"delete"};  // laptops.json: a laptop is paired once its file holds it
  Pairing pairing;
  Laptops laptops;
  std::map<std::string, std::map<std::string, std::optional<std::string>>> files;  // id -> rid -> sha256
};

}  // namespace
}  // namespace lumenvale::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumenvale;
  using fuzz::require;
  static fuzz::Fixture fixture;
  if (size == 0) return 0;
  const bool yes = (data[0] & 1) != 0;
  const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);

  fuzz::Photos photos;
  std::vector<std::string> asked;
  auto deleter = std::make_shared<DeleteHandler>(
      photos.library,
      [&](const DeleteHandler::Question& question, const std::function<bool()>& stillAsVerified,
          const std::function<bool()>& stillWanted) -> std::optional<DeleteHandler::Outcome> {
        require(asked.empty(), "the owner is asked once");
        require(!question.ids.empty(), "the owner is asked about something");
        require(stillAsVerified(), "nothing changed while the owner decided");
        require(stillWanted(), "the laptop is still there");
        asked = question.ids;
        if (!yes) return std::nullopt;
        return DeleteHandler::Outcome{question.ids, {}};
      });
  Api::Callbacks callbacks;
  callbacks.deleteState = [] { return std::string("on"); };
  callbacks.deleter = deleter;
  const Api api(fixture.pairing, fixture.laptops, photos.library, callbacks);
  const fuzz::Answer answer = fuzz::post(api, "/v1/delete", body, fuzz::kToken);

  if (answer.status == 400) {
    require(answer.body.at("error") == "bad_request", "a malformed delete is a bad request");
    require(asked.empty(), "the owner is not asked about a malformed delete");
    return 0;
  }

  // The request parsed; what the fixture says of each asset named.
  const nlohmann::json sent = nlohmann::json::parse(body);
  std::vector<std::string> order;
  std::map<std::string, std::map<std::string, std::string>> hashes;
  for (const nlohmann::json& item : sent.at("items")) {
    const std::string id = item.at("id");
    if (!hashes.contains(id)) order.push_back(id);
    hashes[id][item.at("rid")] = item.at("sha256");
  }
  std::vector<std::string> toDelete;
  nlohmann::json kept = nlohmann::json::array();
  for (const std::string& id : order) {
    if (const std::optional<std::string> reason = fixture.verdict(id, hashes.at(id))) {
      kept.push_back({{"id", id}, {"reason", *reason}});
    } else {
      toDelete.push_back(id);
    }
  }
  require(asked == toDelete, "the owner is asked about exactly the verified assets");

  if (answer.status == 409) {
    require(!yes && !toDelete.empty() && answer.body.at("error") == "cancelled", "a no cancels the whole delete");
    return 0;
  }
  require(answer.status == 200, "a delete is answered 200, 400 or 409");
  require(answer.body.at("deleted") == nlohmann::json(toDelete), "the verified assets are deleted");
  require(answer.body.at("kept") == kept, "every other asset is kept with its reason");
  return 0;
}
