#include "library/photo_resource.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

#include "util/mutex.h"

namespace lumenvale {
namespace {

// The guard between the store's delivery thread and the consumer of one
// read: lets a failing consumer stop the transfer, and drops anything the
// store hands over after that. The consumer runs while `lock` is held, which
// is what keeps two chunks from ever reaching it at once.
struct Pump {
  Mutex lock;
  bool open GUARDED_BY(lock) = true;
  std::exception_ptr stopped GUARDED_BY(lock);
  std::optional<PhotoStore::RequestId> request GUARDED_BY(lock);
  const Opened::Consumer* consume GUARDED_BY(lock) = nullptr;  // null once the read has ended
  std::int64_t position GUARDED_BY(lock) = 0;                  // file offset of the next byte
  // When the store last handed over a chunk or reported progress.
  std::chrono::steady_clock::time_point lastProgress GUARDED_BY(lock) = std::chrono::steady_clock::now();
};

// The end of the store's request, signalled once.
struct Completion {
  Mutex lock;
  std::condition_variable done;
  bool finished GUARDED_BY(lock) = false;
  std::optional<std::string> error GUARDED_BY(lock);
  std::int64_t size GUARDED_BY(lock) = 0;
};

// The three steps of a read.

// request is what the store is asked: hand chunks to the pump (skipping
// what lies before `from` when the store starts at 0), note progress, and
// signal the end once.
PhotoStore::DataRequest request(const std::shared_ptr<Pump>& pump, const std::shared_ptr<Completion>& completion,
                                std::int64_t from, bool seeking, PhotoStore& store,
                                const std::function<void(double)>& onCloud) {
  PhotoStore::DataRequest request;
  request.from = seeking ? from : 0;
  request.networkAccessAllowed = true;
  request.progress = [pump, onCloud](double fraction) {
    {
      MutexLock hold(pump->lock);
      pump->lastProgress = std::chrono::steady_clock::now();
    }
    if (onCloud) onCloud(fraction);
  };
  request.received = [pump, from, &store](std::string_view chunk) {
    std::optional<PhotoStore::RequestId> cancel;
    {
      MutexLock hold(pump->lock);
      if (!pump->open) return;
      const std::int64_t position = pump->position;
      pump->position += static_cast<std::int64_t>(chunk.size());
      pump->lastProgress = std::chrono::steady_clock::now();
      if (position < from) {
        chunk.remove_prefix(static_cast<std::size_t>(std::min<std::int64_t>(from - position, chunk.size())));
      }
      if (chunk.empty()) return;
      try {
        (*pump->consume)(chunk);
      } catch (...) {
        pump->stopped = std::current_exception();
        pump->open = false;
        cancel = pump->request;
      }
    }
    // Cancelled outside the lock: the store may take locks of its own.
    if (cancel) store.cancelDataRequest(*cancel);
  };
  request.completed = [completion](std::optional<std::string> error, std::int64_t size) {
    {
      MutexLock hold(completion->lock);
      if (completion->finished) return;
      completion->finished = true;
      completion->error = std::move(error);
      completion->size = size;
    }
    completion->done.notify_all();
  };
  return request;
}

// Ended is how the store's request ended: its error, and the size it told.
struct Ended {
  std::optional<std::string> error;
  std::int64_t size = 0;
};

// awaitEnd waits for the request to end. A store that hands over nothing
// for `maxStall` (and whose consumer is not busy sending) is given up on:
// the request is cancelled, so that whatever it gets later goes nowhere,
// and the read fails.
Ended awaitEnd(Pump& pump, Completion& completion, PhotoStore& store, PhotoStore::RequestId id,
               std::chrono::milliseconds maxStall) {
  for (;;) {
    {
      MutexLock hold(completion.lock);
      const auto slice = std::min<std::chrono::milliseconds>(maxStall, std::chrono::seconds(1));
      if (!completion.finished) hold.waitFor(completion.done, slice);
      if (completion.finished) return {completion.error, completion.size};
    }
    // A pump held by its consumer is sending, which is progress of its own.
    if (!pump.lock.tryLock()) continue;
    if (std::chrono::steady_clock::now() - pump.lastProgress < maxStall) {
      pump.lock.unlock();
      continue;
    }
    pump.open = false;
    pump.consume = nullptr;
    pump.lock.unlock();
    store.cancelDataRequest(id);
    throw ResourceReadError("The file could not be read: the disk did not answer for " +
                            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(maxStall).count()) +
                            " seconds.");
  }
}

}  // namespace

PhotoResource::PhotoResource(PhotoStore& store, PhotoStore::File file, std::string mime, std::string etag,
                             std::function<void(double)> onCloud, std::chrono::milliseconds maxStall)
    : store_(store),
      file_(std::move(file)),
      mime_(std::move(mime)),
      etag_(std::move(etag)),
      onCloud_(std::move(onCloud)),
      maxStall_(maxStall) {}

std::int64_t PhotoResource::read(const Consumer& consume, std::int64_t from) {
  from = std::max<std::int64_t>(from, 0);
  const bool seeking = store_.canSeek() && from > 0;
  // Shared with the handlers, so that a store which calls them late finds
  // live objects and a closed pump rather than a finished stack frame.
  auto pump = std::make_shared<Pump>();
  auto completion = std::make_shared<Completion>();
  {
    MutexLock hold(pump->lock);  // nobody else holds the pump yet
    pump->consume = &consume;
    pump->position = seeking ? from : 0;
  }

  const PhotoStore::RequestId id =
      store_.requestData(file_, request(pump, completion, from, seeking, store_, onCloud_));
  bool open = false;
  {
    MutexLock hold(pump->lock);
    pump->request = id;
    open = pump->open;
  }
  // The consumer failed before the identifier was known.
  if (!open) store_.cancelDataRequest(id);

  const Ended ended = awaitEnd(*pump, *completion, store_, id, maxStall_);

  std::exception_ptr stopped;
  std::int64_t position = 0;
  {
    MutexLock hold(pump->lock);
    pump->open = false;
    pump->consume = nullptr;
    stopped = pump->stopped;
    position = pump->position;
  }
  // The consumer's failure comes first: the store's error is then only the
  // cancellation it caused.
  if (stopped) std::rethrow_exception(stopped);
  if (ended.error) throw ResourceReadError(*ended.error);
  // A store that read from the start has shown every byte; one that
  // started at `from` may have shown none (when `from` is past the end).
  return seeking ? ended.size : position;
}

}  // namespace lumenvale
