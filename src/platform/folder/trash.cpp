#include "platform/folder/trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <variant>

#include "util/atomic_file.h"
#include "util/failure.h"
#include "util/text.h"

namespace lumenvale::Trash {
namespace {

namespace fs = std::filesystem;

// A Trash that can take the files of one file system: files/ and info/
// under `folder`. A volume's Trash writes the original paths relative to
// `topdir`, so that they stay true wherever the volume is mounted next;
// the home Trash (empty topdir) writes them whole.
struct TrashCan {
  fs::path folder;
  fs::path topdir;
};

std::optional<fs::path> homeTrash() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return fs::path(data) / "Trash";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return fs::path(home) / ".local/share/Trash";
  return std::nullopt;
}

// deviceOf returns the file system of `path`, or of its nearest existing
// ancestor (a home Trash not yet made lives where its parent does).
std::optional<dev_t> deviceOf(fs::path path) {
  for (;;) {
    struct stat facts {};
    if (::stat(path.c_str(), &facts) == 0) return facts.st_dev;
    if (path == path.root_path() || !path.has_parent_path()) return std::nullopt;
    path = path.parent_path();
  }
}

// topOf returns the top directory of the file system `device` that holds
// `folder` (a canonical path): its highest ancestor on the same device.
fs::path topOf(fs::path folder, dev_t device) {
  while (folder != folder.root_path()) {
    struct stat facts {};
    const fs::path up = folder.parent_path();
    if (::stat(up.c_str(), &facts) != 0 || facts.st_dev != device) break;
    folder = up;
  }
  return folder;
}

// ownFolder makes `path` (mode 0700) when it is missing, and says whether
// it is now a folder of this user on `device`. A link is never followed: a
// link planted in a shared place could send the owner's photos anywhere.
bool ownFolder(const fs::path& path, dev_t device) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat facts {};
  return ::lstat(path.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode) && facts.st_uid == ::getuid() &&
         facts.st_dev == device;
}

bool usableTrash(const fs::path& folder, dev_t device) {
  return ownFolder(folder, device) && ownFolder(folder / "files", device) && ownFolder(folder / "info", device);
}

// trashFor returns the Trash that takes `original`, a file on `device`:
// the home Trash for files of its own file system (and no other there),
// else the volume's
// $topdir/.Trash/$uid (only where .Trash is a real folder with the sticky
// bit, so no other user can swap this user's folder in it) or
// $topdir/.Trash-$uid, made when missing. Files are only ever renamed into
// a Trash, never copied, so it must be on the file's own file system.
std::variant<TrashCan, Refusal> trashFor(const fs::path& original, dev_t device) {
  const std::optional<fs::path> home = homeTrash();
  if (home && deviceOf(*home) == device) {
    std::error_code ignored;
    fs::create_directories(home->parent_path(), ignored);
    if (usableTrash(*home, device)) return TrashCan{*home, {}};
    return Refusal{"no_trash", "The Trash " + home->string() + " cannot be used: it must be a folder of yours."};
  }
  const fs::path top = topOf(original.parent_path(), device);
  const std::string uid = std::to_string(::getuid());
  struct stat shared {};
  if (::lstat((top / ".Trash").c_str(), &shared) == 0 && S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX) != 0 &&
      usableTrash(top / ".Trash" / uid, device)) {
    return TrashCan{top / ".Trash" / uid, top};
  }
  if (usableTrash(top / (".Trash-" + uid), device)) return TrashCan{top / (".Trash-" + uid), top};
  return Refusal{"no_trash", "No Trash can take " + original.string() + ": the home Trash is on another disk, and " +
                                 (top / (".Trash-" + uid)).string() + " cannot be used."};
}

std::string localDeletionDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[32];
  if (localtime_r(&now, &local) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local) == 0) {
    return "1970-01-01T00:00:00";
  }
  return text;
}

struct Trashed {
  fs::path original;
  fs::path moved;  // in Trash/files
  fs::path info;   // in Trash/info
};

// Names after the first clash get " 2", " 3", ... before the extension;
// past this many the Trash is treated as unusable.
constexpr int kMaxTrashNameTries = 10000;

