// The device side that both front ends drive: the data folder, the owner's
// settings, the folder library, the advertiser and the hub over them, made
// from the command line. Made and destroyed on the main thread; the hub
// runs on `main`.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/folder_library.h"
#include "hub/hub.h"
#include "platform/avahi_advertiser.h"
#include "platform/settings.h"
#include "util/failure.h"

namespace lumenvale {

class DeviceSide {
 public:
  class Failure : public DescribedFailure {
   public:
    using DescribedFailure::DescribedFailure;
  };

  // The library folders: those given with --library, else the ones the
  // owner chose in the app ("libraryFolders"), else, when `pictures` is
  // set, the owner's pictures folder.
  static std::vector<std::string> folders(const Options& options, const Settings& settings, bool pictures);

  // lockPath returns the file a running device holds locked in `data`.
  static std::string lockPath(const std::string& data);
  // running says whether a device is running on the data folder `data`.
  static bool running(const std::string& data);

  // open makes everything but does not start the server (the hub's start()
  // does). `keepAwake` is told whether a laptop is present. Throws Failure,
  // also when another device runs on the same data folder: two would share
  // one identity and each keep its own list of paired laptops.
  DeviceSide(const Options& options, MainQueue& main, FolderLibrary::Say say, bool pictures,
             std::function<void(bool)> keepAwake = {});
  // Stops the hub: no connection thread outlives it.
  ~DeviceSide();
  DeviceSide(const DeviceSide&) = delete;
  DeviceSide& operator=(const DeviceSide&) = delete;

  Hub& hub() { return *hub_; }
  std::shared_ptr<Hub> sharedHub() { return hub_; }
  FolderLibrary& library() { return *library_; }
  Settings& settings() { return settings_; }
  // name is the device's name for laptops (--name, else the host's).
  const std::string& name() const { return name_; }
  // choose serves `folder` (added to the others when `more`, else alone)
  // and keeps the choice for the next start; false when it cannot be kept.
  bool choose(const std::string& folder, bool more);
  // remove stops serving `folder` and keeps that for the next start. The
  // library never drops its last folder (with none it would look as if the
  // owner had never chosen one): false then, when `folder` is not served,
  // or when the choice cannot be kept.
  bool remove(const std::string& folder);

 private:
  // Locked (flock) for the object's life; closed last, after the hub.
  struct DataLock {
    int fd = -1;
    ~DataLock();
  } lock_;
  Settings settings_;
  std::unique_ptr<FolderLibrary> library_;
  AvahiAdvertiser advertiser_;
  std::shared_ptr<Hub> hub_;
  std::string name_;
  bool fixedFolders_;  // --library was given: the folders are the command line's
};

}  // namespace lumenvale
