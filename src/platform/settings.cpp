#include "platform/settings.h"

#include <filesystem>

#include "platform/device.h"
#include "util/atomic_file.h"

namespace lumenvale {

std::string Settings::path(const std::optional<std::string>& dataFolder) {
  return (dataFolder ? *dataFolder : Device::configFolder()) + "/settings.json";
}

Settings::Settings(std::string file) : file_(std::move(file)) {}

nlohmann::json Settings::load() const {
  const std::optional<std::string> text = AtomicFile::read(file_);
  if (!text) return nlohmann::json::object();
  nlohmann::json stored = nlohmann::json::parse(*text, nullptr, false);
  return stored.is_object() ? stored : nlohmann::json::object();
}

std::optional<nlohmann::json> Settings::get(const std::string& key) const {
  const nlohmann::json stored = load();
  const auto found = stored.find(key);
  if (found == stored.end()) return std::nullopt;
  return *found;
}

bool Settings::set(const std::string& key, const nlohmann::json& value) {
  MutexLock hold(mutex_);
  nlohmann::json stored = load();
  stored[key] = value;
  const std::string folder = std::filesystem::path(file_).parent_path().string();
  if (!folder.empty() && !AtomicFile::makeDirectories(folder, 0700)) return false;
  return AtomicFile::write(file_, stored.dump(2) + "\n");
}

bool Settings::allowDelete() const {
  const std::optional<nlohmann::json> value = get("allowDelete");
  return value && value->is_boolean() && value->get<bool>();
}

std::optional<nlohmann::json> Settings::valueFor(const std::string& key, const std::string& text) {
  if (key == "allowDelete" && (text == "true" || text == "false")) return text == "true";
  if (key == "theme" && (text == "system" || text == "light" || text == "dark")) return text;
  return std::nullopt;
}

std::optional<nlohmann::json> Settings::defaultFor(const std::string& key) {
  if (key == "allowDelete" || key == "welcomed") return false;
  if (key == "theme") return "system";
  return std::nullopt;
}

}  // namespace lumenvale