// moveToTrash moves one file into `can`: its name is reserved by creating
// the .trashinfo exclusively, as other trash users expect, then the file
// is renamed.
std::variant<Trashed, Refusal> moveToTrash(const fs::path& original, const CatalogFile& file, const TrashCan& can) {
  const fs::path files = can.folder / "files", info = can.folder / "info";
  const std::string stem = original.stem().string(), extension = original.extension().string();
  const fs::path recorded = can.topdir.empty() ? original : original.lexically_relative(can.topdir);
  const std::string content = "[Trash Info]\nPath=" + Text::percentEncoded(recorded.string(), "/") +
                              "\nDeletionDate=" + localDeletionDate() + "\n";
  for (int attempt = 1; attempt <= kMaxTrashNameTries; ++attempt) {
    const std::string name =
        attempt == 1 ? original.filename().string() : stem + " " + std::to_string(attempt) + extension;
    const fs::path infoPath = info / (name + ".trashinfo"), moved = files / name;
    const int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      return Refusal{"not_deleted",
                     "The Trash cannot be written (" + infoPath.string() + ": " + errnoText(errno) + ")."};
    }
    const bool written = AtomicFile::writeAll(fd, content);
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
      const int error = written ? errno : writeError;
      ::unlink(infoPath.c_str());
      return Refusal{"not_deleted",
                     "The Trash cannot be written (" + infoPath.string() + ": " + errnoText(error) + ")."};
    }
    struct stat existing {};
    if (::lstat(moved.c_str(), &existing) == 0) {
      ::unlink(infoPath.c_str());
      continue;
    }
    if (::rename(original.c_str(), moved.c_str()) != 0) {
      const int error = errno;
      ::unlink(infoPath.c_str());
      // Moving across file systems would mean copying the whole file.
      return Refusal{error == EXDEV ? "no_trash" : "not_deleted",
                     "The file " + original.string() + " cannot be moved to the Trash: " + errnoText(error) + "."};
    }
    // The file checked before the rename may have been swapped for another
    // in between; what was moved must be what the laptop verified.
    struct stat facts {};
    if (::lstat(moved.c_str(), &facts) != 0 || !file.isFoundIn(facts)) {
      if (::rename(moved.c_str(), original.c_str()) == 0) ::unlink(infoPath.c_str());
      return Refusal{"changed", "The file " + original.string() + " changed while it was moved to the Trash."};
    }
    return Trashed{original, moved, infoPath};
  }
  return Refusal{"not_deleted", "The Trash has no free name for " + original.string() + "."};
}

// trashFile moves one catalog file into the Trash of its own volume, but
// only while it is the very file the catalog knows: a regular file, not a
// link, of the same inode, size and modification time. Anything else holds
// bytes no laptop has verified.
std::variant<Trashed, Refusal> trashFile(const CatalogFile& file) {
  struct stat facts {};
  if (::lstat(file.path.c_str(), &facts) != 0) {
    const int error = errno;
    return Refusal{error == ENOENT ? "changed" : "not_deleted",
                   "The file " + file.path + " cannot be found: " + errnoText(error) + "."};
  }
  if (!file.isFoundIn(facts)) {
    return Refusal{"changed",
                   "The file " + file.path + " is not the one the laptop verified: it changed, or is a link."};
  }
  // The folder's real path: a .trashinfo must name where the file can go
  // back to, and the volume's top is found from it.
  std::error_code failed;
  const fs::path folder = fs::canonical(fs::path(file.path).parent_path(), failed);
  if (failed)
    return Refusal{"not_deleted", "The folder of " + file.path + " cannot be read: " + failed.message() + "."};
  const fs::path original = folder / fs::path(file.path).filename();
  auto can = trashFor(original, facts.st_dev);
  if (auto* refusal = std::get_if<Refusal>(&can)) return std::move(*refusal);
  return moveToTrash(original, file, std::get<TrashCan>(can));
}

// restore puts trashed files back, newest first; the failures' description.
std::string restore(const std::vector<Trashed>& entries) {
  std::string failures;
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    if (::rename(entry->moved.c_str(), entry->original.c_str()) != 0) {
      const std::string reason = errnoText(errno);
      failures.append(" ").append(entry->original.string()).append(" stays in the Trash as ");
      failures.append(entry->moved.string()).append(" (").append(reason).append(").");
      continue;
    }
    ::unlink(entry->info.c_str());
  }
  return failures;
}

}  // namespace

std::optional<Refusal> moveAll(const std::vector<const CatalogFile*>& files) {
  std::vector<Trashed> moved;
  for (const CatalogFile* file : files) {
    auto entry = trashFile(*file);
    if (auto* refusal = std::get_if<Refusal>(&entry)) {
      refusal->detail += restore(moved);
      return std::move(*refusal);
    }
    moved.push_back(std::get<Trashed>(std::move(entry)));
  }
  return std::nullopt;
}

}  // namespace lumenvale::Trash
