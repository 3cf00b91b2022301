#include "safety/delete_handler.h"

#include <algorithm>
#include <map>
#include <set>

#include "util/bytes.h"
#include "util/crypto.h"

namespace lumenvale {

const char* DeleteRefused::what() const noexcept {
  switch (reason) {
    case Reason::busy: return "another delete is waiting for an answer";
    case Reason::noOneToAsk: return "no one can answer on the device";
    case Reason::cancelled: return "the delete was cancelled";
  }
  return "the delete was refused";
}

DeleteHandler::DeleteHandler(const Library& library, Trash trash, AnyoneToAsk anyoneToAsk)
    : library_(library), trash_(std::move(trash)), anyoneToAsk_(std::move(anyoneToAsk)) {}

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

DeleteHandler::Outcome DeleteHandler::deleteAssets(const std::vector<Item>& items,
                                                   const std::function<bool()>& stillWanted) {
  // A question nobody can answer would only be answered no when its time
  // runs out: the laptop is told why at once instead.
  if (anyoneToAsk_ && !anyoneToAsk_()) throw DeleteRefused(DeleteRefused::Reason::noOneToAsk);
  {
    MutexLock hold(mutex_);
    if (busy_) throw DeleteRefused(DeleteRefused::Reason::busy);
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

  Outcome answer{{}, decision.kept};
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
    const std::optional<Outcome> outcome = trash_ ? trash_(question, stillAsVerified, stillWanted) : std::nullopt;
    if (!outcome && anyoneToAsk_ && !anyoneToAsk_()) throw DeleteRefused(DeleteRefused::Reason::noOneToAsk);
    if (!outcome) throw DeleteRefused(DeleteRefused::Reason::cancelled);
    answer.deleted = outcome->deleted;
    answer.kept.insert(answer.kept.end(), outcome->kept.begin(), outcome->kept.end());
  }
  return answer;
}

}  // namespace lumenvale
