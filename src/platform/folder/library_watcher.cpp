#include "platform/folder/library_watcher.h"

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/folder/folder_grouping.h"

namespace lumenvale {
namespace {

using SteadyClock = std::chrono::steady_clock;

// What the catalog cares about in a folder: entries coming, going, renamed
// and files finished writing. IN_MODIFY is left out on purpose: a photo
// being copied in would wake us for every block; IN_CLOSE_WRITE comes once.
constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                        IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// Room for many events per read(); each is at most
// sizeof(inotify_event) + NAME_MAX + 1 bytes.
constexpr std::size_t kEventBufferBytes = 64 * 1024;

std::string errorText(int error) { return std::strerror(error); }

// isLibraryName says whether an entry of this name can change the catalog:
// the catalog skips hidden entries and files of other types, so a text
// editor's swap file or a download's ".part" does not wake an index.
bool isLibraryName(std::string_view name, bool folder) {
  if (name.empty() || name[0] == '.') return false;
  return folder || FolderGrouping::isLibraryName(name);
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool isInside(const std::string& path, const std::string& top) {
  return path == top || (path.size() > top.size() && path.compare(0, top.size(), top) == 0 &&
                         path[top.size()] == '/');
}

struct CloseDirectory {
  void operator()(DIR* directory) const { closedir(directory); }
};

}  // namespace

LibraryWatcher::LibraryWatcher(std::vector<std::string> folders, std::function<void()> changed)
    : LibraryWatcher(std::move(folders), std::move(changed), Timing{}) {}

LibraryWatcher::LibraryWatcher(std::vector<std::string> folders, std::function<void()> changed, Timing timing)
    : folders_(std::move(folders)), changed_(std::move(changed)), timing_(timing) {
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_ < 0) {
    // EMFILE: the system's limit of inotify instances per user.
    setDescription("inotify cannot be used: " + errorText(errno));
    return;
  }
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_ < 0) {
    setDescription("the library watcher cannot start: " + errorText(errno));
    close(inotify_);
    inotify_ = -1;
    return;
  }
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
  if (inotify_ >= 0) close(inotify_);  // drops every watch with it
}

std::string LibraryWatcher::description() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return description_;
}

void LibraryWatcher::setDescription(std::string description) {
  std::lock_guard<std::mutex> hold(mutex_);
  description_ = std::move(description);
}

void LibraryWatcher::watchTree(const std::string& top, std::unordered_set<int>& listed) {
  std::vector<std::string> pending{top};
  while (!pending.empty()) {
    std::string folder = std::move(pending.back());
    pending.pop_back();
    const int watch = inotify_add_watch(inotify_, folder.c_str(), kFolderEvents);
    if (watch < 0) {
      if (errno == ENOSPC) {
        ++unwatchedForLimit_;
      } else if (errno != ENOENT && errno != ENOTDIR && errno != EACCES) {
        // Gone meanwhile, not a folder, or unreadable (which the catalog
        // reports as such) need no word here; anything else does.
        watchFailure_ = "cannot watch " + folder + ": " + errorText(errno);
      }
      continue;
    }
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
}

void LibraryWatcher::rewatchAll() {
  unwatchedForLimit_ = 0;
  watchFailure_.clear();
  std::unordered_set<int> listed;
  for (const std::string& folder : folders_) watchTree(withoutTrailingSlashes(folder), listed);
  // Watches not met again belong to folders that left the library.
  for (auto it = watched_.begin(); it != watched_.end();) {
    if (listed.count(it->first) != 0) {
      ++it;
      continue;
    }
    inotify_rm_watch(inotify_, it->first);  // EINVAL: the kernel dropped it already
    it = watched_.erase(it);
  }
  describeWatches();
}

void LibraryWatcher::describeWatches() {
  std::string text;
  if (unwatchedForLimit_ > 0) {
    text = "the system's limit of inotify watches is reached: " + std::to_string(watched_.size()) +
           " folders watched, " + std::to_string(unwatchedForLimit_) +
           " not (with their sub-folders); raise fs.inotify.max_user_watches";
  }
  if (!watchFailure_.empty()) text += (text.empty() ? "" : "; ") + watchFailure_;
  setDescription(std::move(text));
}

void LibraryWatcher::unwatchTree(const std::string& top) {
  for (auto it = watched_.begin(); it != watched_.end();) {
    if (!isInside(it->second, top)) {
      ++it;
      continue;
    }
    inotify_rm_watch(inotify_, it->first);  // EINVAL: the kernel dropped it already
    it = watched_.erase(it);
  }
}

LibraryWatcher::Events LibraryWatcher::readEvents() {
  alignas(inotify_event) char buffer[kEventBufferBytes];
  bool relevant = false;
  bool overflowed = false;
  for (;;) {
    const ssize_t length = read(inotify_, buffer, sizeof buffer);
    if (length < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) break;
      setDescription("stopped watching the library: " + errorText(errno));
      return Events::failed;
    }
    for (ssize_t offset = 0; offset < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        overflowed = true;
        continue;
      }
      auto folder = watched_.find(event->wd);
      if (event->mask & IN_IGNORED) {
        // The folder was deleted, moved away or unmounted.
        if (folder != watched_.end()) {
          watched_.erase(folder);
          relevant = true;
        }
        continue;
      }
      // Events still queued for a folder we stopped watching.
      if (folder == watched_.end()) continue;
      if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
        relevant = true;
        continue;
      }
      const std::string_view name = event->len > 0 ? std::string_view(event->name) : std::string_view();
      const bool isFolder = (event->mask & IN_ISDIR) != 0;
      // A created entry of any name may be a link to a folder.
      if (!isLibraryName(name, isFolder || (event->mask & IN_CREATE))) continue;
      const std::string path = folder->second + "/" + std::string(name);
      if (isFolder && (event->mask & IN_MOVED_FROM)) {
        // Its watches keep following it wherever it went; if that is
        // inside the library, IN_MOVED_TO watches it under its new path.
        unwatchTree(path);
      }
      if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
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
  if (overflowed) {
    // Folders made while events were lost have no watch yet.
    rewatchAll();
    relevant = true;
  }
  return relevant ? Events::relevant : Events::none;
}

void LibraryWatcher::run() {
  // The burst being settled: when it began and when it was last added to.
  std::optional<SteadyClock::time_point> first;
  SteadyClock::time_point last;
  for (;;) {
    int timeout = -1;
    if (first) {
      const SteadyClock::time_point due = std::min(last + timing_.settle, *first + timing_.longest);
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - SteadyClock::now());
      timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
    }
    pollfd waits[2] = {{wake_, POLLIN, 0}, {inotify_, POLLIN, 0}};
    const int ready = poll(waits, 2, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      setDescription("stopped watching the library: " + errorText(errno));
      return;
    }
    if (waits[0].revents != 0) return;
    if (waits[1].revents & POLLIN) {
      const Events events = readEvents();
      if (events == Events::failed) return;
      if (events == Events::relevant) {
        last = SteadyClock::now();
        if (!first) first = last;
      }
    } else if (waits[1].revents != 0) {
      setDescription("stopped watching the library: the inotify descriptor failed");
      return;
    }
    if (first) {
      const SteadyClock::time_point now = SteadyClock::now();
      if (now >= last + timing_.settle || now >= *first + timing_.longest) {
        first.reset();
        changed_();
      }
    }
  }
}

}  // namespace lumenvale
