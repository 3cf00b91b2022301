// Watches the library folders and their sub-folders with inotify and says,
// once a burst of changes has settled, that the catalog should be indexed
// again. One thread of its own reads the events and calls `changed`; the
// object may be destroyed from any other thread. Watches are capped by the
// system (fs.inotify.max_user_watches): past that, the folders watched so far
// stay watched and description() says what is not. A library folder that is
// not there (not made yet, renamed away, deleted, its disk unmounted) is
// waited for: the nearest folder above it that exists is watched for its
// return, and the mount table for disks coming and going.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "util/mutex.h"

namespace lumenvale {

class LibraryWatcher {
 public:
  struct Timing {
    // settle is how long the folders must stay quiet after a change before
    // `changed` is called: a copy of a hundred photos is one index, not a
    // hundred.
    std::chrono::milliseconds settle{500};
    // longest is how long after the first change of a burst `changed` is
    // called at the latest, so a folder that never falls quiet (a camera
    // import) is still indexed now and then.
    std::chrono::milliseconds longest{5000};
  };

  // Watches `folders` (hidden sub-folders left out, symbolic links to
  // folders followed, as the catalog lists them) from now on, before it
  // returns, and calls `changed` on its own thread after each settled burst
  // of changes to library files or folders, after the kernel dropped events
  // (its queue overflowed), when only a full index can tell what changed,
  // and after a library folder went away or came back (renamed, deleted,
  // made, a disk unmounted or mounted on or above it). `changed` runs one
  // call at a time; events meanwhile make the next burst. Never throws for
  // the file system: see description().
  LibraryWatcher(std::vector<std::string> folders, std::function<void()> changed);
  LibraryWatcher(std::vector<std::string> folders, std::function<void()> changed, Timing timing);

  // Stops the thread, waiting for a `changed` call in progress to return;
  // so never from within `changed`.
  ~LibraryWatcher();
  LibraryWatcher(const LibraryWatcher&) = delete;
  LibraryWatcher& operator=(const LibraryWatcher&) = delete;

  // description returns what is not watched and why ("inotify cannot be
  // used: ...", "the system's limit of inotify watches is reached: 8192
  // folders watched, 17 not"), or an empty text when every folder that can
  // be read is watched. Safe from any thread.
  std::string description() const;

 private:
  void run();
  // watchTree adds watches to `top` and every sub-folder of it not yet in
  // `listed` (the watch descriptors met so far in this walk); a folder met
  // again through a link is not walked twice. It says what became of `top`
  // itself.
  enum class Top { watched, missing, unwatchable };
  Top watchTree(const std::string& top, std::unordered_set<int>& listed);
  // rewatchAll walks every library folder again, adding what is missing and
  // dropping watches on folders that have left the library, and watches the
  // folders above each library folder (see watchAbove). It says whether the
  // folders watched in the library changed, so a mount elsewhere on the
  // system costs a walk but no index.
  bool rewatchAll();
  // watchAbove watches the folders above every library folder: all of them
  // for being moved or deleted, and the nearest one that exists, when a
  // library folder is not there, for the arrival of the next name on the
  // way to it. `tops` says what watchTree made of each library folder;
  // fills `listed` with the descriptors. It says whether every missing
  // library folder is still missing once its watch is in place: one that
  // came meanwhile, even before this call, needs another walk, as no event
  // will tell.
  bool watchAbove(const std::vector<Top>& tops, std::unordered_set<int>& listed);
  void unwatchTree(const std::string& top);
  enum class Events { none, relevant, failed };
  // readEvents drains the inotify queue and says whether any event asks for
  // an index; `failed` (with the description set) ends the thread.
  Events readEvents();
  void describeWatches();
  void setDescription(std::string description);

  // Made absolute, so that the folders above them are known.
  const std::vector<std::string> folders_;
  const std::function<void()> changed_;
  const Timing timing_;
  int inotify_ = -1;
  int wake_ = -1;  // an eventfd: written once by the destructor
  // /proc/thread-self/mountinfo, which polls as POLLPRI whenever a file
  // system is mounted or unmounted: no inotify event tells that.
  int mounts_ = -1;
  // Watch descriptor -> folder path. Used by the constructor, then by the
  // thread alone.
  std::unordered_map<int, std::string> watched_;
  // As watched_, for folders above the library folders: the names whose
  // arrival there may bring a missing library folder back, none for a
  // folder only watched for moving away. A folder both above one library
  // folder and inside another is in both maps.
  std::unordered_map<int, std::unordered_set<std::string>> above_;
  // As watched_: folders refused for the watch limit (ENOSPC) since the
  // last full walk, and the last other refusal.
  std::size_t unwatchedForLimit_ = 0;
  std::string watchFailure_;
  std::string mountsFailure_;  // set by the constructor
  std::thread thread_;

  mutable Mutex mutex_;
  std::string description_ GUARDED_BY(mutex_);
};

}  // namespace lumenvale
