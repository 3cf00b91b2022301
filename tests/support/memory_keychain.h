// An in-memory keychain for unit tests: the items in a map, switches that make
// one operation on one item answer a chosen status, and counts of the adds.
// Single-threaded, like the start-up it stands in for.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "pairing/keychain.h"

namespace lumenvale::testing {

class MemoryKeychain : public Keychain {
 public:
  int add(Item item, std::string_view data) override {
    ++adds_[item];
    if (const auto forced = addStatus_.find(item); forced != addStatus_.end()) return forced->second;
    if (items_.count(item) != 0) return kDuplicateItem;
    items_[item] = std::string(data);
    return kSuccess;
  }

  int copyMatching(Item item, std::string& data) override {
    if (const auto forced = copyStatus_.find(item); forced != copyStatus_.end()) return forced->second;
    const auto found = items_.find(item);
    if (found == items_.end()) return kItemNotFound;
    data = found->second;
    return kSuccess;
  }

  int remove(Item item) override { return items_.erase(item) != 0 ? kSuccess : kItemNotFound; }

  // put stores `data` as `item` directly, as an earlier run might have left it.
  void put(Item item, std::string data) { items_[item] = std::move(data); }

  // lose drops `item` behind the system's back.
  void lose(Item item) { items_.erase(item); }

  // item returns what is stored, without counting or forced statuses.
  std::optional<std::string> item(Item item) const {
    const auto found = items_.find(item);
    if (found == items_.end()) return std::nullopt;
    return found->second;
  }

  // failAdd and failCopy make every later add or copy of `item` answer
  // `status` without touching the item; heal undoes both.
  void failAdd(Item item, int status) { addStatus_[item] = status; }
  void failCopy(Item item, int status) { copyStatus_[item] = status; }
  void heal() {
    addStatus_.clear();
    copyStatus_.clear();
  }

  // adds counts the add calls for `item`, refused ones included.
  int adds(Item item) const {
    const auto found = adds_.find(item);
    return found == adds_.end() ? 0 : found->second;
  }

 private:
  std::map<Item, std::string> items_;
  std::map<Item, int> addStatus_;
  std::map<Item, int> copyStatus_;
  std::map<Item, int> adds_;
};

}  // namespace lumenvale::testing
