// The owner's choices the hub reads and keeps between runs ("allowDelete",
// "theme", "welcomed"), as the hub needs them: the device's settings file
// is one (platform/settings.h), a test may keep them in memory.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace lumenvale {

class OwnerSettings {
 public:
  virtual ~OwnerSettings() = default;
  // get returns the stored value of `key`, or nothing when it is unset or
  // cannot be read.
  virtual std::optional<nlohmann::json> get(const std::string& key) const = 0;
  // set stores `value` under `key`; false when it could not be kept (the
  // stored choices are then as they were).
  virtual bool set(const std::string& key, const nlohmann::json& value) = 0;
  // allowDelete: whether a laptop may ask to delete; false unless set true.
  virtual bool allowDelete() const = 0;
};

}  // namespace lumenvale
