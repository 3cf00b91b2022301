// What each paired laptop holds safely: per laptop, the last complete safe
// list it sent (asset id -> the asset's modified time as the laptop saw it),
// kept whole in memory and rewritten atomically to one JSON file (mode 0600)
// after every change. A laptop sends a long list as one operation split over
// several requests; the pieces wait in memory (never on disk) until the
// operation's distinct items reach its total, then replace that laptop's
// marks. A mark counts only while the asset's modified time is unchanged.
// Shared by connection threads and the screens; one mutex guards it and is
// held across the file write; onChange runs after it is released.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace lumenvale {

class SafeMarks {
 public:
  // One reported item: asset id and modified time, exactly as sent.
  using Item = std::pair<std::string, std::string>;

  // Loads `file`. A missing, unreadable or malformed file gives no marks and
  // no error; the next change rewrites it.
  explicit SafeMarks(std::string file);

  SafeMarks(const SafeMarks&) = delete;
  SafeMarks& operator=(const SafeMarks&) = delete;

  // receive adds one request's items to the laptop's operation `op` and
  // returns true when that completed it: the laptop's marks are then the
  // operation's items, replacing the earlier ones. A new operation id drops
  // the items of the one under way; for the same id, the total of its first
  // request holds. A failed write keeps the change in memory; the next
  // change tries again.
  bool receive(const std::string& laptop, const std::vector<Item>& items, const std::string& op,
               std::int64_t total);

  // ids returns every asset id that any laptop holds a mark for.
  std::set<std::string> ids() const;

  // laptops returns, in ascending order, the ids of the laptops whose marks
  // hold `asset` with exactly this modified time.
  std::vector<std::string> laptops(const std::string& asset, const std::string& modified) const;

  // forget drops the laptop's operation under way and its marks; without
  // marks nothing is written and onChange is not called.
  void forget(const std::string& laptop);

  // setOnChange is called once, before the store is shared; the callback
  // runs on the thread that made a change, after every change of the marks.
  void setOnChange(std::function<void()> onChange);

 private:
  struct Waiting {
    std::map<std::string, std::string> items;
    std::string op;
    std::int64_t total = 0;
  };

  void write() const;  // with mutex_ held; failures are ignored

  const std::string file_;
  mutable std::mutex mutex_;
  std::map<std::string, std::map<std::string, std::string>> used_;  // guarded by mutex_
  std::map<std::string, Waiting> waiting_;                         // guarded by mutex_
  std::function<void()> onChange_;
};

}  // namespace lumenvale
