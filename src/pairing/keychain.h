// The platform keychain as the device identity uses it: add, copy and delete
// of its three items, answering the platform's status codes. Implemented in
// platform/ (a folder of files) and in memory for tests. Used by one thread
// at a time, the start-up; items are small (a few kilobytes).
#pragma once

#include <string>
#include <string_view>

namespace lumenvale {

class Keychain {
 public:
  // The statuses the identity code tells apart; any other value is an
  // implementation's own failure (kIoError for the file keychain).
  static constexpr int kSuccess = 0;
  static constexpr int kDuplicateItem = -25299;
  static constexpr int kItemNotFound = -25300;
  static constexpr int kIoError = -36;

  // The items this system keeps. The keychain belongs to this one app, so
  // each item is named by what it is: there are no other apps' items to
  // tell apart by service, tag or label.
  enum class Item {
    deviceId,     // the device id as UTF-8 text
    privateKey,   // the P-256 private key in the key services' stored form (PEM)
    certificate,  // the self-signed certificate in DER
  };

  virtual ~Keychain() = default;

  // add stores `data` as `item`: kSuccess, kDuplicateItem when the item is
  // already there (it is never replaced), or another non-zero status.
  virtual int add(Item item, std::string_view data) = 0;

  // copyMatching puts the content of `item` in `data`: kSuccess,
  // kItemNotFound, or another non-zero status (then `data` is unchanged).
  virtual int copyMatching(Item item, std::string& data) = 0;

  // remove deletes `item`: kSuccess, kItemNotFound, or another status.
  virtual int remove(Item item) = 0;
};

}  // namespace lumenvale
