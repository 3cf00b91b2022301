#include "platform/folder/folder_photo_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>
#include <variant>

#include "library/rows.h"
#include "library/mime_types.h"
#include "platform/folder/folder_pictures.h"
#include "platform/folder/trash.h"
#include "util/failure.h"

namespace lumenvale {
namespace {

// One read of a file being served. Once the connection writes in large
// pieces, reads of 128 KiB to 1 MiB measured the same per byte here; the
// small one keeps eight downloads' buffers at 1 MiB rather than 8.
constexpr std::int64_t kReadBytes = 128 * 1024;
static_assert(kReadBytes <= static_cast<std::int64_t>(PhotoStore::kMaxChunkBytes));

PhotoStore::Record recordOf(const CatalogAsset& asset) {
  PhotoStore::Record record;
  record.localIdentifier = asset.localIdentifier;
  if (asset.created) record.creationDate = instantOf(*asset.created);
  record.modificationDate = instantOf(asset.modified);
  record.versionDate = instantOf(asset.version);
  record.mediaType = static_cast<int>(asset.mediaType);
  record.pixelWidth = asset.width;
  record.pixelHeight = asset.height;
  record.duration = asset.duration.value_or(0);
  return record;
}

class CatalogFetch : public PhotoStore::FetchResult {
 public:
  // The assets at positions [from, to) of the whole listing, or of the
  // listing of `type` when given.
  CatalogFetch(const Catalog& catalog, std::optional<MediaType> type, std::int64_t from, std::int64_t to)
      : catalog_(catalog), type_(type), from_(from), count_(std::max<std::int64_t>(0, to - from)) {}

  std::int64_t count() const override { return count_; }

  // A listing reads a few scattered positions to find its window, then the
  // window in order; once reads run in order, the next ones are read ahead
  // in one query.
  PhotoStore::Record at(std::int64_t position) const override {
    if (position < 0 || position >= count_) throw std::out_of_range("No asset at this position of the fetch.");
    const bool inOrder = position == last_ + 1;
    last_ = position;
    if (position < aheadFrom_ || position >= aheadFrom_ + static_cast<std::int64_t>(ahead_.size())) {
      const std::int64_t to = inOrder ? std::min(count_, position + kReadAhead) : position + 1;
      ahead_ = type_ ? catalog_.range(*type_, from_ + position, from_ + to) : catalog_.range(from_ + position, from_ + to);
      aheadFrom_ = position;
    }
    const std::size_t index = static_cast<std::size_t>(position - aheadFrom_);
    // The folders changed since the fetch and the listing got shorter.
    if (index >= ahead_.size()) throw std::out_of_range("The asset at this position is gone.");
    return recordOf(ahead_[index]);
  }

 private:
  static constexpr std::int64_t kReadAhead = 500;  // the largest page

