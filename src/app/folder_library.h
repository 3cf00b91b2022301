// The owner's photo folders as the device serves them: the catalog in the
// data folder and the photo store over it, indexed at start-up on a thread
// of its own (the listing serves what the catalog held at the last run
// meanwhile) and again whenever a file changes. What the owner should know
// (the count, folders that cannot be read) is told as lines.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/folder/catalog.h"
#include "platform/folder/folder_photo_store.h"
#include "platform/folder/library_watcher.h"
#include "util/mutex.h"

namespace lumenvale {

// photosAndVideos names a number of assets: "1 photo or video",
// "1,200 photos and videos".
std::string photosAndVideos(std::int64_t count);

class FolderLibrary {
 public:
  using Say = std::function<void(const std::string& line)>;

  // Opens the catalog (throws Catalog::Failure) and starts watching and
  // indexing `folders`. With no folder (none chosen yet) the catalog is
  // left as it is until some are chosen.
  FolderLibrary(const std::string& dataFolder, std::vector<std::string> folders, Say say);
  // Waits for an index under way.
  ~FolderLibrary();
  FolderLibrary(const FolderLibrary&) = delete;
  FolderLibrary& operator=(const FolderLibrary&) = delete;

  FolderPhotoStore& store() { return *store_; }
  // recovery says how the catalog was rebuilt at opening, if it was found
  // damaged.
  const std::optional<std::string>& recovery() const { return catalog_->recovery(); }
  // access is what the last index found (laptops read "partial" for
  // `limited`, "full" for anything else).
  LibraryAccess access() const;
  // photoAccess says how much the app may show: not asked with no folder,
  // denied when none of them opens, else what the last index found.
  LibraryAccess photoAccess() const;
  // folders are the folders served now.
  std::vector<std::string> folders() const;
  // setFolders serves `folders` from now on: the watcher and the index start
  // again over them. Call from one thread at a time (the app's main thread).
  void setFolders(std::vector<std::string> folders);
  // setOnIndexed calls `indexed` on the indexer's thread after each index
  // that ends, from now on (the hub, made after the library, counts again).
  void setOnIndexed(std::function<void()> indexed);

 private:
  void index();
  void startWatching();  // on a new indexer thread
  void stopWatching();   // joins the indexer thread and ends the watcher

  mutable Mutex foldersMutex_;
  std::vector<std::string> folders_ GUARDED_BY(foldersMutex_);
  const Say say_;
  std::unique_ptr<Catalog> catalog_;
  std::unique_ptr<FolderPhotoStore> store_;
  std::atomic<LibraryAccess> access_{LibraryAccess::full};

  Mutex indexing_;  // one index at a time
  std::int64_t shownCount_ GUARDED_BY(indexing_) = -1;
  std::vector<std::string> shownUnreadable_ GUARDED_BY(indexing_);

  // Made by the indexer thread, read here only after joining it. The
  // watcher may call back before its constructor returns; what it said
  // last is written by the indexer thread before `watching_` is set, by
  // the watcher's own thread after.
  std::unique_ptr<LibraryWatcher> watcher_;
  std::atomic<LibraryWatcher*> watching_{nullptr};
  std::string shownProblem_;
  Mutex onIndexedMutex_;
  std::function<void()> onIndexed_ GUARDED_BY(onIndexedMutex_);
  std::thread indexer_;
};

}  // namespace lumenvale
