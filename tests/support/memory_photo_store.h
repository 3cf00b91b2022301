// An in-memory photo store for unit tests: assets and their files' bytes in
// vectors, fetches sorted as the platform sorts them (equal dates by local
// identifier, descending), data requests delivered
// inline or on a thread of their own (optionally one piece per release()),
// cloud progress, read failures, cancellation, fake pictures and counts of
// what was asked. Thread-safe; handlers are never called under its lock.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "library/photo_store.h"

namespace lumenvale::testing {

class MemoryPhotoStore : public PhotoStore {
 public:
  struct StoredFile {
    File file;
    std::string data;
    bool inCloud = false;                 // report download progress before the bytes
    std::optional<std::string> failure;   // fail with this after `failAfter` bytes
    std::size_t failAfter = 0;
  };

  struct StoredAsset {
    Record record;
    std::vector<StoredFile> files;
    int sourceType = kUserLibrary;
    bool hasImage = true;
  };

  // What one data request asked and got.
  struct RequestLog {
    std::int64_t from = 0;
    int pieces = 0;            // handed to `received`
    bool cancelled = false;
    bool completed = false;
  };

  class FakeImage : public Image {
   public:
    FakeImage(double width, double height, double scale) : width_(width), height_(height), scale_(scale) {}
    double width() const override { return width_; }
    double height() const override { return height_; }
    double scale() const override { return scale_; }

   private:
    double width_, height_, scale_;
  };

  enum class Delivery { inline_, thread };

  ~MemoryPhotoStore() override {
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      paced_ = false;
      threads.swap(threads_);
    }
    released_.notify_all();
    for (std::thread& thread : threads) thread.join();
  }

  // add puts an asset in the store; among equal creation dates, fetches
  // order assets by local identifier, descending, as the folder store does.
  void add(StoredAsset asset) {
    std::lock_guard<std::mutex> hold(mutex_);
    assets_.push_back(std::move(asset));
  }