  const Catalog& catalog_;
  std::optional<MediaType> type_;
  std::int64_t from_;
  std::int64_t count_;
  // Used by the one thread that made the fetch.
  mutable std::int64_t last_ = -2;
  mutable std::vector<CatalogAsset> ahead_;
  mutable std::int64_t aheadFrom_ = 0;
};

// pictureFile returns the file whose picture shows the asset: its edit when
// it has one.
const CatalogFile* pictureFile(const CatalogAsset& asset) {
  const ResourceType preferred[] = {ResourceType::fullSizePhoto, ResourceType::photo, ResourceType::alternatePhoto,
                                ResourceType::fullSizeVideo, ResourceType::video};
  for (ResourceType role : preferred) {
    for (const CatalogFile& file : asset.files) {
      if (file.role == role) return &file;
    }
  }
  return nullptr;
}

// filesOf returns the asset's files as the store hands them out, in the
// catalog's order.
std::vector<PhotoStore::File> filesOf(const CatalogAsset& asset) {
  std::vector<PhotoStore::File> files;
  for (const CatalogFile& file : asset.files) {
    const std::string name = file.name();
    const auto type = MimeTypes::folderType(name);
    // Adjustment data is the one kind outside the media table.
    files.push_back(PhotoStore::File{file.role, name,
                                     type ? std::string(type->uti) : std::string("public.data"), file.path});
  }
  return files;
}

}  // namespace

// --- The store ------------------------------------------------------------

struct FolderPhotoStore::Job {
  RequestId id = 0;
  std::string path;
  DataRequest request;
  // Held while a piece is handed over (`received` runs with it held), and
  // taken by cancelDataRequest after it marks the job: once a cancel
  // returns, no piece follows it. A consumer that cancels from inside
  // `received` is on the delivering thread, which sees the mark before the
  // next piece: `deliverer` tells cancelDataRequest not to wait for itself.
  Mutex delivering;
  std::atomic<std::thread::id> deliverer{};
  std::atomic<bool> cancelled = false;
};

FolderPhotoStore::FolderPhotoStore(Catalog& catalog) : catalog_(catalog) {}

FolderPhotoStore::~FolderPhotoStore() {
  std::vector<RequestId> ids;
  {
    MutexLock hold(mutex_);
    closing_ = true;
    for (const auto& [id, job] : jobs_) ids.push_back(id);
  }
  for (RequestId id : ids) cancelDataRequest(id);
  MutexLock hold(mutex_);
  while (running_ != 0) hold.wait(ended_);
}

void FolderPhotoStore::start(std::function<void()> work) {
  {
    MutexLock hold(mutex_);
    ++running_;
  }
  std::thread([this, work = std::move(work)] {
    work();
    // Notified under the lock: once it is released the destructor may
    // return, and this thread touches nothing of the store after that.
    MutexLock hold(mutex_);
    --running_;
    ended_.notify_all();
  }).detach();
}

std::vector<PhotoStore::Record> FolderPhotoStore::fetch(const std::vector<std::string>& localIdentifiers) {
  std::vector<Record> records;
  for (const CatalogAsset& asset : catalog_.find(localIdentifiers)) {
    if (!trashed(asset.localIdentifier)) records.push_back(recordOf(asset));
  }
  return records;
}

std::unique_ptr<PhotoStore::FetchResult> FolderPhotoStore::fetch(const Predicate& predicate) {
  const auto wants = [&](int type) {
    return predicate.mediaTypes.empty() ||
           std::find(predicate.mediaTypes.begin(), predicate.mediaTypes.end(), type) != predicate.mediaTypes.end();
  };
  const bool images = wants(kImage), videos = wants(kVideo);
  // The folders hold only the owner's own photos and videos.
  if ((predicate.sourceTypes & kUserLibrary) == 0 || (!images && !videos)) {
    return std::make_unique<CatalogFetch>(catalog_, std::nullopt, 0, 0);
  }
  std::optional<MediaType> type;
  if (!images) type = MediaType::video;
  if (!videos) type = MediaType::image;
  const std::int64_t count = type ? catalog_.count(*type) : catalog_.count();
  std::int64_t from = 0;
  switch (predicate.created) {
    case Predicate::Created::any: break;
    case Predicate::Created::none: from = type ? catalog_.countDated(*type) : catalog_.countDated(); break;
    case Predicate::Created::atOrBefore: {
      const TimePoint bound = timeOf(predicate.createdAtOrBefore);
      from = type ? catalog_.countNewerThan(*type, bound) : catalog_.countNewerThan(bound);
      break;
    }
  }
  return std::make_unique<CatalogFetch>(catalog_, type, from, count);
}

std::vector<PhotoStore::File> FolderPhotoStore::resources(const Record& record) {
  std::vector<File> files;
  for (const CatalogAsset& asset : catalog_.find({record.localIdentifier})) {
    if (trashed(asset.localIdentifier)) continue;
    for (File& file : filesOf(asset)) files.push_back(std::move(file));
  }
  return files;
}

PhotoStore::RequestId FolderPhotoStore::requestData(const File& file, DataRequest request) {
  auto job = std::make_shared<Job>();
  job->path = file.locator;
  job->request = std::move(request);
  {
    MutexLock hold(mutex_);
    job->id = ++lastRequest_;
    jobs_[job->id] = job;
  }
  start([this, job] {
    deliver(*job);
    MutexLock hold(mutex_);
    jobs_.erase(job->id);
  });
  return job->id;
}

// openChecked opens the file at `path` for reading if it is still the
// regular file the catalog recorded there, or says why not. Never through
// a link, and never waiting: a FIFO or a device planted under a photo's
// name would otherwise hold the reading thread, and its connection, for
// good.
std::variant<FolderPhotoStore::OpenFile, std::string> FolderPhotoStore::openChecked(const std::string& path) const {
  const std::optional<CatalogFile> recorded = catalog_.file(path);
  if (!recorded) return "The file " + path + " is no longer in the library.";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    return "The file " + path + " cannot be read: " +
           (errno == ELOOP ? std::string("it is a link") : errnoText(errno)) + ".";
  }
  struct stat facts {};
  std::string problem;
  if (::fstat(fd, &facts) != 0) {
    problem = "The file " + path + " cannot be read: " + errnoText(errno) + ".";
  } else if (!S_ISREG(facts.st_mode)) {
    problem = "The file " + path + " cannot be read: it is not a regular file.";
  } else if (!recorded->isFoundIn(facts)) {
    // Another file in its place (through a folder swapped for a link, say)
    // or the same one rewritten: its bytes are not those of the version
    // the laptop was shown, and resuming across them would mix two files.
    problem = "The file " + path + " changed since the library was read; list it again.";
  }
  if (!problem.empty()) {
    ::close(fd);
    return problem;
  }
  return OpenFile{fd, static_cast<std::int64_t>(facts.st_size)};
}

