// The paired-laptops store: loading, hashing, lookup and atomic rewrites.
// Every list access holds mutex_; callbacks are called only after it is released.
#include "pairing/laptops.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include <nlohmann/json.hpp>

#include "util/atomic_file.h"
#include "util/bytes.h"
#include "util/crypto.h"
#include "util/text.h"

namespace lumenvale {
namespace {

using Json = nlohmann::json;

constexpr mode_t kFileMode = 0600;

// decode gives the whole list, or nothing when any part of the file is not
// what a write makes: a list that loaded only in part would lose the rest at
// the next write without anyone noticing.
std::optional<std::vector<Laptop>> decode(const std::string& text) {
  const Json document = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!document.is_array()) return std::nullopt;  // also a parse failure (discarded)
  std::vector<Laptop> laptops;
  laptops.reserve(document.size());
  for (const Json& element : document) {
    if (!element.is_object()) return std::nullopt;
    const auto id = element.find("id");
    const auto name = element.find("name");
    const auto tokenHash = element.find("tokenHash");
    const auto pairedAt = element.find("pairedAt");
    if (id == element.end() || !id->is_string() || name == element.end() || !name->is_string() ||
        tokenHash == element.end() || !tokenHash->is_string() || pairedAt == element.end() ||
        !pairedAt->is_number()) {
      return std::nullopt;
    }
    // Names stored before they were cleaned on pairing are cleaned here.
    laptops.push_back(Laptop{id->get<std::string>(), Text::withoutHidden(name->get_ref<const std::string&>()),
                             tokenHash->get<std::string>(), pairedAt->get<double>()});
  }
  return laptops;
}

std::string encode(const std::vector<Laptop>& laptops) {
  Json document = Json::array();
  for (const Laptop& laptop : laptops) {
    document.push_back({{"id", laptop.id},
                        {"name", laptop.name},
                        {"tokenHash", laptop.tokenHash},
                        {"pairedAt", laptop.pairedAt}});
  }
  // A name or id that is not valid UTF-8 is written with U+FFFD in place of
  // the bad bytes: refusing to encode it would stop every later write, and
  // the whole list would be lost at the next start.
  return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

Laptops::Laptops(std::string file) : file_(std::move(file)) {
  if (std::optional<std::string> text = AtomicFile::read(file_)) {
    if (std::optional<std::vector<Laptop>> laptops = decode(*text)) laptops_ = std::move(*laptops);
  }
}

std::vector<Laptop> Laptops::all() const {
  MutexLock lock(mutex_);
  return sorted();
}

std::optional<Laptop> Laptops::find(std::string_view token) const {
  // No laptop holds an empty token, whatever the file says.
  if (token.empty()) return std::nullopt;
  const std::string hash = tokenHash(token);
  MutexLock lock(mutex_);
  const Laptop* match = nullptr;
  for (const Laptop& laptop : laptops_) {
    if (Bytes::equal(hash, laptop.tokenHash)) match = &laptop;
  }
  if (match == nullptr) return std::nullopt;
  return *match;
}

bool Laptops::add(const std::string& id, const std::string& name, const std::string& token,
                  TimePoint now) {
  // The name is shown to the owner, on screens, in the journal and beside
  // the delete question: a control character in it could rewrite the
  // terminal line the owner answers, a bidirectional override reorder it.
  Laptop laptop{id, Text::graphemePrefix(Text::withoutHidden(name), kMaxNameLength), tokenHash(token),
                millisSince1970(now)};
  std::vector<Laptop> changed;
  std::function<void(std::vector<Laptop>)> onChange;
  {
    MutexLock lock(mutex_);
    std::vector<Laptop> before = laptops_;
    std::erase_if(laptops_, [&](const Laptop& stored) { return stored.id == id; });
    laptops_.push_back(std::move(laptop));
    if (!save()) {
      laptops_ = std::move(before);
      return false;
    }
    changed = sorted();
    onChange = onChange_;
  }
  if (onChange) onChange(std::move(changed));
  return true;
}

bool Laptops::forget(const std::string& id) {
  std::vector<Laptop> changed;
  std::function<void(std::vector<Laptop>)> onChange;
  bool saved = false;
  {
    MutexLock lock(mutex_);
    if (std::erase_if(laptops_, [&](const Laptop& stored) { return stored.id == id; }) == 0) return true;
    saved = save();
    changed = sorted();
    onChange = onChange_;
  }
  if (onChange) onChange(std::move(changed));
  return saved;
}

void Laptops::setOnChange(std::function<void(std::vector<Laptop>)> onChange) {
  MutexLock lock(mutex_);
  onChange_ = std::move(onChange);
}

std::string Laptops::tokenHash(std::string_view token) {
  return Bytes::hex(Crypto::sha256(token));
}

bool Laptops::save() const {
  // Written under the lock so that writes never interleave and the file
  // always holds one whole list. After a failed forget the list in memory
  // is the truth, and the next change writes all of it.
  return AtomicFile::write(file_, encode(laptops_), kFileMode);
}

std::vector<Laptop> Laptops::sorted() const {
  std::vector<Laptop> copy = laptops_;
  std::stable_sort(copy.begin(), copy.end(),
                   [](const Laptop& a, const Laptop& b) { return a.pairedAt > b.pairedAt; });
  return copy;
}

}  // namespace lumenvale
