#include "platform/folder/library_watcher.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string_view>
#include <utility>

#include "platform/folder/folder_grouping.h"
#include "util/failure.h"
#include "util/text.h"

namespace lumenvale {
namespace {

using SteadyClock = std::chrono::steady_clock;

// What the catalog cares about in a folder: entries coming, going, renamed
// and files finished writing. IN_MODIFY is left out on purpose: a photo
// being copied in would wake us for every block; IN_CLOSE_WRITE comes once.
// IN_ATTRIB tells a folder made readable again, and a file touched or
// given other permissions (its modification time alone changed comes as
// IN_MODIFY, and goes unheard).
constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                        IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// What matters in a folder above the library: its own path changing, which
// takes the library folders below along. Its entries come and go unheard.
constexpr std::uint32_t kAboveEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// Added in the nearest folder that is there above a missing library folder:
// the next folder on the way being made, moved in or made readable.
constexpr std::uint32_t kAwaitEvents = IN_CREATE | IN_MOVED_TO | IN_ATTRIB;

// The kernel removes a watch (IN_IGNORED) after these.
constexpr std::uint32_t kGoneEvents = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

// A walk that finds a missing folder arrived while it placed the watch that
// waits for it walks again, so many times at most; a folder made deeper
// each time is then left to the next event.
constexpr int kWalkRounds = 8;

// Room for many events per read(); each is at most
// sizeof(inotify_event) + NAME_MAX + 1 bytes.
constexpr std::size_t kEventBufferBytes = 64 * 1024;

// isLibraryName says whether an entry of this name can change the catalog:
// the catalog skips hidden entries and files of other types, so a text
// editor's swap file or a download's ".part" does not wake an index.
bool isLibraryName(std::string_view name, bool folder) {
  if (name.empty() || name[0] == '.') return false;
  return folder || FolderGrouping::isLibraryName(name);
}

bool isInside(const std::string& path, const std::string& top) {
  return path == top || (top == "/" && !path.empty() && path[0] == '/') ||
         (path.size() > top.size() && path.compare(0, top.size(), top) == 0 && path[top.size()] == '/');
}

// absoluteFolders makes each folder absolute, so the folders above it are
// known whatever the working folder. ".." is kept as given: above a link
// it means what the kernel says, not what the text suggests.
std::vector<std::string> absoluteFolders(std::vector<std::string> folders) {
  for (std::string& folder : folders) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    if (!error) folder = absolute.string();
    folder = Text::withoutTrailingSlashes(std::move(folder));
  }
  return folders;
}

// parentOf gives the folder above an absolute path ("/" above "/a").
std::string parentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return Text::withoutTrailingSlashes(path.substr(0, slash));
}

std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// isOpenFolder says whether `path` is a folder that can be listed, which is
// also what a watch on it needs.
bool isOpenFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && access(path.c_str(), R_OK | X_OK) == 0;
}

struct CloseDirectory {
  void operator()(DIR* directory) const { closedir(directory); }
};

}  // namespace

LibraryWatcher::LibraryWatcher(std::vector<std::string> folders, std::function<void()> changed)
    : LibraryWatcher(std::move(folders), std::move(changed), Timing{}) {}

LibraryWatcher::LibraryWatcher(std::vector<std::string> folders, std::function<void()> changed, Timing timing)
    : folders_(absoluteFolders(std::move(folders))), changed_(std::move(changed)), timing_(timing) {
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_ < 0) {
    // EMFILE: the system's limit of inotify instances per user.
    setDescription("inotify cannot be used: " + errnoText(errno));
    return;
  }
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_ < 0) {
    setDescription("the library watcher cannot start: " + errnoText(errno));
    close(inotify_);
    inotify_ = -1;
    return;
  }
  // The calling thread's mount namespace, which the watcher's thread
  // shares; /proc/self would be the main thread's.
  mounts_ = open("/proc/thread-self/mountinfo", O_RDONLY | O_CLOEXEC);
  if (mounts_ < 0) mounts_ = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  if (mounts_ < 0) mountsFailure_ = "disks mounted or unmounted go unnoticed: " + errnoText(errno);
  rewatchAll();
  thread_ = std::thread([this] { run(); });
}

