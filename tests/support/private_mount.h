// A small tmpfs over a folder, in a mount namespace of this test process
// (and the programs it starts) alone, so nothing is left mounted and no
// other process sees it. Needs root, or unprivileged user namespaces; call
// it before the process starts a thread.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

namespace lumenvale::testing {

// mountTmpfs mounts a tmpfs of `size` ("4m") on `folder`; false, with the
// reason in `why`, when no private mount can be made here.
inline bool mountTmpfs(const std::string& folder, const std::string& size, std::string& why) {
  if (::geteuid() == 0) {
    if (::unshare(CLONE_NEWNS) != 0) return why = "unshare: " + std::string(std::strerror(errno)), false;
  } else {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
      return why = "unshare: " + std::string(std::strerror(errno)), false;
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
    std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
  }
  if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return why = "private mounts: " + std::string(std::strerror(errno)), false;
  }
  const std::string options = "size=" + size + ",mode=0700";
  if (::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
    return why = "tmpfs: " + std::string(std::strerror(errno)), false;
  }
  return true;
}

// fill writes `file` until its disk takes no more; the number of bytes.
inline std::size_t fill(const std::string& file) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return 0;
  std::size_t total = 0;
  const std::string block(65536, 'f');
  for (std::size_t size = block.size(); size > 0;) {
    const ssize_t written = ::write(fd, block.data(), size);
    if (written > 0)
      total += static_cast<std::size_t>(written);
    else
      size /= 2;
  }
  ::close(fd);
  return total;
}

}  // namespace lumenvale::testing
