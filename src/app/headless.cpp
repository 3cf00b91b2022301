#include "app/headless.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>
#include <memory>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "api/api.h"
#include "app/terminal_asker.h"
#include "app/version.h"
#include "pairing/identity.h"
#include "pairing/laptops.h"
#include "pairing/pairing.h"
#include "platform/avahi_advertiser.h"
#include "platform/device.h"
#include "library/photo_library.h"
#include "platform/file_keychain.h"
#include "platform/folder/catalog.h"
#include "platform/folder/folder_photo_store.h"
#include "platform/folder/library_watcher.h"
#include "platform/openssl_keys.h"
#include "platform/settings.h"
#include "safety/delete_handler.h"
#include "safety/safe_marks.h"
#include "transport/server.h"
#include "util/atomic_file.h"
#include "util/format.h"

namespace lumenvale {
namespace {

// How often an expired pairing code is replaced at the latest.
constexpr int kCodeCheckSeconds = 2;

// How long the owner has to answer a delete request, deleting included.
constexpr std::chrono::seconds kDeleteAnswerTime{120};

std::mutex& outputMutex() {
  static std::mutex mutex;
  return mutex;
}

// Lines come from the main, listener and connection threads; each is written
// whole and flushed at once, so a reader of the output sees it immediately.
void say(const std::string& line) {
  std::lock_guard<std::mutex> hold(outputMutex());
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// prompt writes a question that the owner answers on the same line.
void prompt(const std::string& text) {
  std::lock_guard<std::mutex> hold(outputMutex());
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

// photosAndVideos names a number of assets: "1 photo or video",
// "1,200 photos and videos".
std::string photosAndVideos(std::size_t count) {
  return count == 1 ? "1 photo or video" : Format::count(static_cast<std::int64_t>(count)) + " photos and videos";
}

}  // namespace

int runHeadless(const Options& options) {
  // SIGINT and SIGTERM are taken by the main thread alone: blocked here,
  // before any thread starts, so every thread inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  const std::string data = options.data.value_or(Device::dataFolder());
  if (!AtomicFile::makeDirectories(data, 0700)) {
    std::fprintf(stderr, "lumenvale: cannot create the data folder %s\n", data.c_str());
    return 1;
  }

  std::unique_ptr<Identity> identity;
  try {
    FileKeychain keychain(data);
    OpenSslKeys keys;
    identity = std::make_unique<Identity>(Identity::loadOrCreate(keychain, keys, systemNow()));
  } catch (const Identity::Failure& failure) {
    std::fprintf(stderr, "lumenvale: the device identity cannot be loaded: %s\n", failure.description.c_str());
    return 1;
  }
  const std::string fingerprint = identity->fingerprint();
  say("Fingerprint: " + fingerprint);

  std::vector<std::string> folders = options.libraries;
  if (folders.empty()) folders.push_back(Device::picturesFolder());
  std::unique_ptr<Catalog> catalog;
  try {
    catalog = std::make_unique<Catalog>(data);
  } catch (const Catalog::Failure& failure) {
    std::fprintf(stderr, "lumenvale: the library catalog cannot be opened: %s\n", failure.description.c_str());
    return 1;
  }
  FolderPhotoStore store(*catalog);
  PhotoLibrary library(store, nullptr);
  // The listing serves what the catalog held at the last run while the
  // folders are read again; only new or changed files are read in full.
  // The watcher starts first, so a change made while they are read is not
  // missed: it is indexed once the start-up index is done.
  std::atomic<LibraryAccess> access{LibraryAccess::full};
  std::mutex indexing;                        // one index at a time
  std::int64_t shownCount = -1;               // guarded by indexing
  std::vector<std::string> shownUnreadable;   // guarded by indexing
  const auto indexLibrary = [&catalog, &access, &indexing, &shownCount, &shownUnreadable, folders] {
    std::vector<std::string> lines;
    {
      std::lock_guard<std::mutex> hold(indexing);
      try {
        const IndexReport report = catalog->index(folders);
        access = report.access;
        const std::int64_t count = catalog->count();
        if (count != shownCount) lines.push_back("Library: " + std::to_string(count) + " photos and videos");
        shownCount = count;
        for (const std::string& unreadable : report.unreadable) {
          if (std::find(shownUnreadable.begin(), shownUnreadable.end(), unreadable) == shownUnreadable.end()) {
            lines.push_back("Cannot read: " + unreadable);
          }
        }
        shownUnreadable = report.unreadable;
      } catch (const Catalog::Failure& failure) {
        lines.push_back("Library not indexed: " + failure.description);
      }
    }
    for (const std::string& line : lines) say(line);
  };
  // Made by the indexer thread, read by the main thread only after joining
  // it. `watching` hands the same watcher to its own thread, which may call
  // back before the constructor has returned; what it said last is written
  // by the indexer thread before that hand-over, by the watcher's after.
  std::unique_ptr<LibraryWatcher> watcher;
  std::atomic<LibraryWatcher*> watching{nullptr};
  std::string shownProblem;
  const auto showProblem = [&shownProblem](const std::string& problem) {
    if (problem != shownProblem && !problem.empty()) say("Not watching the whole library: " + problem);
    shownProblem = problem;
  };
  std::thread indexer([&watcher, &watching, &indexLibrary, &showProblem, folders] {
    watcher = std::make_unique<LibraryWatcher>(folders, [&watching, &indexLibrary, &showProblem] {
      indexLibrary();
      if (LibraryWatcher* self = watching.load()) showProblem(self->description());
    });
    showProblem(watcher->description());
    watching = watcher.get();
    indexLibrary();
  });

  Laptops laptops(data + "/laptops.json");
  Pairing pairing(fingerprint);
  pairing.setOnNewCode([](const Pairing::Code& code) { say("Pairing code: " + code.display()); });
  const Settings settings(Settings::path(options.data));
  const auto marks = std::make_shared<SafeMarks>(data + "/safe.json");

  // The laptop that made the latest request, named in a delete question.
  std::mutex lastLaptopMutex;
  std::string lastLaptop;  // guarded by lastLaptopMutex

  // A laptop's delete request, verified by the handler, is put to the owner
  // here; only a yes typed in time moves the assets to the Trash.
  TerminalAsker asker(STDIN_FILENO, prompt);
  const auto trash = [&](const std::vector<std::string>& ids, const std::function<bool()>& stillAsVerified) {
    const auto deadline = std::chrono::steady_clock::now() + kDeleteAnswerTime;
    std::vector<std::string> locals;
    for (const std::string& id : ids) {
      std::optional<std::string> local = PhotoLibrary::localIdentifier(id);
      if (!local) return false;
      locals.push_back(std::move(*local));
    }
    std::string laptop;
    {
      std::lock_guard<std::mutex> hold(lastLaptopMutex);
      laptop = lastLaptop.empty() ? "A laptop" : lastLaptop;
    }
    const std::string what = photosAndVideos(ids.size());
    if (!asker.ask(laptop + " has copied " + what + " and asks to delete them here. Move them to the Trash?",
                   deadline)) {
      say("Kept " + what + ": nothing was deleted.");
      return false;
    }
    if (!stillAsVerified()) {
      say("Kept " + what + ": some changed while you decided, so the laptop's copies are not theirs. Nothing was deleted.");
      return false;
    }
    if (const std::optional<std::string> failure = store.deleteAssets(locals)) {
      say("Not deleted: " + *failure);
      return false;
    }
    say("Moved " + what + " to the Trash.");
    return true;
  };
  const auto deleter = std::make_shared<DeleteHandler>(library, trash);

  const std::string home = Device::homeFolder();
  const DeviceInfo info{identity->deviceId(), options.name.value_or(Device::name()), Device::model(), kVersion,
                        fingerprint};
  Api::Callbacks callbacks;
  callbacks.info = [info] { return info; };
  // Read on every request: `lumenvale settings set allowDelete ...` takes
  // effect at once, also while the device runs.
  callbacks.deleteState = [&settings] { return std::string(settings.allowDelete() ? "on" : "off"); };
  callbacks.onRequest = [&lastLaptopMutex, &lastLaptop](const Laptop& laptop) {
    std::lock_guard<std::mutex> hold(lastLaptopMutex);
    lastLaptop = laptop.name;
  };
  callbacks.marks = marks;
  callbacks.deleter = deleter;
  callbacks.access = [&access] {
    return std::string(access.load() == LibraryAccess::limited ? "partial" : "full");
  };
  callbacks.storage = [home]() -> std::optional<Api::Storage> {
    const std::optional<Device::Storage> storage = Device::storage(home);
    if (!storage) return std::nullopt;
    return Api::Storage{storage->total, storage->free};
  };
  Api api(pairing, laptops, library, callbacks);

  AvahiAdvertiser advertiser;
  Server::Options serverOptions;
  serverOptions.address = options.listen;
  Server server([&api](const HttpRequest& request, ByteSink& sink) { api.route(request, sink); },
                Server::Identity{identity->certificate(), identity->privateKeyPem()}, info.name, info.deviceId,
                fingerprint, &advertiser, serverOptions);
  server.setOnPort([](std::optional<std::uint16_t> port, const std::string& reason) {
    say(port ? "Listening on port " + std::to_string(*port) : "Not listening: " + reason);
  });
  server.start();
  pairing.current();

  for (;;) {
    const timespec wait{kCodeCheckSeconds, 0};
    const int signal = sigtimedwait(&stopSignals, nullptr, &wait);
    if (signal == SIGINT || signal == SIGTERM) break;
    pairing.current();  // replaces an expired code, which prints the new one
  }
  // A delete waiting for the owner is answered no, so that its connection
  // ends now rather than at its deadline.
  asker.close();
  indexer.join();
  watcher.reset();  // waits for an index it started
  return 0;
}

}  // namespace lumenvale
