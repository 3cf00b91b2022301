// What a copy folder (DEST) holds from the device, kept in
// DEST/.lumenvale/held.json: for each resource of each asset (by asset id
// and rid), where it lives under DEST, the asset version it came from and
// whether it was checked against the device's SHA-256. Partial downloads
// wait in DEST/.lumenvale/partial/ with the ETag they started under.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace lumenvale::laptop {

struct HeldFile {
  std::string path;      // relative to DEST, "2024/05/IMG_0001.JPG"
  std::string modified;  // the asset's version when it was copied
  std::string sha256;    // checked against the device's
  std::int64_t size = 0;
  bool verified = false;
  bool operator==(const HeldFile&) const = default;
};

namespace Naming {

// monthFolder is "YYYY/MM" from a listed time ("2024-05-17T10:00:00+02:00"),
// or "undated" when it does not start with a year and a month.
std::string monthFolder(std::string_view created);

// safeName makes a listed file name safe to create inside a folder: only
// its last path component, valid UTF-8 without control characters or
// bidirectional overrides (Text::isHidden), not hidden, not "." or
// "..", at most 200 bytes (cut on a character boundary), "file" when
// nothing is left.
std::string safeName(std::string_view name);

// place returns "folder/name", or with " (2)", " (3)", ... before the
// extension, the first that `taken` refuses.
std::string place(const std::string& folder, const std::string& name, const std::function<bool(const std::string&)>& taken);

}  // namespace Naming

class HeldFiles {
 public:
  // Loads DEST/.lumenvale/held.json; a missing file is an empty copy. A
  // broken one throws std::runtime_error rather than starting over on top
  // of what is there.
  explicit HeldFiles(std::string dest);

  // key names one resource: "<asset id>/<rid>".
  static std::string key(const std::string& asset, const std::string& rid) { return asset + "/" + rid; }

  std::map<std::string, HeldFile>& files() { return files_; }
  const std::map<std::string, HeldFile>& files() const { return files_; }
  // freed are the assets the device deleted at this laptop's request.
  std::set<std::string>& freed() { return freed_; }
  std::string& deviceId() { return deviceId_; }

  // assign gives the resource `key` its place under DEST, once: a later
  // call returns the same place.
  std::string assign(const std::string& key, const std::string& created, const std::string& name);

  // save writes the file atomically; throws std::runtime_error.
  void save() const;

  const std::string& dest() const { return dest_; }
  std::string stateFolder() const { return dest_ + "/.lumenvale"; }
  // partialPath is where the download of `key` waits while incomplete.
  std::string partialPath(const std::string& key) const;

 private:
  const std::string dest_;
  std::string deviceId_;
  std::map<std::string, HeldFile> files_;
  std::set<std::string> freed_;
  std::set<std::string> places_;  // every path given out
};

}  // namespace lumenvale::laptop
