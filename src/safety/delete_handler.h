// A laptop's request to delete assets it holds. Nothing is deleted on the
// laptop's word alone: every asset must be named with all of its files, each
// file's SHA-256 must match what the device computes now, and then the owner
// is asked (the `trash` callback) and only a yes deletes. One delete is served
// at a time for all laptops together.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "library/asset.h"
#include "library/library.h"
#include "util/mutex.h"

namespace lumenvale {

// One file a laptop asks to delete, with the SHA-256 of the copy it holds.
struct DeleteItem {
  std::string id;
  std::string rid;
  std::string sha256;  // 64 lower-case hex digits
  bool operator==(const DeleteItem&) const = default;
};

// What a delete did: the assets moved out of the library, and those kept,
// each with a reason code.
struct DeleteOutcome {
  std::vector<std::string> deleted;
  std::vector<std::pair<std::string, std::string>> kept;  // (id, reason)
  bool operator==(const DeleteOutcome&) const = default;
};

// A delete that deleted nothing as a whole, and why; the API tells the
// laptop in its own words.
class DeleteRefused : public std::exception {
 public:
  enum class Reason {
    busy,        // another delete is waiting for the owner
    noOneToAsk,  // no screen and no terminal to ask on
    cancelled,   // the owner said no, did not answer, or a photo changed
  };
  explicit DeleteRefused(Reason reason) : reason(reason) {}
  const char* what() const noexcept override;
  Reason reason;
};

// Deleter carries out delete requests for the API, which has checked that
// deleting is on and read the items.
class Deleter {
 public:
  static constexpr std::size_t kMaxItems = 500;

  virtual ~Deleter() = default;
  // deleteAssets checks and deletes what 1 to kMaxItems `items` name and
  // says what came of each asset, or throws DeleteRefused. `stillWanted`
  // turns false once the laptop has hung up.
  virtual DeleteOutcome deleteAssets(const std::vector<DeleteItem>& items,
                                     const std::function<bool()>& stillWanted) = 0;
};

class DeleteHandler : public Deleter {
 public:
  using Item = DeleteItem;
  using Outcome = DeleteOutcome;

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

  // AnyoneToAsk says whether someone can answer on the device now: false
  // for a device run as a service, with no screen and no terminal.
  using AnyoneToAsk = std::function<bool()>;

  // The library must outlive the handler. Without `anyoneToAsk`, someone
  // always can.
  DeleteHandler(const Library& library, Trash trash, AnyoneToAsk anyoneToAsk = nullptr);

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

  Outcome deleteAssets(const std::vector<Item>& items, const std::function<bool()>& stillWanted) override;

 private:
  const Library& library_;
  Trash trash_;
  AnyoneToAsk anyoneToAsk_;
  Mutex mutex_;
  bool busy_ GUARDED_BY(mutex_) = false;
};

}  // namespace lumenvale