void FolderPhotoStore::deliver(Job& job) {
  std::optional<std::string> error;
  std::int64_t size = 0;
  auto opened = openChecked(job.path);
  const int fd = std::holds_alternative<OpenFile>(opened) ? std::get<OpenFile>(opened).fd : -1;
  if (fd < 0) {
    error = std::get<std::string>(std::move(opened));
  } else {
    size = std::get<OpenFile>(opened).size;
    std::int64_t offset = std::clamp<std::int64_t>(job.request.from, 0, size);
    // One piece's buffer, reused: the file is never held whole.
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::int64_t>(kReadBytes, size - offset)));
    while (offset < size && !job.cancelled) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(kReadBytes, size - offset));
      const ssize_t got = ::pread(fd, buffer.data(), want, offset);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        error = "The file " + job.path + " cannot be read: " + errnoText(errno) + ".";
        break;
      }
      if (got == 0) {
        error = "The file " + job.path + " got shorter while it was read.";
        break;
      }
      MutexLock delivering(job.delivering);
      if (job.cancelled) break;
      job.deliverer = std::this_thread::get_id();
      job.request.received(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
      job.deliverer = std::thread::id();
      offset += got;
    }
  }
  if (fd >= 0) ::close(fd);
  if (job.cancelled) error = "The request was cancelled.";
  job.request.completed(std::move(error), size);
}

void FolderPhotoStore::cancelDataRequest(RequestId id) {
  std::shared_ptr<Job> job;
  {
    MutexLock hold(mutex_);
    auto found = jobs_.find(id);
    if (found == jobs_.end()) return;
    job = found->second;
  }
  job->cancelled = true;
  // From inside `received`: the worker sees the mark before the next piece.
  if (job->deliverer.load() == std::this_thread::get_id()) return;
  // Waits out a piece being handed over on the worker.
  MutexLock delivering(job->delivering);
}

PhotoStore::ImagePtr FolderPhotoStore::pictureOf(const std::string& path, std::int64_t targetSize,
                                                 ContentMode mode) {
  if (!FolderPictures::ready() || targetSize <= 0) return nullptr;
  const auto type = MimeTypes::folderType(path);
  if (type && type->kind == MimeTypes::Kind::video) return FolderPictures::video(path, targetSize, mode);
  return FolderPictures::photo(path, targetSize, mode);
}

