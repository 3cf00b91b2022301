// What a copy folder (DEST) holds from the device, kept in
// DEST/.lumenvale/held.json: for each resource of each asset (by asset id
// and rid), where it lives under DEST, the asset version it came from,
// whether it was checked against the device's SHA-256, and the file's stamp
// (size, modification time, inode) when it was last hashed. A record says
// what was true once; before the laptop claims a copy to the device it
// checks the file again (`HeldFiles::check`). Partial downloads wait in
// DEST/.lumenvale/partial/ with the ETag they started under.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace lumenvale::laptop {

// Stamp is what tells, without reading it, that a file is still the one
// that was hashed: a copy edited, replaced or restored changes at least one
// of these, even when its modification time is put back (the change time
// cannot be).
struct Stamp {
  std::int64_t size = 0;
  std::int64_t modifiedNs = 0;  // nanoseconds since the epoch
  std::int64_t changedNs = 0;   // the inode's change time
  std::uint64_t inode = 0;
  bool operator==(const Stamp&) const = default;
};

// stampOf is the stamp of the regular file at `path` (a link is not
// followed), or nothing when there is none.
std::optional<Stamp> stampOf(const std::string& path);

// hashFile is the SHA-256 of the regular file at `path` in lower-case hex,
// read in pieces without following a link; nothing when it cannot be read.
std::optional<std::string> hashFile(const std::string& path);

// sameVersion says whether two of the device's version texts name the same
// instant: the device writes them in its own time zone, which may change.
bool sameVersion(const std::string& a, const std::string& b);

struct HeldFile {
  std::string path;      // relative to DEST, "2024/05/IMG_0001.JPG"
  std::string modified;  // the asset's version when it was copied
  std::string sha256;    // checked against the device's
  std::int64_t size = 0;
  bool verified = false;
  std::optional<Stamp> stamp;  // when the copy was last hashed; older records have none
  bool operator==(const HeldFile&) const = default;
};

// What a check finds of a verified copy.
enum class CopyState {
  kIntact,   // the bytes are the ones the device's checksum confirmed
  kChanged,  // the file is there with other bytes
  kMissing,  // nothing (or no regular file) is at its place
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
std::string place(const std::string& folder, const std::string& name,
                  const std::function<bool(const std::string&)>& taken);

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
  // naturalPlace is where `assign` would put a resource in an empty copy.
  static std::string naturalPlace(const std::string& created, const std::string& name);
  // adopt makes the file at `path` the copy of `key`: it takes the place,
  // and the record, of `from` (a resource the device no longer lists under
  // that id), whose own record goes; without `from` only the place.
  void adopt(const std::string& key, const std::string& path, const std::optional<std::string>& from);
  // holderOf is the key whose record has `path`, or nothing.
  std::optional<std::string> holderOf(const std::string& path) const;

  // How thoroughly `check` looks at a copy.
  enum class Look {
    kStamp,  // hash again only when the stamp is not the one recorded
    kHash,   // always hash again
  };
  // check tells what DEST holds of the verified record `key` now. A hash
  // that confirms the record renews its stamp.
  CopyState check(const std::string& key, Look look);
  // examine is `check` of a record held elsewhere: what it finds, and the
  // stamp to keep when the copy is intact.
  struct Examined {
    CopyState state = CopyState::kMissing;
    std::optional<Stamp> stamp;
  };
  static Examined examine(const std::string& dest, const HeldFile& file, Look look);

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