  // Settings.
  void setSeekable(bool seekable) { std::lock_guard<std::mutex> hold(mutex_); seekable_ = seekable; }
  void setPieceBytes(std::size_t bytes) { std::lock_guard<std::mutex> hold(mutex_); pieceBytes_ = bytes; }
  void setDelivery(Delivery delivery) { std::lock_guard<std::mutex> hold(mutex_); delivery_ = delivery; }
  void setImageScale(double scale) { std::lock_guard<std::mutex> hold(mutex_); imageScale_ = scale; }
  void setJpegFails(bool fails) { std::lock_guard<std::mutex> hold(mutex_); jpegFails_ = fails; }
  void setModificationDate(const std::string& localIdentifier, std::optional<Instant> date) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (StoredAsset& asset : assets_) {
      if (asset.record.localIdentifier == localIdentifier) asset.record.modificationDate = date;
    }
  }
  void replaceFiles(const std::string& localIdentifier, std::vector<StoredFile> files) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (StoredAsset& asset : assets_) {
      if (asset.record.localIdentifier == localIdentifier) asset.files = files;
    }
  }
  void addFile(const std::string& localIdentifier, StoredFile file) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (StoredAsset& asset : assets_) {
      if (asset.record.localIdentifier == localIdentifier) asset.files.push_back(file);
    }
  }

  // pace makes threaded deliveries wait before each piece until release()
  // lets it go (a cancelled request stops waiting).
  void pace(bool paced) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      paced_ = paced;
    }
    released_.notify_all();
  }
  void release(int pieces) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      releases_ += pieces;
    }
    released_.notify_all();
  }

  // waitUntil blocks until `done` holds for the store's request logs, for at
  // most ten seconds; it reports whether it held.
  template <typename Condition>
  bool waitUntil(Condition done) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, std::chrono::seconds(10), [&] { return done(logs_); });
  }

  // Observations.
  std::vector<RequestLog> requests() const { std::lock_guard<std::mutex> hold(mutex_); return logs_; }
  std::vector<std::size_t> identifierFetches() const { std::lock_guard<std::mutex> hold(mutex_); return identifierFetches_; }
  int resourceLookups() const { std::lock_guard<std::mutex> hold(mutex_); return resourceLookups_; }
  std::optional<ImageRequest> lastImageRequest() const { std::lock_guard<std::mutex> hold(mutex_); return lastImageRequest_; }

  // PhotoStore.

  std::vector<Record> fetch(const std::vector<std::string>& localIdentifiers) override {
    std::lock_guard<std::mutex> hold(mutex_);
    identifierFetches_.push_back(localIdentifiers.size());
    std::vector<Record> found;
    // In reverse, to show that callers do not rely on the order.
    for (auto asset = assets_.rbegin(); asset != assets_.rend(); ++asset) {
      if (std::find(localIdentifiers.begin(), localIdentifiers.end(), asset->record.localIdentifier) !=
          localIdentifiers.end()) {
        found.push_back(asset->record);
      }
    }
    return found;
  }

  std::unique_ptr<FetchResult> fetch(const Predicate& predicate) override {
    std::vector<Record> kept;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      for (const StoredAsset& asset : assets_) {
        if (matches(asset, predicate)) kept.push_back(asset.record);
      }
    }
    std::stable_sort(kept.begin(), kept.end(), [](const Record& a, const Record& b) {
      if (a.creationDate.has_value() != b.creationDate.has_value()) return a.creationDate.has_value();
      if (a.creationDate && *a.creationDate != *b.creationDate) return *a.creationDate > *b.creationDate;
      return a.localIdentifier > b.localIdentifier;
    });
    return std::make_unique<Result>(std::move(kept));
  }

  std::vector<File> resources(const Record& record) override {
    std::lock_guard<std::mutex> hold(mutex_);
    ++resourceLookups_;
    std::vector<File> files;
    if (const StoredAsset* asset = find(record.localIdentifier)) {
      for (const StoredFile& stored : asset->files) files.push_back(stored.file);
    }
    return files;
  }

  bool canSeek() const override { std::lock_guard<std::mutex> hold(mutex_); return seekable_; }

  RequestId requestData(const File& file, DataRequest request) override {
    std::unique_lock<std::mutex> hold(mutex_);
    const RequestId id = static_cast<RequestId>(logs_.size() + 1);
    logs_.push_back(RequestLog{request.from, 0, false, false});
    auto job = std::make_shared<Job>();
    job->id = id;
    job->request = std::move(request);
    job->pieceBytes = pieceBytes_;
    if (const StoredFile* stored = findFile(file.locator)) {
      job->file = *stored;
    } else {
      job->file.failure = "no such file";
    }
    jobs_[id] = job;
    changed_.notify_all();
    if (delivery_ == Delivery::inline_) {
      hold.unlock();
      run(*job);
    } else {
      threads_.emplace_back([this, job] { run(*job); });
    }
    return id;
  }

  void cancelDataRequest(RequestId id) override {
    std::shared_ptr<Job> job;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      const auto found = jobs_.find(id);
      if (found == jobs_.end()) return;
      job = found->second;
    }
    // Waits for a piece being handed over on another thread, so that no
    // piece follows once this returns.
    std::lock_guard<std::recursive_mutex> delivering(job->delivering);
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (logs_[id - 1].completed) return;
      job->cancelled = true;
      logs_[id - 1].cancelled = true;
    }
    released_.notify_all();
    changed_.notify_all();
  }

  void requestImage(const Record& record, const ImageRequest& request,
                    std::function<void(ImagePtr)> result) override {
    ImagePtr image;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      lastImageRequest_ = request;
      const StoredAsset* asset = find(record.localIdentifier);
      if (asset && asset->hasImage) {
        image = std::make_shared<FakeImage>(record.pixelWidth / imageScale_, record.pixelHeight / imageScale_,
                                            imageScale_);
      }
      if (!request.synchronous) {
        threads_.emplace_back([result = std::move(result), image] { result(image); });
        return;
      }
    }
    result(image);
  }

  ImagePtr redraw(const Image&, std::int64_t width, std::int64_t height) override {
    return std::make_shared<FakeImage>(static_cast<double>(width), static_cast<double>(height), 1.0);
  }

  std::optional<std::string> jpeg(const Image& image, double quality) override {
    std::lock_guard<std::mutex> hold(mutex_);
    if (jpegFails_) return std::nullopt;
    return "JPEG " + std::to_string(static_cast<long long>(image.width() * image.scale())) + "x" +
           std::to_string(static_cast<long long>(image.height() * image.scale())) + " q" +
           std::to_string(static_cast<int>(quality * 100));
  }

  // photo is an image asset `local` with one photo file, "IMG_<local>.JPG",
  // holding `data`, created and modified at `created`.
  static StoredAsset photo(const std::string& local, Instant created = 1000, std::string data = "pixels") {
    StoredAsset asset;
    asset.record.localIdentifier = local;
    asset.record.creationDate = created;
    asset.record.modificationDate = created;
    asset.record.mediaType = kImage;
    StoredFile file;
    file.file = {ResourceType::photo, "IMG_" + local + ".JPG", "public.jpeg", local};
    file.data = std::move(data);
    asset.files.push_back(std::move(file));
    return asset;
  }

  // setBeforeDelete runs `hook` at the start of every deletion, on the
  // deleting thread, before the store is locked (to hold a deletion back).
  void setBeforeDelete(std::function<void()> hook) { std::lock_guard<std::mutex> hold(mutex_); beforeDelete_ = std::move(hook); }
  // keepOnDelete makes every deletion keep `localIdentifier` with `reason`.
  void keepOnDelete(const std::string& localIdentifier, const std::string& reason) {
    std::lock_guard<std::mutex> hold(mutex_);
    keptOnDelete_[localIdentifier] = reason;
  }

  std::vector<Deletion> deleteAssets(const std::vector<std::string>& localIdentifiers) override {
    std::function<void()> before;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      before = beforeDelete_;
    }
    if (before) before();
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<Deletion> outcomes;
    for (const std::string& id : localIdentifiers) {
      const auto found = std::find_if(assets_.begin(), assets_.end(),
                                       [&](const StoredAsset& asset) { return asset.record.localIdentifier == id; });
      if (found == assets_.end()) {
        outcomes.push_back({id, "not_found", "The asset is no longer in the library."});
      } else if (keptOnDelete_.count(id) != 0) {
        outcomes.push_back({id, keptOnDelete_.at(id), "The store kept it."});
      } else {
        assets_.erase(found);
        outcomes.push_back({id, std::nullopt, {}});
      }
    }
    return outcomes;
  }

  std::int64_t count(int mediaType) override {
    std::lock_guard<std::mutex> hold(mutex_);
    return std::count_if(assets_.begin(), assets_.end(), [&](const StoredAsset& asset) {
      return asset.record.mediaType == mediaType && asset.sourceType == kUserLibrary;
    });
  }

 private:
  class Result : public FetchResult {
   public:
    explicit Result(std::vector<Record> records) : records_(std::move(records)) {}
    std::int64_t count() const override { return static_cast<std::int64_t>(records_.size()); }
    Record at(std::int64_t position) const override { return records_.at(static_cast<std::size_t>(position)); }

   private:
    std::vector<Record> records_;
  };

  struct Job {
    RequestId id = 0;
    DataRequest request;
    StoredFile file;
    std::size_t pieceBytes = 0;
    std::recursive_mutex delivering;  // held while a piece is handed over
    bool cancelled = false;           // guarded by the store's mutex_
  };

  static bool matches(const StoredAsset& asset, const Predicate& predicate) {
    const Record& record = asset.record;
    if ((predicate.sourceTypes & asset.sourceType) == 0) return false;
    if (!predicate.mediaTypes.empty() &&
        std::find(predicate.mediaTypes.begin(), predicate.mediaTypes.end(), record.mediaType) ==
            predicate.mediaTypes.end()) {
      return false;
    }
    switch (predicate.created) {
      case Predicate::Created::any: return true;
      case Predicate::Created::none: return !record.creationDate;
      case Predicate::Created::atOrBefore:
        return !record.creationDate || *record.creationDate <= predicate.createdAtOrBefore;
    }
    return false;
  }

  const StoredAsset* find(const std::string& localIdentifier) const {
    for (const StoredAsset& asset : assets_) {
      if (asset.record.localIdentifier == localIdentifier) return &asset;
    }
    return nullptr;
  }

  const StoredFile* findFile(const std::string& locator) const {
    for (const StoredAsset& asset : assets_) {
      for (const StoredFile& file : asset.files) {
        if (file.file.locator == locator) return &file;
      }
    }
    return nullptr;
  }

  // run delivers one request's pieces, then completes it.
  void run(Job& job) {
    const std::string& data = job.file.data;
    if (job.file.inCloud && job.request.progress) {
      for (double fraction : {0.0, 0.5, 1.0}) job.request.progress(fraction);
    }
    const std::size_t start = seekable() ? static_cast<std::size_t>(std::min<std::int64_t>(
                                               job.request.from, static_cast<std::int64_t>(data.size())))
                                         : 0;
    const std::size_t stop = job.file.failure ? std::min(job.file.failAfter, data.size()) : data.size();
    std::size_t position = start;
    bool cancelled = false;
    while (position < stop) {
      {
        std::unique_lock<std::mutex> hold(mutex_);
        released_.wait(hold, [&] { return !paced_ || releases_ > 0 || job.cancelled; });
        if (job.cancelled) break;
        if (paced_) --releases_;
      }
      std::lock_guard<std::recursive_mutex> delivering(job.delivering);
      {
        std::lock_guard<std::mutex> hold(mutex_);
        if (job.cancelled) break;
        ++logs_[job.id - 1].pieces;
      }
      const std::size_t length = std::min({job.pieceBytes, stop - position, kMaxChunkBytes});
      job.request.received(std::string_view(data).substr(position, length));
      position += length;
    }
    std::optional<std::string> error;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      cancelled = job.cancelled;
      logs_[job.id - 1].completed = true;
    }
    if (cancelled) {
      error = "cancelled";
    } else if (job.file.failure) {
      error = job.file.failure;
    }
    job.request.completed(error, static_cast<std::int64_t>(data.size()));
    changed_.notify_all();
  }

  bool seekable() const { std::lock_guard<std::mutex> hold(mutex_); return seekable_; }

  mutable std::mutex mutex_;
  std::condition_variable released_;
  std::condition_variable changed_;
  std::vector<StoredAsset> assets_;                   // guarded by mutex_
  std::vector<RequestLog> logs_;                      // guarded by mutex_
  std::map<RequestId, std::shared_ptr<Job>> jobs_;    // guarded by mutex_
  std::vector<std::thread> threads_;                  // guarded by mutex_
  std::vector<std::size_t> identifierFetches_;        // guarded by mutex_
  std::optional<ImageRequest> lastImageRequest_;      // guarded by mutex_
  int resourceLookups_ = 0;                           // guarded by mutex_
  bool seekable_ = false;                             // guarded by mutex_
  std::size_t pieceBytes_ = 4;                        // guarded by mutex_
  Delivery delivery_ = Delivery::thread;              // guarded by mutex_
  double imageScale_ = 1.0;                           // guarded by mutex_
  bool jpegFails_ = false;                            // guarded by mutex_
  std::function<void()> beforeDelete_;                // guarded by mutex_
  std::map<std::string, std::string> keptOnDelete_;  // guarded by mutex_
  bool paced_ = false;                                // guarded by mutex_
  int releases_ = 0;                                  // guarded by mutex_
};

}  // namespace lumenvale::testing