void FolderPhotoStore::requestImage(const Record& asset, const ImageRequest& request,
                                    std::function<void(ImagePtr)> result) {
  auto make = [this, id = asset.localIdentifier, request]() -> ImagePtr {
    auto found = catalog_.find({id});
    if (found.empty()) return nullptr;
    const CatalogFile* file = pictureFile(found.front());
    return file ? pictureOf(file->path, request.targetSize, request.contentMode) : nullptr;
  };
  if (request.synchronous) {
    result(make());
    return;
  }
  start([make = std::move(make), result = std::move(result)] { result(make()); });
}

PhotoStore::ImagePtr FolderPhotoStore::redraw(const Image& image, std::int64_t width, std::int64_t height) {
  return FolderPictures::redraw(image, width, height);
}

std::optional<std::string> FolderPhotoStore::jpeg(const Image& image, double quality) {
  return FolderPictures::jpeg(image, quality);
}

bool FolderPhotoStore::trashed(const std::string& localIdentifier) {
  MutexLock hold(mutex_);
  return trashed_.count(localIdentifier) != 0;
}

std::vector<PhotoStore::Deletion> FolderPhotoStore::deleteAssets(const std::vector<std::string>& localIdentifiers) {
  // Assets trashed while the catalog could not be written leave it now
  // that it may be writable again.
  std::set<std::string> uncatalogued;
  {
    MutexLock hold(mutex_);
    uncatalogued = trashed_;
  }
  for (const std::string& id : uncatalogued) {
    try {
      catalog_.remove(id);
      MutexLock hold(mutex_);
      trashed_.erase(id);
    } catch (const Catalog::Failure&) {
      break;  // still not writable
    }
  }

  const std::vector<CatalogAsset> assets = catalog_.find(localIdentifiers);
  std::vector<Deletion> outcomes;
  for (const std::string& id : localIdentifiers) {
    Deletion outcome{id, std::nullopt, {}};
    const auto asset = std::find_if(assets.begin(), assets.end(),
                                    [&](const CatalogAsset& found) { return found.localIdentifier == id; });
    const bool done = std::any_of(outcomes.begin(), outcomes.end(), [&](const Deletion& earlier) {
      return earlier.localIdentifier == id && !earlier.kept;
    });
    if (asset == assets.end() || done || trashed(id)) {
      outcome.kept = "not_found";
      outcome.detail = "The asset is no longer in the library.";
      outcomes.push_back(std::move(outcome));
      continue;
    }
    // Only the files listed as resources, the ones a laptop can have
    // copied and verified.
    std::vector<Rows::ResourceInfo> infos;
    for (const File& file : filesOf(*asset)) {
      infos.push_back({Rows::source(file.type), file.originalFilename, file.uniformTypeIdentifier});
    }
    std::vector<const CatalogFile*> listed;
    for (const auto& [position, resource] : Rows::mapped(infos)) {
      listed.push_back(&asset->files[position]);
    }
    if (std::optional<Trash::Refusal> refusal = Trash::moveAll(listed)) {
      outcome.kept = std::move(refusal->reason);
      outcome.detail = std::move(refusal->detail);
    } else {
      try {
        catalog_.remove(id);
      } catch (const Catalog::Failure&) {
        // The files are in the Trash: the asset is gone, whatever the
        // catalog, which a full disk may keep from writing. It is hidden
        // until the catalog takes the change.
        MutexLock hold(mutex_);
        trashed_.insert(id);
      }
    }
    outcomes.push_back(std::move(outcome));
  }
  return outcomes;
}

std::int64_t FolderPhotoStore::count(int mediaType) {
  if (mediaType != kImage && mediaType != kVideo) return 0;
  return catalog_.count(static_cast<MediaType>(mediaType));
}

}  // namespace lumenvale
