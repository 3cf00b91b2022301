#include "app/device_side.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdlib>

#include "app/version.h"
#include "platform/device.h"
#include "platform/file_keychain.h"
#include "platform/openssl_keys.h"
#include "util/atomic_file.h"

namespace lumenvale {

namespace {
constexpr const char* kFoldersKey = "libraryFolders";

// answerTime returns how long the owner has to answer a delete: two
// minutes, or, for tests alone, the milliseconds in
// LUMENVALE_TEST_ANSWER_MS so that an expiry can be seen in seconds.
std::chrono::milliseconds answerTime() {
  const char* given = std::getenv("LUMENVALE_TEST_ANSWER_MS");
  if (given != nullptr) {
    char* end = nullptr;
    const long long ms = std::strtoll(given, &end, 10);
    if (end != given && *end == '\0' && ms > 0 && ms <= 120000) return std::chrono::milliseconds(ms);
  }
  return std::chrono::seconds(120);
}
}  // namespace

std::vector<std::string> DeviceSide::folders(const Options& options, const Settings& settings, bool pictures) {
  if (!options.libraries.empty()) return options.libraries;
  std::vector<std::string> chosen;
  if (const std::optional<nlohmann::json> stored = settings.get(kFoldersKey); stored && stored->is_array()) {
    for (const nlohmann::json& folder : *stored) {
      if (folder.is_string() && !folder.get<std::string>().empty()) chosen.push_back(folder.get<std::string>());
    }
  }
  if (chosen.empty() && pictures) chosen.push_back(Device::picturesFolder());
  return chosen;
}

std::string DeviceSide::lockPath(const std::string& data) { return data + "/lumenvale.lock"; }

bool DeviceSide::running(const std::string& data) {
  const int fd = ::open(lockPath(data).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

DeviceSide::DataLock::~DataLock() {
  if (fd >= 0) ::close(fd);
}

DeviceSide::DeviceSide(const Options& options, MainQueue& main, FolderLibrary::Say say, bool pictures,
                       std::function<void(bool)> keepAwake)
    : settings_(Settings::path(options.data)),
      name_(options.name.value_or(Device::name())),
      fixedFolders_(!options.libraries.empty()) {
  const std::string data = options.data.value_or(Device::dataFolder());
  if (!AtomicFile::makeDirectories(data, 0700)) throw Failure{"cannot create the data folder " + data};
  // The lock goes with the process, however it ends, so a crash never
  // leaves a stale one behind.
  lock_.fd = ::open(lockPath(data).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock_.fd < 0) throw Failure{"cannot open " + lockPath(data) + ": " + std::strerror(errno)};
  if (::flock(lock_.fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      throw Failure{"another lumenvale is already running on the data folder " + data +
                    "; stop it first, or give this one its own folder with --data"};
    }
    throw Failure{"cannot lock " + lockPath(data) + ": " + std::strerror(errno)};
  }
  try {
    library_ = std::make_unique<FolderLibrary>(data, folders(options, settings_, pictures), std::move(say));
  } catch (const Catalog::Failure& failure) {
    throw Failure{"the library catalog cannot be opened: " + failure.description};
  }

  Server::Options serverOptions;
  serverOptions.address = options.listen;
  const std::string home = Device::homeFolder();
  FolderLibrary& folder = *library_;
  Hub::Platform platform;
  platform.main = &main;
  platform.dataFolder = data;
  platform.settings = &settings_;
  platform.store = &folder.store();
  platform.loadIdentity = [data] {
    FileKeychain keychain(data);
    OpenSslKeys keys;
    return Identity::loadOrCreate(keychain, keys, systemNow());
  };
  platform.makeListener = Hub::serverListener(&advertiser_, serverOptions);
  platform.access = [&folder] { return folder.access(); };
  platform.storage = [home]() -> std::optional<Api::Storage> {
    const std::optional<Device::Storage> storage = Device::storage(home);
    if (!storage) return std::nullopt;
    return Api::Storage{storage->total, storage->free};
  };
  platform.model = Device::model();
  platform.appVersion = kVersion;
  platform.keepAwake = std::move(keepAwake);
  platform.answerTime = answerTime();
  hub_ = Hub::make(std::move(platform));
}

DeviceSide::~DeviceSide() { hub_->stop(); }

bool DeviceSide::choose(const std::string& folder, bool more) {
  std::vector<std::string> folders = more ? library_->folders() : std::vector<std::string>{};
  if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
  // Folders given on the command line are not the owner's lasting choice.
  const bool kept = fixedFolders_ || settings_.set(kFoldersKey, folders);
  library_->setFolders(std::move(folders));
  return kept;
}

}  // namespace lumenvale
