// The persistent list of paired laptops: whole in memory, rewritten atomically
// to one JSON file (mode 0600) after every change; only token hashes are kept.
// Owned by the server's owner, shared by connection threads and the screens;
// one mutex guards the list, onChange runs after it is released. Names <= 100.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/clock.h"
#include "util/mutex.h"

namespace lumenvale {

// Laptop is one paired laptop, identified by `id`.
struct Laptop {
  std::string id;         // as the laptop sent it when pairing
  std::string name;       // at most Laptops::kMaxNameLength characters, valid UTF-8 without
                          // controls or bidirectional overrides (Text::isHidden); may be empty
  std::string tokenHash;  // SHA-256 of the bearer token, 64 lower-case hex digits
  double pairedAt = 0;    // milliseconds since 1970-01-01 00:00 UTC, fraction kept

  bool operator==(const Laptop&) const = default;
};

class Laptops {
 public:
  // Characters as a reader sees them (extended grapheme clusters), so that a
  // cut never splits an accent from its letter or an emoji sequence.
  static constexpr std::size_t kMaxNameLength = 100;

  // Loads `file`. A missing, unreadable or malformed file (any element that
  // is not an object with string "id", "name", "tokenHash" and number
  // "pairedAt") gives an empty list and is left as it is until the next
  // change rewrites it.
  explicit Laptops(std::string file);

  Laptops(const Laptops&) = delete;
  Laptops& operator=(const Laptops&) = delete;

  // all returns a copy of the list, newest pairedAt first; laptops paired
  // at the same instant keep the order in which they were added.
  std::vector<Laptop> all() const;

  // find returns the laptop whose bearer token this is, or nothing. An empty
  // token finds nothing. Every laptop is compared, in constant time, so the
  // time taken does not tell where a match was; should two share a hash,
  // the one added last wins.
  std::optional<Laptop> find(std::string_view token) const;

  // add records a newly paired laptop, replacing any earlier laptop with the
  // same id, and returns true once the file holds it. When the file cannot
  // be written (a full disk) nothing changes, in memory or on disk, and it
  // returns false: a token the device would forget at its next start must
  // not be handed out.
  bool add(const std::string& id, const std::string& name, const std::string& token, TimePoint now);

  // forget removes the laptop with this id: its token is refused from now
  // on, whatever the disk does. It returns false when the file could not
  // be written: a restart before the next write that succeeds would bring
  // the laptop back, which the owner must be told. An id that is not
  // stored changes nothing (no write, no onChange) and returns true.
  [[nodiscard]] bool forget(const std::string& id);

  // setOnChange sets the callback told of the new list (as all() would
  // give it) after every change, on the changing thread, with the lock
  // released, so it may call back into this store.
  void setOnChange(std::function<void(std::vector<Laptop>)> onChange);

  // tokenHash returns the SHA-256 of `token` as 64 lower-case hex digits:
  // the only form of a token that is ever stored.
  static std::string tokenHash(std::string_view token);

 private:
  // Both need mutex_ held. save returns whether the file was written.
  bool save() const REQUIRES(mutex_);
  std::vector<Laptop> sorted() const REQUIRES(mutex_);

  const std::string file_;
  mutable Mutex mutex_;
  std::vector<Laptop> laptops_ GUARDED_BY(mutex_);  // oldest first
  std::function<void(std::vector<Laptop>)> onChange_ GUARDED_BY(mutex_);
};

}  // namespace lumenvale
