#include "safety/delete_handler.h"

#include <algorithm>
#include <map>
#include <set>

#include "util/identifiers.h"
#include "transport/http.h"
#include "transport/http_request.h"
#include "util/bytes.h"
#include "util/crypto.h"

namespace lumenvale {
namespace {

// A question nobody can answer would only be answered no when its time
// runs out: the laptop is told why at once instead.
HttpError noOneToAsk() {
  return HttpError(503, "no_one_to_ask",
                   "No one can answer on the device: open the app or run it in a terminal. Nothing was deleted.");
}

HttpError itemError() {
  return HttpError(400, "bad_request", "Each item needs an id, a rid and a 64-character sha256.");
}

// text returns the string member `key` of `item` when it has 1 to `longest`
// characters, all in `allowed`.
std::optional<std::string> text(const nlohmann::json& item, const char* key, std::size_t shortest,
                                std::size_t longest, std::string_view allowed) {
  const auto found = item.find(key);
  if (found == item.end() || !found->is_string()) return std::nullopt;
  const std::string& value = found->get_ref<const std::string&>();
  if (value.size() < shortest || value.size() > longest) return std::nullopt;
  if (value.find_first_not_of(allowed) != std::string::npos) return std::nullopt;
  return value;
}

}  // namespace

DeleteHandler::DeleteHandler(const Library& library, Trash trash, AnyoneToAsk anyoneToAsk)
    : library_(library), trash_(std::move(trash)), anyoneToAsk_(std::move(anyoneToAsk)) {}

std::vector<DeleteHandler::Item> DeleteHandler::parse(const nlohmann::json& body) {
  const auto items = body.is_object() ? body.find("items") : body.end();
  if (!body.is_object() || items == body.end() || !items->is_array()) throw itemError();
  if (items->empty() || items->size() > kMaxItems) {
    throw HttpError(400, "bad_request", "A delete carries 1 to 500 items.");
  }
  std::vector<Item> parsed;
  parsed.reserve(items->size());
  for (const nlohmann::json& element : *items) {
    if (!element.is_object()) throw itemError();
    auto id = text(element, "id", 1, Identifiers::kMaxIdLength, Identifiers::idCharacters);
    auto rid = text(element, "rid", 1, Identifiers::kMaxRidLength, Identifiers::ridCharacters);
    auto sha256 = text(element, "sha256", 64, 64, Identifiers::hexCharacters);
    if (!id || !rid || !sha256) throw itemError();
    parsed.push_back({std::move(*id), std::move(*rid), std::move(*sha256)});
  }
  return parsed;
}

DeleteHandler::Decision DeleteHandler::decide(const std::vector<Item>& items, const AssetLookup& asset,
                                              const HashLookup& hash) {
  std::vector<std::string> order;
  std::map<std::string, std::map<std::string, std::string>> sent;  // id -> rid -> sha256
  for (const Item& item : items) {
    auto [at, added] = sent.try_emplace(item.id);
    if (added) order.push_back(item.id);
    at->second[item.rid] = item.sha256;
  }

  Decision decision;
  for (const std::string& id : order) {
    const std::optional<Asset> found = asset(id);
    if (!found) {
      decision.kept.emplace_back(id, "not_found");
      continue;
    }
    const std::map<std::string, std::string>& hashes = sent.at(id);
    std::set<std::string> rids;
    for (const Resource& resource : found->resources) rids.insert(resource.rid);
    const bool sameRids = rids.size() == hashes.size() &&
                          std::all_of(rids.begin(), rids.end(), [&](const std::string& rid) { return hashes.count(rid) != 0; });
    if (!sameRids) {
      decision.kept.emplace_back(id, "incomplete");
      continue;
    }
    const bool matches = std::all_of(found->resources.begin(), found->resources.end(), [&](const Resource& resource) {
      const std::optional<std::string> current = hash(id, resource.rid);
      return current && *current == hashes.at(resource.rid);
    });
    if (matches) {
      decision.toTrash.push_back(id);
    } else {
      decision.kept.emplace_back(id, "hash_mismatch");
    }
  }
  return decision;
}

std::optional<std::string> DeleteHandler::hashOf(const std::string& id, const std::string& rid,
                                                 std::int64_t* size) const {
  const std::unique_ptr<Opened> opened = library_.open(id, rid);
  if (!opened) return std::nullopt;
  Crypto::Sha256 digest;
  std::int64_t read = 0;
  try {
    opened->read([&](std::string_view chunk) {
      digest.update(chunk);
      read += static_cast<std::int64_t>(chunk.size());
    });
  } catch (const ResourceReadError&) {
    return std::nullopt;
  }
  if (size) *size += read;
  return Bytes::hex(digest.finish());
}

void DeleteHandler::deleteAssets(const nlohmann::json& body, ByteSink& sink) {
  const std::vector<Item> items = parse(body);
  if (anyoneToAsk_ && !anyoneToAsk_()) throw noOneToAsk();
  {
    MutexLock hold(mutex_);
    if (busy_) throw HttpError(409, "busy", "Another delete is waiting for an answer on the phone.");
    busy_ = true;
  }
  // Clears the flag however the request ends: answered, refused, or failed.
  struct Release {
    DeleteHandler& handler;
    ~Release() {
      MutexLock hold(handler.mutex_);
      handler.busy_ = false;
    }
  } release{*this};

  // The first check also measures what the owner is asked about.
  std::map<std::string, Asset> found;
  std::map<std::string, std::int64_t> bytes;
  const AssetLookup firstAsset = [&](const std::string& id) {
    std::optional<Asset> current = library_.asset(id);
    if (current) found[id] = *current;
    return current;
  };
  const HashLookup firstHash = [&](const std::string& id, const std::string& rid) {
    return hashOf(id, rid, &bytes[id]);
  };
  const Decision decision = decide(items, firstAsset, firstHash);

  std::vector<std::string> deleted;
  std::vector<std::pair<std::string, std::string>> kept = decision.kept;
  if (!decision.toTrash.empty()) {
    Question question;
    question.ids = decision.toTrash;
    for (const std::string& id : decision.toTrash) {
      const Asset& asset = found.at(id);
      ++(asset.kind == "video" ? question.videos : question.photos);
      question.bytes += bytes[id];
      const std::string day = asset.created.substr(0, 10);
      if (question.firstDay.empty() || day < question.firstDay) question.firstDay = day;
      if (question.lastDay.empty() || day > question.lastDay) question.lastDay = day;
    }
    // The owner may take up to two minutes to answer. A photo edited or
    // rewritten in that time holds bytes the laptop never checked, so the
    // files are checked once more after the yes, right before deleting.
    const AssetLookup asset = [&](const std::string& id) { return library_.asset(id); };
    const HashLookup hash = [&](const std::string& id, const std::string& rid) { return hashOf(id, rid); };
    const auto stillAsVerified = [&] {
      std::vector<Item> qualified;
      for (const Item& item : items) {
        if (std::find(decision.toTrash.begin(), decision.toTrash.end(), item.id) != decision.toTrash.end()) {
          qualified.push_back(item);
        }
      }
      return decide(qualified, asset, hash).toTrash == decision.toTrash;
    };
    // A laptop that hung up can no longer learn what was deleted: its
    // question is withdrawn.
    const auto stillWanted = [&sink] { return !sink.peerGone(); };
    const std::optional<Outcome> outcome = trash_ ? trash_(question, stillAsVerified, stillWanted) : std::nullopt;
    if (!outcome && anyoneToAsk_ && !anyoneToAsk_()) throw noOneToAsk();
    if (!outcome) throw HttpError(409, "cancelled", "The delete was cancelled on the phone. Nothing was deleted.");
    deleted = outcome->deleted;
    kept.insert(kept.end(), outcome->kept.begin(), outcome->kept.end());
  }

  nlohmann::json keptJson = nlohmann::json::array();
  for (const auto& [id, reason] : kept) keptJson.push_back({{"id", id}, {"reason", reason}});
  sink.send(Http::json(200, {{"deleted", deleted}, {"kept", std::move(keptJson)}}));
}

}  // namespace lumenvale
