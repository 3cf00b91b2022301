#include "util/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "util/bytes.h"

namespace lumenvale::AtomicFile {

std::optional<std::string> read(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return content;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool write(const std::string& path, std::string_view bytes, mode_t mode) {
  const std::filesystem::path target(path);
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  // A hidden name beside the target, so the rename stays on one file system.
  std::string name = ".";
  name += target.filename().string();
  name += '.';
  name += Bytes::hex(Bytes::random(6));
  name += ".tmp";
  const std::string temporary = (folder / name).string();
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return false;
  // The umask may have narrowed the mode; the stores ask for exactly theirs.
  const bool written = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  // The rename itself is durable only once the folder is synced. A sync
  // that fails is not reported: the new file is in place and is what every
  // reader sees from now on; only a crash before the kernel writes the
  // folder out could bring back the old one, and no caller could do better.
  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd >= 0) {
    ::fsync(folderFd);
    ::close(folderFd);
  }
  return true;
}

bool makeDirectories(const std::string& path, mode_t mode) {
  std::error_code error;
  std::filesystem::path built;
  for (const auto& part : std::filesystem::path(path)) {
    built /= part;
    if (std::filesystem::is_directory(built, error)) continue;
    if (::mkdir(built.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  return std::filesystem::is_directory(path, error);
}

}  // namespace lumenvale::AtomicFile
