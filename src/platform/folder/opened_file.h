// A file handed to a library that opens files by name (exiv2, libheif,
// FFmpeg). It is opened here first, without following a link or waiting on
// a FIFO, and checked to be a regular file; the library is then given the
// descriptor's name, "/proc/self/fd/N", which opens that very file,
// whatever has taken its place in the folder since it was checked.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace lumenvale {

class OpenedFile {
 public:
  explicit OpenedFile(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW)) {
    struct stat facts {};
    if (fd_ >= 0 && ::fstat(fd_, &facts) == 0 && S_ISREG(facts.st_mode)) name_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~OpenedFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;

  // regular says whether a regular file was opened.
  bool regular() const { return !name_.empty(); }
  // name is the name to open it by while this lives; empty when it is no
  // regular file.
  const std::string& name() const { return name_; }

 private:
  const int fd_;
  std::string name_;
};

}  // namespace lumenvale