LibraryWatcher::~LibraryWatcher() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    // An eventfd write only fails when its counter would overflow, which
    // one write cannot do; were it to fail anyway, joining would hang.
    if (write(wake_, &one, sizeof one) == static_cast<ssize_t>(sizeof one)) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }
  if (wake_ >= 0) close(wake_);
  if (mounts_ >= 0) close(mounts_);
  if (inotify_ >= 0) close(inotify_);  // drops every watch with it
}

std::string LibraryWatcher::description() const {
  MutexLock hold(mutex_);
  return description_;
}

void LibraryWatcher::setDescription(std::string description) {
  MutexLock hold(mutex_);
  description_ = std::move(description);
}

LibraryWatcher::Top LibraryWatcher::watchTree(const std::string& top, std::unordered_set<int>& listed) {
  Top topWatch = Top::unwatchable;
  std::vector<std::string> pending{top};
  while (!pending.empty()) {
    std::string folder = std::move(pending.back());
    pending.pop_back();
    const int watch = inotify_add_watch(inotify_, folder.c_str(), kFolderEvents);
    if (watch < 0) {
      // Not there, or not to be listed yet: waited for from above.
      if (folder == top && (errno == ENOENT || errno == ENOTDIR || errno == EACCES)) topWatch = Top::missing;
      if (errno == ENOSPC) {
        ++unwatchedForLimit_;
      } else if (errno != ENOENT && errno != ENOTDIR && errno != EACCES) {
        // Gone meanwhile, not a folder, or unreadable (which the catalog
        // reports as such) need no word here; anything else does.
        watchFailure_ = "cannot watch " + folder + ": " + errnoText(errno);
      }
      continue;
    }
    if (folder == top) topWatch = Top::watched;
    // The same folder met again (a link, or a chosen folder inside another)
    // gives the same descriptor; its sub-folders are walked once.
    if (!listed.insert(watch).second) continue;
    watched_[watch] = folder;

    std::unique_ptr<DIR, CloseDirectory> directory(opendir(folder.c_str()));
    if (!directory) continue;  // the catalog reports it unreadable
    while (dirent* entry = readdir(directory.get())) {
      if (entry->d_name[0] == '.') continue;
      bool folderEntry = entry->d_type == DT_DIR;
      if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
        struct stat info {};
        folderEntry = fstatat(dirfd(directory.get()), entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
      }
      if (folderEntry) pending.push_back(folder + "/" + entry->d_name);
    }
    // A failed readdir leaves sub-folders unwatched; the catalog reports
    // such a folder unreadable and lists none of it either.
  }
  return topWatch;
}

bool LibraryWatcher::watchAbove(const std::vector<Top>& tops, std::unordered_set<int>& listed) {
  struct Wanted {
    std::uint32_t events = 0;
    std::unordered_set<std::string> awaited;
  };
  std::map<std::string, Wanted> wanted;
  std::vector<std::string> awaitedPaths;
  for (std::size_t i = 0; i < folders_.size(); ++i) {
    // One that is there but could not be watched (the watch limit) has
    // nothing to wait for. One that was missing is waited for even if it
    // is there by now: made after watchTree looked, it has no watch, and
    // only the check below tells that it must be walked again.
    bool waiting = tops[i] == Top::missing;
    for (std::string path = folders_[i]; path != "/";) {
      const std::string up = parentOf(path);
      Wanted& above = wanted[up];
      above.events |= kAboveEvents;
      if (waiting && isOpenFolder(up)) {
        above.events |= kAwaitEvents;
        above.awaited.insert(nameOf(path));
        awaitedPaths.push_back(path);
        waiting = false;
      }
      path = up;
    }
  }
  for (auto& [path, above] : wanted) {
    // A folder above one library folder and inside another keeps the
    // library's events, which include these.
    std::uint32_t events = above.events;
    for (std::size_t i = 0; i < folders_.size(); ++i) {
      if (tops[i] == Top::watched && isInside(path, folders_[i])) events |= IN_MASK_ADD;
    }
    const int watch = inotify_add_watch(inotify_, path.c_str(), events);
    // Unreadable or gone meanwhile: the walk that its change causes, or
    // the mount table, tells more.
    if (watch < 0) continue;
    listed.insert(watch);
    above_[watch].merge(above.awaited);
  }
  return std::none_of(awaitedPaths.begin(), awaitedPaths.end(), isOpenFolder);
}

