#include "app/folder_library.h"

#include <unistd.h>

#include <algorithm>

#include "util/format.h"

namespace lumenvale {

std::string photosAndVideos(std::int64_t count) {
  return count == 1 ? "1 photo or video" : Format::count(count) + " photos and videos";
}

FolderLibrary::FolderLibrary(const std::string& dataFolder, std::vector<std::string> folders, Say say)
    : folders_(std::move(folders)), say_(std::move(say)) {
  catalog_ = std::make_unique<Catalog>(dataFolder);
  if (const auto& recovery = catalog_->recovery()) say_(*recovery);
  store_ = std::make_unique<FolderPhotoStore>(*catalog_);
  startWatching();
}

FolderLibrary::~FolderLibrary() { stopWatching(); }

void FolderLibrary::startWatching() {
  std::vector<std::string> folders = this->folders();
  // Indexing no folder at all would empty the catalog, and with it every
  // asset's id that laptops hold: wait for the owner to choose.
  if (folders.empty()) return;
  const auto showProblem = [this](const std::string& problem) {
    if (problem != shownProblem_ && !problem.empty()) say_("Not watching the whole library: " + problem);
    shownProblem_ = problem;
  };
  // The watcher starts before the folders are read, so a change made while
  // they are read is not missed: it is indexed once that index is done.
  indexer_ = std::thread([this, showProblem, folders = std::move(folders)] {
    watcher_ = std::make_unique<LibraryWatcher>(folders, [this, showProblem] {
      index();
      if (LibraryWatcher* self = watching_.load()) showProblem(self->description());
    });
    showProblem(watcher_->description());
    watching_ = watcher_.get();
    index();
  });
}

void FolderLibrary::stopWatching() {
  if (indexer_.joinable()) indexer_.join();
  watching_ = nullptr;
  watcher_.reset();  // waits for an index it started
}

void FolderLibrary::setFolders(std::vector<std::string> folders) {
  stopWatching();
  {
    MutexLock hold(foldersMutex_);
    folders_ = std::move(folders);
  }
  access_ = LibraryAccess::full;  // until the first index over them says
  startWatching();
}

std::vector<std::string> FolderLibrary::folders() const {
  MutexLock hold(foldersMutex_);
  return folders_;
}

LibraryAccess FolderLibrary::photoAccess() const {
  const std::vector<std::string> folders = this->folders();
  if (folders.empty()) return LibraryAccess::notAsked;
  const bool anyOpens = std::any_of(folders.begin(), folders.end(), [](const std::string& folder) {
    return ::access(folder.c_str(), R_OK | X_OK) == 0;
  });
  if (!anyOpens) return LibraryAccess::denied;
  return access_.load() == LibraryAccess::limited ? LibraryAccess::limited : LibraryAccess::full;
}

LibraryAccess FolderLibrary::access() const { return access_.load(); }

void FolderLibrary::index() {
  std::vector<std::string> lines;
  {
    MutexLock hold(indexing_);
    try {
      const IndexReport report = catalog_->index(folders());
      access_ = report.access;
      const std::int64_t count = catalog_->count();
      if (count != shownCount_) lines.push_back("Library: " + photosAndVideos(count));
      shownCount_ = count;
      for (const std::string& unreadable : report.unreadable) {
        if (std::find(shownUnreadable_.begin(), shownUnreadable_.end(), unreadable) == shownUnreadable_.end()) {
          lines.push_back("Cannot read: " + unreadable);
        }
      }
      shownUnreadable_ = report.unreadable;
    } catch (const Catalog::Failure& failure) {
      lines.push_back("Library not indexed: " + failure.description);
    }
  }
  for (const std::string& line : lines) say_(line);
  std::function<void()> indexed;
  {
    MutexLock hold(onIndexedMutex_);
    indexed = onIndexed_;
  }
  if (indexed) indexed();
}

void FolderLibrary::setOnIndexed(std::function<void()> indexed) {
  MutexLock hold(onIndexedMutex_);
  onIndexed_ = std::move(indexed);
}

}  // namespace lumenvale
