#include "safety/safe_marks.h"

#include <nlohmann/json.hpp>

#include "util/atomic_file.h"

namespace lumenvale {

SafeMarks::SafeMarks(std::string file) : file_(std::move(file)) {
  const std::optional<std::string> stored = AtomicFile::read(file_);
  if (!stored) return;
  const nlohmann::json parsed = nlohmann::json::parse(*stored, nullptr, false);
  if (!parsed.is_object()) return;
  std::map<std::string, std::map<std::string, std::string>> loaded;
  for (const auto& [laptop, marks] : parsed.items()) {
    if (!marks.is_object()) return;
    std::map<std::string, std::string>& into = loaded[laptop];
    for (const auto& [asset, modified] : marks.items()) {
      if (!modified.is_string()) return;
      into[asset] = modified.get<std::string>();
    }
  }
  used_ = std::move(loaded);
}

bool SafeMarks::receive(const std::string& laptop, const std::vector<Item>& items, const std::string& op,
                        std::int64_t total) {
  {
    std::lock_guard hold(mutex_);
    auto found = waiting_.find(laptop);
    if (found == waiting_.end() || found->second.op != op) {
      found = waiting_.insert_or_assign(laptop, Waiting{{}, op, total}).first;
    }
    Waiting& operation = found->second;
    for (const auto& [asset, modified] : items) operation.items[asset] = modified;
    if (static_cast<std::int64_t>(operation.items.size()) < operation.total) return false;
    used_[laptop] = std::move(operation.items);
    waiting_.erase(found);
    write();
  }
  if (onChange_) onChange_();
  return true;
}

std::set<std::string> SafeMarks::ids() const {
  std::lock_guard hold(mutex_);
  std::set<std::string> all;
  for (const auto& [laptop, marks] : used_) {
    for (const auto& [asset, modified] : marks) all.insert(asset);
  }
  return all;
}

std::vector<std::string> SafeMarks::laptops(const std::string& asset, const std::string& modified) const {
  std::lock_guard hold(mutex_);
  std::vector<std::string> holding;  // in key order, which is ascending
  for (const auto& [laptop, marks] : used_) {
    const auto found = marks.find(asset);
    if (found != marks.end() && found->second == modified) holding.push_back(laptop);
  }
  return holding;
}

void SafeMarks::forget(const std::string& laptop) {
  {
    std::lock_guard hold(mutex_);
    waiting_.erase(laptop);
    if (used_.erase(laptop) == 0) return;
    write();
  }
  if (onChange_) onChange_();
}

void SafeMarks::setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

void SafeMarks::write() const {
  nlohmann::json all = nlohmann::json::object();
  for (const auto& [laptop, marks] : used_) all[laptop] = marks;
  // Ids and times arrived as JSON text, so they are valid UTF-8; replace
  // rather than throw should that ever not hold.
  AtomicFile::write(file_, all.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

}  // namespace lumenvale