bool LibraryWatcher::rewatchAll() {
  const std::unordered_map<int, std::string> before = watched_;
  const std::unordered_map<int, std::unordered_set<std::string>> aboveBefore = std::move(above_);
  above_.clear();
  std::unordered_set<int> listed;
  std::unordered_set<int> listedAbove;
  for (int round = 0; round < kWalkRounds; ++round) {
    unwatchedForLimit_ = 0;
    watchFailure_.clear();
    listed.clear();
    std::vector<Top> tops;
    for (const std::string& folder : folders_) tops.push_back(watchTree(folder, listed));
    if (watchAbove(tops, listedAbove)) break;
  }
  // Watches not met again belong to folders that left the library.
  for (auto it = watched_.begin(); it != watched_.end();) {
    if (listed.count(it->first) != 0) {
      ++it;
      continue;
    }
    if (listedAbove.count(it->first) == 0) inotify_rm_watch(inotify_, it->first);  // EINVAL: dropped already
    it = watched_.erase(it);
  }
  for (const auto& [watch, awaited] : aboveBefore) {
    if (listedAbove.count(watch) == 0 && listed.count(watch) == 0) inotify_rm_watch(inotify_, watch);
  }
  describeWatches();
  return watched_ != before;
}

void LibraryWatcher::describeWatches() {
  std::string text;
  if (unwatchedForLimit_ > 0) {
    text = "the system's limit of inotify watches is reached: " + std::to_string(watched_.size()) +
           " folders watched, " + std::to_string(unwatchedForLimit_) +
           " not (with their sub-folders); raise fs.inotify.max_user_watches";
  }
  if (!watchFailure_.empty()) text += (text.empty() ? "" : "; ") + watchFailure_;
  if (!mountsFailure_.empty()) text += (text.empty() ? "" : "; ") + mountsFailure_;
  setDescription(std::move(text));
}

void LibraryWatcher::unwatchTree(const std::string& top) {
  for (auto it = watched_.begin(); it != watched_.end();) {
    if (!isInside(it->second, top)) {
      ++it;
      continue;
    }
    // One also above another library folder still watches for that.
    if (above_.count(it->first) == 0) inotify_rm_watch(inotify_, it->first);  // EINVAL: dropped already
    it = watched_.erase(it);
  }
}

