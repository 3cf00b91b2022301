// What each paired laptop holds safely: per laptop, the last complete safe
// list it sent (asset id -> the asset's modified time as the laptop saw it),
// kept whole in memory and rewritten atomically to one JSON file (mode 0600)
// after every change. A laptop sends a long list as one operation split over
// several requests; the pieces wait in memory (never on disk) until the
// operation's distinct items reach its total, then replace that laptop's
// marks. A mark counts only while the asset's modified time is unchanged.
// Shared by connection threads and the screens; one mutex guards it and is
// held across the file write; onChange runs after it is released. What one
// laptop may hold is capped (kMaxTotal marks, ids of Identifiers::kMaxIdLength
// and times of kMaxModifiedLength characters), on the wire and when loading.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "util/mutex.h"

namespace lumenvale {

class SafeMarks {
 public:
  // One reported item: asset id and modified time, exactly as sent.
  using Item = std::pair<std::string, std::string>;

  // The most marks one laptop may hold, and so the largest total an
  // operation may announce: pieces wait in memory until the total is
  // reached, so an unbounded total lets a laptop grow the device's memory
  // without end. A million marks is some 300 MB at the longest fields, far
  // beyond any one camera roll.
  static constexpr std::int64_t kMaxTotal = 1'000'000;

  // How far a total may exceed the library's own count: a laptop still
  // holds photos that left the device by other means (deleted there, or on
  // a card that is away for now), but never claims memory out of proportion
  // to what the device lists.
  static constexpr std::int64_t kLibraryMargin = 50'000;

  // The longest modified time a mark keeps. The device writes 20 to 25
  // characters ("2024-05-01T14:03:59+02:00"); a longer one can never match
  // and would only cost memory.
  static constexpr std::size_t kMaxModifiedLength = 64;

  // allowedTotal returns the largest total an operation may announce when
  // the library lists `libraryCount` assets (unknown: the fixed ceiling).
  static std::int64_t allowedTotal(std::optional<std::int64_t> libraryCount);

  // validItem tells whether a mark is within the caps: a valid id and a
  // modified time of 1 to kMaxModifiedLength characters.
  static bool validItem(const std::string& asset, const std::string& modified);

  // Loads `file`, streaming it so that it is never held whole beside the
  // marks. A missing, unreadable or malformed file gives no marks and no
  // error; the next change rewrites it. Marks beyond the caps are dropped:
  // a laptop past kMaxTotal loses all its marks, an item out of bounds only
  // itself.
  explicit SafeMarks(std::string file);

  SafeMarks(const SafeMarks&) = delete;
  SafeMarks& operator=(const SafeMarks&) = delete;

  // receive adds one request's items to the laptop's operation `op` and
  // returns true when that completed it: the laptop's marks are then the
  // operation's items, replacing the earlier ones. A new operation id drops
  // the items of the one under way; for the same id, the total of its first
  // request holds. A failed write keeps the change in memory; the next
  // change tries again. The caller checks the caps (allowedTotal,
  // validItem); items beyond them are dropped here all the same.
  bool receive(const std::string& laptop, const std::vector<Item>& items, const std::string& op, std::int64_t total);

  // ids returns every asset id that any laptop holds a mark for.
  std::set<std::string> ids() const;

  // laptops returns, in ascending order, the ids of the laptops whose marks
  // hold `asset` with exactly this modified time.
  std::vector<std::string> laptops(const std::string& asset, const std::string& modified) const;

  // forget drops the laptop's operation under way and its marks; without
  // marks nothing is written and onChange is not called. False when the
  // file could not be written: the marks are gone for this run only.
  [[nodiscard]] bool forget(const std::string& laptop);

  // setOnChange is called once, before the store is shared; the callback
  // runs on the thread that made a change, after every change of the marks.
  void setOnChange(std::function<void()> onChange);

 private:
  struct Waiting {
    std::map<std::string, std::string> items;
    std::string op;
    std::int64_t total = 0;
  };

  // write stores every laptop's marks; false when the file cannot be
  // written. Marks received then live for this run only: a photo counts as
  // held in fewer places after a restart, never in more.
  bool write() const REQUIRES(mutex_);

  const std::string file_;
  mutable Mutex mutex_;
  std::map<std::string, std::map<std::string, std::string>> used_ GUARDED_BY(mutex_);
  std::map<std::string, Waiting> waiting_ GUARDED_BY(mutex_);
  std::function<void()> onChange_;
};

}  // namespace lumenvale
