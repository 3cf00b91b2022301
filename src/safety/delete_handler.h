// A laptop's request to delete assets it holds. Nothing is deleted on the
// laptop's word alone: every asset must be named with all of its files, each
// file's SHA-256 must match what the device computes now, and then the owner
// is asked (the `trash` callback) and only a yes deletes. One delete is served
// at a time for all laptops together.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "library/asset.h"
#include "library/library.h"
#include "transport/byte_stream.h"
#include "util/mutex.h"

namespace lumenvale {

// Deleter carries out delete requests for the API. The API's handler has
// already checked that deleting is on and parsed the body as JSON.
class Deleter {
 public:
  virtual ~Deleter() = default;
  // deleteAssets writes the whole response to `sink`, or throws HttpError.
  virtual void deleteAssets(const nlohmann::json& body, ByteSink& sink) = 0;
};

class DeleteHandler : public Deleter {
 public:
  struct Item {
    std::string id;
    std::string rid;
    std::string sha256;  // 64 lower-case hex digits
    bool operator==(const Item&) const = default;
  };

  struct Decision {
    std::vector<std::string> toTrash;                         // in order of first appearance
    std::vector<std::pair<std::string, std::string>> kept;    // (id, reason), same order
    bool operator==(const Decision&) const = default;
  };

  using AssetLookup = std::function<std::optional<Asset>(const std::string& id)>;
  using HashLookup = std::function<std::optional<std::string>(const std::string& id, const std::string& rid)>;

  // What the owner is asked: the assets, and what they amount to.
  struct Question {
    std::vector<std::string> ids;
    std::int64_t photos = 0;  // photos and Live Photos
    std::int64_t videos = 0;
    std::int64_t bytes = 0;   // every file that would go
    std::string firstDay;     // the span of capture days, "yyyy-MM-dd"
    std::string lastDay;
    bool operator==(const Question&) const = default;
  };

  // What a yes did: the assets moved out of the library, and those kept,
  // each with a reason code.
  struct Outcome {
    std::vector<std::string> deleted;
    std::vector<std::pair<std::string, std::string>> kept;  // (id, reason)
    bool operator==(const Outcome&) const = default;
  };

  // Trash asks the owner about the question's assets and deletes them on a
  // yes; nothing when none was deleted because the owner said no or did not
  // answer in time, the laptop hung up (`stillWanted` turned false while
  // waiting; it is asked every few hundred milliseconds), or the deletion
  // overran the deadline. After the yes and before deleting it calls
  // `stillAsVerified`, which checks every file again and is false when any
  // asset changed while the owner was deciding (a file rewritten, added or
  // removed); nothing may be deleted then.
  using Trash = std::function<std::optional<Outcome>(const Question& question,
                                                     const std::function<bool()>& stillAsVerified,
                                                     const std::function<bool()>& stillWanted)>;

  static constexpr std::size_t kMaxItems = 500;

  // AnyoneToAsk says whether someone can answer on the device now: false
  // for a device run as a service, with no screen and no terminal.
  using AnyoneToAsk = std::function<bool()>;

  // The library must outlive the handler. Without `anyoneToAsk`, someone
  // always can.
  DeleteHandler(const Library& library, Trash trash, AnyoneToAsk anyoneToAsk = nullptr);

  // parse reads the "items" of a delete request, or throws HttpError 400.
  static std::vector<Item> parse(const nlohmann::json& body);

  // decide checks each asset named by `items`, grouped by id in order of
  // first appearance (a later sha256 for the same id and rid wins): gone
  // ("not_found"), files named differ from the asset's ("incomplete"), or a
  // file's current hash is unknown or differs ("hash_mismatch"); the others
  // are to be trashed.
  static Decision decide(const std::vector<Item>& items, const AssetLookup& asset, const HashLookup& hash);

  // hashOf streams the resource's whole content through one SHA-256 and
  // returns it in lower-case hex, or nothing when it cannot be read; the
  // bytes read are added to `size` when given.
  std::optional<std::string> hashOf(const std::string& id, const std::string& rid,
                                    std::int64_t* size = nullptr) const;

  void deleteAssets(const nlohmann::json& body, ByteSink& sink) override;

 private:
  const Library& library_;
  Trash trash_;
  AnyoneToAsk anyoneToAsk_;
  Mutex mutex_;
  bool busy_ GUARDED_BY(mutex_) = false;
};

}  // namespace lumenvale