LibraryWatcher::Events LibraryWatcher::readEvents() {
  alignas(inotify_event) char buffer[kEventBufferBytes];
  bool relevant = false;
  bool overflowed = false;
  // A library folder itself, or a folder above it, went or came: only a
  // walk from the top tells which are there now.
  bool rewalk = false;
  for (;;) {
    const ssize_t length = read(inotify_, buffer, sizeof buffer);
    if (length < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) break;
      setDescription("stopped watching the library: " + errnoText(errno));
      return Events::failed;
    }
    for (ssize_t offset = 0; offset < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        overflowed = true;
        continue;
      }
      const std::string_view name = event->len > 0 ? std::string_view(event->name) : std::string_view();
      if (auto above = above_.find(event->wd); above != above_.end()) {
        if (event->mask & (kGoneEvents | IN_IGNORED)) rewalk = true;
        if (!name.empty() && above->second.count(std::string(name)) != 0) rewalk = true;
        if (event->mask & IN_IGNORED) above_.erase(above);
      }
      auto folder = watched_.find(event->wd);
      // Events still queued for a folder we stopped watching.
      if (folder == watched_.end()) continue;
      const bool isTop = std::find(folders_.begin(), folders_.end(), folder->second) != folders_.end();
      if (event->mask & IN_IGNORED) {
        // The folder was deleted, moved away or unmounted.
        if (isTop) rewalk = true;
        watched_.erase(folder);
        relevant = true;
        continue;
      }
      if (event->mask & kGoneEvents) {
        // A library folder moved away takes its watches along, which must
        // not report from there. An unmounted folder may show another below.
        if (isTop || (event->mask & IN_UNMOUNT)) rewalk = true;
        relevant = true;
        continue;
      }
      if (name.empty()) {
        // The folder's own permissions or times: it may have become
        // readable, or not.
        if (event->mask & IN_ATTRIB) relevant = true;
        continue;
      }
      const bool isFolder = (event->mask & IN_ISDIR) != 0;
      // A created entry of any name may be a link to a folder.
      if (!isLibraryName(name, isFolder || (event->mask & IN_CREATE))) continue;
      const std::string path = folder->second + "/" + std::string(name);
      if (isFolder && (event->mask & IN_MOVED_FROM)) {
        // Its watches keep following it wherever it went; if that is
        // inside the library, IN_MOVED_TO watches it under its new path.
        unwatchTree(path);
      }
      // A sub-folder made readable again may be watched now.
      if (event->mask & (IN_CREATE | IN_MOVED_TO | IN_ATTRIB)) {
        bool newFolder = isFolder;
        if (!isFolder && (event->mask & IN_CREATE)) {
          // A link to a folder, which the catalog follows.
          struct stat info {};
          newFolder = stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
          if (!newFolder && !isLibraryName(name, false)) continue;
        }
        if (newFolder) {
          // Files may have landed in it before its watch: the index that
          // follows lists them anyway.
          std::unordered_set<int> listed;
          for (const auto& [watch, watchedPath] : watched_) listed.insert(watch);
          watchTree(path, listed);
          describeWatches();
        }
      }
      relevant = true;
    }
  }
  if (overflowed || rewalk) {
    // Folders made while events were lost have no watch yet; a library
    // folder that came back has none either.
    if (rewatchAll() || overflowed) relevant = true;
  }
  return relevant ? Events::relevant : Events::none;
}

void LibraryWatcher::run() {
  // The burst being settled: when it began and when it was last added to.
  bool settling = false;
  SteadyClock::time_point first;
  SteadyClock::time_point last;
  for (;;) {
    int timeout = -1;
    if (settling) {
      const SteadyClock::time_point due = std::min(last + timing_.settle, first + timing_.longest);
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - SteadyClock::now());
      timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
    }
    // A negative descriptor (no mount table) is left out by poll.
    pollfd waits[3] = {{wake_, POLLIN, 0}, {inotify_, POLLIN, 0}, {mounts_, POLLPRI, 0}};
    const int ready = poll(waits, 3, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      setDescription("stopped watching the library: " + errnoText(errno));
      return;
    }
    if (waits[0].revents != 0) return;
    bool relevant = false;
    if (waits[1].revents & POLLIN) {
      const Events events = readEvents();
      if (events == Events::failed) return;
      relevant = events == Events::relevant;
    } else if (waits[1].revents != 0) {
      setDescription("stopped watching the library: the inotify descriptor failed");
      return;
    }
    // Some file system was mounted or unmounted: a disk with a library
    // folder on it, or one over it, shows other folders at the same paths.
    // The kernel has flagged it by now; there is nothing to read.
    if ((waits[2].revents & (POLLPRI | POLLERR)) && rewatchAll()) relevant = true;
    if (relevant) {
      last = SteadyClock::now();
      if (!settling) first = last;
      settling = true;
    }
    if (settling) {
      const SteadyClock::time_point now = SteadyClock::now();
      if (now >= last + timing_.settle || now >= first + timing_.longest) {
        settling = false;
        changed_();
      }
    }
  }
}

}  // namespace lumenvale
