#include "app/device_side.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "app/version.h"
#include "platform/device.h"
#include "platform/file_keychain.h"
#include "platform/openssl_keys.h"
#include "util/addresses.h"
#include "util/atomic_file.h"
#include "util/failure.h"
#include "util/text.h"

namespace lumenvale {

namespace {
constexpr const char* kFoldersKey = "libraryFolders";

// End-to-end tests shorten the connections' time limits and the owner's
// time to answer a delete with these, so that they need not wait out real
// minutes; nothing else sets them.
constexpr const char* kTestTimeoutVariable = "LUMENVALE_TEST_TIMEOUT_MS";
constexpr const char* kTestStrangerTimeoutVariable = "LUMENVALE_TEST_STRANGER_TIMEOUT_MS";
constexpr const char* kTestAnswerVariable = "LUMENVALE_TEST_ANSWER_MS";

// testMilliseconds reads one of those: a positive count of milliseconds.
std::optional<std::chrono::milliseconds> testMilliseconds(const char* variable) {
  const char* given = std::getenv(variable);
  if (given == nullptr) return std::nullopt;
  const std::optional<std::int64_t> value = Text::parseInteger(given);
  if (!value || *value <= 0) return std::nullopt;
  return std::chrono::milliseconds(*value);
}

// answerTime returns how long the owner has to answer a delete: two
// minutes, or less for a test.
std::chrono::milliseconds answerTime() {
  constexpr std::chrono::milliseconds kAnswerTime = std::chrono::minutes(2);
  return std::min(testMilliseconds(kTestAnswerVariable).value_or(kAnswerTime), kAnswerTime);
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
  if (lock_.fd < 0) throw Failure{"cannot open " + lockPath(data) + ": " + errnoText(errno)};
  if (::flock(lock_.fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      throw Failure{"another lumenvale is already running on the data folder " + data +
                    "; stop it first, or give this one its own folder with --data"};
    }
    throw Failure{"cannot lock " + lockPath(data) + ": " + errnoText(errno)};
  }
  try {
    library_ = std::make_unique<FolderLibrary>(data, folders(options, settings_, pictures), std::move(say));
  } catch (const Catalog::Failure& failure) {
    throw Failure{"the library catalog cannot be opened: " + failure.description};
  }

  Server::Options serverOptions;
  serverOptions.address = options.listen;
  if (const auto timeout = testMilliseconds(kTestTimeoutVariable)) serverOptions.timeout = *timeout;
  if (const auto timeout = testMilliseconds(kTestStrangerTimeoutVariable)) serverOptions.strangerTimeout = *timeout;
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
  // With --listen, the Addresses card offers laptops only where the device
  // answers.
  platform.addresses = [listen = options.listen] { return Addresses::servedAt(Addresses::list(), listen); };
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
  folder.setOnIndexed([weak = std::weak_ptr<Hub>(hub_)] {
    if (const std::shared_ptr<Hub> hub = weak.lock()) hub->libraryChanged();
  });
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

bool DeviceSide::remove(const std::string& folder) {
  std::vector<std::string> folders = library_->folders();
  const auto found = std::find(folders.begin(), folders.end(), folder);
  if (found == folders.end() || folders.size() == 1) return false;
  folders.erase(found);
  const bool kept = fixedFolders_ || settings_.set(kFoldersKey, folders);
  library_->setFolders(std::move(folders));
  return kept;
}

}  // namespace lumenvale
