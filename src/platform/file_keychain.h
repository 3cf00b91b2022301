// The keychain on Linux: one file per item in <data>/keychain/ (folder 0700,
// files 0600, written atomically so a crash leaves the old item or the new).
// Used by the start-up thread only; a second process on the same folder is
// not guarded against.
#pragma once

#include <string>
#include <string_view>

#include "pairing/keychain.h"

namespace lumenvale {

class FileKeychain : public Keychain {
 public:
  // The folder is `dataFolder`/keychain, made when the first item is added.
  explicit FileKeychain(const std::string& dataFolder);

  int add(Item item, std::string_view data) override;
  int copyMatching(Item item, std::string& data) override;
  int remove(Item item) override;

  // path returns the file that holds `item`.
  std::string path(Item item) const;

 private:
  std::string folder_;
};

}  // namespace lumenvale
