// The photo store over the folder library: assets and files from the
// Catalog, file bytes read in pieces on a worker thread per request,
// pictures from FolderPictures, deletion into the freedesktop Trash
// (Trash). Safe from any thread; callbacks are never
// called under a lock of the store. The catalog must outlive the store; the
// store's destructor cancels what is running and waits for it to end.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "library/photo_store.h"
#include "platform/folder/catalog.h"
#include "util/mutex.h"

namespace lumenvale {

class FolderPhotoStore : public PhotoStore {
 public:
  explicit FolderPhotoStore(Catalog& catalog);
  ~FolderPhotoStore() override;
  FolderPhotoStore(const FolderPhotoStore&) = delete;
  FolderPhotoStore& operator=(const FolderPhotoStore&) = delete;

  std::vector<Record> fetch(const std::vector<std::string>& localIdentifiers) override;
  std::unique_ptr<FetchResult> fetch(const Predicate& predicate) override;
  std::vector<File> resources(const Record& asset) override;
  bool canSeek() const override { return true; }
  RequestId requestData(const File& file, DataRequest request) override;
  void cancelDataRequest(RequestId id) override;

  // requestImage calls `result` once: with the asset's picture (its edit
  // when it has one; a video's first frame) scaled down, never up, so that
  // its longest side (fit) or shortest side (fill) is the target size, or
  // with nullptr when the file cannot be decoded. Asynchronous requests are
  // answered on a worker thread.
  void requestImage(const Record& asset, const ImageRequest& request, std::function<void(ImagePtr)> result) override;

  // redraw flattens transparency over white, then scales to exactly
  // `width` x `height`. Only images of this store can be redrawn.
  ImagePtr redraw(const Image& image, std::int64_t width, std::int64_t height) override;

  // jpeg encodes an image of this store (transparency over white).
  std::optional<std::string> jpeg(const Image& image, double quality) override;

  // deleteAssets moves each asset's listed files (its adjustment data
  // stays) into the Trash of their own volume: the home Trash
  // ($XDG_DATA_HOME, else ~/.local/share) for files on its file system,
  // else $topdir/.Trash/$uid or $topdir/.Trash-$uid. A file is moved only
  // while it is the catalog's: a regular file, not a link, of the same
  // inode, size and modification time. Each asset whole or not at all:
  // when one of its files cannot go, those already moved come back.
  std::vector<Deletion> deleteAssets(const std::vector<std::string>& localIdentifiers) override;

  std::int64_t count(int mediaType) override;

  // pictureOf returns the picture of one file as requestImage makes it
  // (photo or video by its extension), or nullptr. Used by requestImage.
  static ImagePtr pictureOf(const std::string& path, std::int64_t targetSize, ContentMode mode);

 private:
  struct Job;

  // trashed says whether the asset is in the Trash but still catalogued.
  bool trashed(const std::string& localIdentifier);

  // start runs `work` on a thread of its own, counted so that the
  // destructor can wait for it.
  void start(std::function<void()> work);
  void deliver(Job& job);
  struct OpenFile {
    int fd;
    std::int64_t size;
  };
  std::variant<OpenFile, std::string> openChecked(const std::string& path) const;

  Catalog& catalog_;
  Mutex mutex_;
  std::condition_variable ended_;
  std::map<RequestId, std::shared_ptr<Job>> jobs_ GUARDED_BY(mutex_);
  RequestId lastRequest_ GUARDED_BY(mutex_) = 0;
  int running_ GUARDED_BY(mutex_) = 0;  // worker threads alive
  bool closing_ GUARDED_BY(mutex_) = false;
  // Assets whose files are in the Trash but which the catalog could not
  // drop yet (a full disk); hidden from fetches.
  std::set<std::string> trashed_ GUARDED_BY(mutex_);
};

}  // namespace lumenvale
