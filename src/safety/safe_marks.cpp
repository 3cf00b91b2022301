#include "safety/safe_marks.h"

#include <algorithm>
#include <fstream>

#include <nlohmann/json.hpp>

#include "util/atomic_file.h"
#include "util/identifiers.h"

namespace lumenvale {

namespace {

// Reads the marks file as it streams in, straight into the marks, so that a
// large file never stands in memory beside a parsed copy of itself and the
// marks made from it. Any shape but {laptop: {asset: "modified"}} fails the
// whole read.
class MarksReader : public nlohmann::json_sax<nlohmann::json> {
 public:
  using Marks = std::map<std::string, std::map<std::string, std::string>>;

  Marks marks;

  bool null() override { return false; }
  bool boolean(bool) override { return false; }
  bool number_integer(number_integer_t) override { return false; }
  bool number_unsigned(number_unsigned_t) override { return false; }
  bool number_float(number_float_t, const string_t&) override { return false; }
  bool binary(binary_t&) override { return false; }
  bool start_array(std::size_t) override { return false; }
  bool end_array() override { return false; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

  bool start_object(std::size_t) override {
    if (depth_ == 1 && !laptop_) return false;  // an object where a laptop's name should have led to one
    if (depth_ >= 2) return false;
    ++depth_;
    return true;
  }

  bool key(string_t& key) override {
    if (depth_ == 1) {
      laptop_ = &marks[key];
      over_ = false;
    } else {
      asset_ = std::move(key);
    }
    return true;
  }

  bool string(string_t& modified) override {
    if (depth_ != 2) return false;
    if (over_ || !SafeMarks::validItem(asset_, modified)) return true;
    (*laptop_)[asset_] = std::move(modified);
    if (static_cast<std::int64_t>(laptop_->size()) > SafeMarks::kMaxTotal) {
      // More than a laptop can send: the file was not written by this
      // device, and this laptop's marks are not to be trusted.
      laptop_->clear();
      over_ = true;
    }
    return true;
  }

  bool end_object() override {
    --depth_;
    if (depth_ == 1) laptop_ = nullptr;
    return true;
  }

 private:
  int depth_ = 0;
  std::map<std::string, std::string>* laptop_ = nullptr;
  std::string asset_;
  bool over_ = false;
};

}  // namespace

std::int64_t SafeMarks::allowedTotal(std::optional<std::int64_t> libraryCount) {
  if (!libraryCount) return kMaxTotal;
  return std::min(kMaxTotal, std::max<std::int64_t>(*libraryCount, 0) + kLibraryMargin);
}

bool SafeMarks::validItem(const std::string& asset, const std::string& modified) {
  return Identifiers::validId(asset) && !modified.empty() && modified.size() <= kMaxModifiedLength;
}

SafeMarks::SafeMarks(std::string file) : file_(std::move(file)) {
  std::ifstream stored(file_, std::ios::binary);
  if (!stored) return;
  MarksReader reader;
  try {
    if (!nlohmann::json::sax_parse(stored, &reader)) return;
  } catch (const std::exception&) {
    return;  // a read error, or a folder in the file's place
  }
  used_ = std::move(reader.marks);
}

bool SafeMarks::receive(const std::string& laptop, const std::vector<Item>& items, const std::string& op,
                        std::int64_t total) {
  {
    MutexLock hold(mutex_);
    auto found = waiting_.find(laptop);
    if (found == waiting_.end() || found->second.op != op) {
      found = waiting_.insert_or_assign(laptop, Waiting{{}, op, total}).first;
    }
    Waiting& operation = found->second;
    for (const auto& [asset, modified] : items) {
      if (!validItem(asset, modified)) continue;
      if (static_cast<std::int64_t>(operation.items.size()) >= kMaxTotal) break;
      operation.items[asset] = modified;
    }
    if (static_cast<std::int64_t>(operation.items.size()) < operation.total) return false;
    used_[laptop] = std::move(operation.items);
    waiting_.erase(found);
    // Kept for this run even when not written: see write().
    (void)write();
  }
  if (onChange_) onChange_();
  return true;
}

std::set<std::string> SafeMarks::ids() const {
  MutexLock hold(mutex_);
  std::set<std::string> all;
  for (const auto& [laptop, marks] : used_) {
    for (const auto& [asset, modified] : marks) all.insert(asset);
  }
  return all;
}

std::vector<std::string> SafeMarks::laptops(const std::string& asset, const std::string& modified) const {
  MutexLock hold(mutex_);
  std::vector<std::string> holding;  // in key order, which is ascending
  for (const auto& [laptop, marks] : used_) {
    const auto found = marks.find(asset);
    if (found != marks.end() && found->second == modified) holding.push_back(laptop);
  }
  return holding;
}

bool SafeMarks::forget(const std::string& laptop) {
  bool written = false;
  {
    MutexLock hold(mutex_);
    waiting_.erase(laptop);
    if (used_.erase(laptop) == 0) return true;
    written = write();
  }
  if (onChange_) onChange_();
  return written;
}

void SafeMarks::setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

bool SafeMarks::write() const {
  nlohmann::json all = nlohmann::json::object();
  for (const auto& [laptop, marks] : used_) all[laptop] = marks;
  // Ids and times arrived as JSON text, so they are valid UTF-8; replace
  // rather than throw should that ever not hold.
  return AtomicFile::write(file_, all.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

}  // namespace lumenvale
