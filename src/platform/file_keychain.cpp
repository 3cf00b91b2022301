#include "platform/file_keychain.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "util/atomic_file.h"

namespace lumenvale {
namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

const char* fileName(Keychain::Item item) {
  switch (item) {
    case Keychain::Item::deviceId:
      return "device-id";
    case Keychain::Item::privateKey:
      return "identity-key.pem";
    case Keychain::Item::certificate:
      return "identity-certificate.der";
  }
  return "unknown";
}

}  // namespace

FileKeychain::FileKeychain(const std::string& dataFolder) : folder_(dataFolder + "/keychain") {}

std::string FileKeychain::path(Item item) const { return folder_ + '/' + fileName(item); }

int FileKeychain::add(Item item, std::string_view data) {
  if (!AtomicFile::makeDirectories(folder_, kFolderMode)) return kIoError;
  // A folder left by an older run or made by hand may be wider than ours;
  // the key must not be readable by anyone else.
  if (::chmod(folder_.c_str(), kFolderMode) != 0) return kIoError;
  const std::string file = path(item);
  struct stat info {};
  if (::lstat(file.c_str(), &info) == 0) return kDuplicateItem;
  if (errno != ENOENT) return kIoError;
  return AtomicFile::write(file, data, kFileMode) ? kSuccess : kIoError;
}

int FileKeychain::copyMatching(Item item, std::string& data) {
  const std::string file = path(item);
  struct stat info {};
  if (::lstat(file.c_str(), &info) != 0) return errno == ENOENT ? kItemNotFound : kIoError;
  std::optional<std::string> content = AtomicFile::read(file);
  if (!content) return kIoError;
  data = std::move(*content);
  return kSuccess;
}

int FileKeychain::remove(Item item) {
  if (::unlink(path(item).c_str()) == 0) return kSuccess;
  return errno == ENOENT ? kItemNotFound : kIoError;
}

}  // namespace lumenvale
