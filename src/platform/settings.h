// The owner's settings: one small JSON object in settings.json, rewritten
// atomically (mode 0600) on every change and read afresh on every get, so a
// change made from the command line while the device runs takes effect at
// the next request. Known keys: "allowDelete" (Boolean, false when unset),
// "theme" ("system", "light" or "dark") and "welcomed" (Boolean).
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "hub/owner_settings.h"
#include "util/mutex.h"

namespace lumenvale {

class Settings : public OwnerSettings {
 public:
  // path returns settings.json in `dataFolder` when one was given on the
  // command line, else in the owner's configuration folder.
  static std::string path(const std::optional<std::string>& dataFolder);

  explicit Settings(std::string file);

  // get returns the stored value of `key`, or nothing when it is unset or
  // the file cannot be read.
  std::optional<nlohmann::json> get(const std::string& key) const override;

  // set stores `value` under `key`, keeping the other keys; false when the
  // file could not be written (it is then as it was).
  bool set(const std::string& key, const nlohmann::json& value) override;

  // allowDelete: whether a laptop may ask to delete; false unless set true.
  bool allowDelete() const override;

  // valueFor reads a value typed on the command line for a key the owner
  // may set there ("allowDelete": true or false; "theme": system, light or
  // dark), or nothing when the key or the value is not one of those.
  static std::optional<nlohmann::json> valueFor(const std::string& key, const std::string& text);

  // defaultFor returns what an unset known key means, or nothing for a key
  // that is not known.
  static std::optional<nlohmann::json> defaultFor(const std::string& key);

 private:
  nlohmann::json load() const;  // the stored object, or an empty one

  const std::string file_;
  Mutex mutex_;  // one change at a time from this process
};

}  // namespace lumenvale
