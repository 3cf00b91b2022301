#include "platform/folder/catalog.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "platform/folder/media_metadata.h"
#include "util/atomic_file.h"
#include "util/bytes.h"

namespace lumenvale {
namespace {

using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::nanoseconds;

// Raised when the tables on disk are of another layout; the catalog is
// rebuilt from the folders then, so only identifiers are lost.
constexpr int kSchemaVersion = 2;

constexpr const char* kSchema = R"sql(
CREATE TABLE assets(
  id INTEGER PRIMARY KEY,
  local_id TEXT NOT NULL UNIQUE,
  main_path TEXT NOT NULL UNIQUE,
  media_type INTEGER NOT NULL,
  created INTEGER,           -- microseconds since 1970 UTC; NULL when undated
  modified INTEGER NOT NULL, -- nanoseconds since 1970 UTC
  width INTEGER NOT NULL,
  height INTEGER NOT NULL,
  duration REAL,
  position INTEGER NOT NULL DEFAULT -1,
  type_position INTEGER NOT NULL DEFAULT -1  -- the place among assets of its media type
);
CREATE INDEX assets_by_date ON assets(created DESC, local_id DESC);
CREATE INDEX assets_by_position ON assets(position);
CREATE INDEX assets_by_type_date ON assets(media_type, created DESC, local_id DESC);
CREATE INDEX assets_by_type_position ON assets(media_type, type_position);
CREATE TABLE files(
  path TEXT PRIMARY KEY,
  asset INTEGER NOT NULL REFERENCES assets(id) ON DELETE CASCADE,
  role INTEGER NOT NULL,
  rank INTEGER NOT NULL,     -- place among the asset's files
  size INTEGER NOT NULL,
  mtime INTEGER NOT NULL,    -- nanoseconds since 1970 UTC
  inode INTEGER NOT NULL,
  -- what the file's metadata said when it was last read, so that an
  -- unchanged file is never read again
  readable INTEGER NOT NULL,
  created INTEGER,
  width INTEGER NOT NULL,
  height INTEGER NOT NULL,
  duration REAL
) WITHOUT ROWID;
CREATE INDEX files_by_asset ON files(asset, rank);
)sql";

constexpr const char* kAssetColumns =
    "SELECT id, local_id, media_type, created, modified, width, height, duration FROM assets ";

TimePoint fromNanos(std::int64_t value) {
  return TimePoint(duration_cast<TimePoint::duration>(nanoseconds(value)));
}
std::int64_t toMicros(TimePoint time) {
  return duration_cast<microseconds>(time.time_since_epoch()).count();
}
TimePoint fromMicros(std::int64_t value) { return TimePoint(microseconds(value)); }

[[noreturn]] void fail(sqlite3* db, const std::string& doing) {
  throw Catalog::Failure("The photo catalog could not " + doing + ": " + sqlite3_errmsg(db) + ".");
}

// One prepared statement; every call checks its return code and throws
// Catalog::Failure.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK)
      fail(db_, "prepare a query");
  }
  // Borrows a statement the catalog keeps prepared; it is reset, ending its
  // read, when the borrower is done.
  Statement(sqlite3* db, sqlite3_stmt* kept) : db_(db), statement_(kept), owned_(false) {}
  ~Statement() {
    if (owned_) {
      sqlite3_finalize(statement_);
    } else {
      sqlite3_reset(statement_);
      sqlite3_clear_bindings(statement_);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, std::int64_t value) {
    return check(sqlite3_bind_int64(statement_, index, value));
  }
  Statement& bind(int index, const std::string& value) {
    return check(sqlite3_bind_text(statement_, index, value.data(), static_cast<int>(value.size()),
                                   SQLITE_TRANSIENT));
  }
  Statement& bind(int index, std::optional<std::int64_t> value) {
    return value ? bind(index, *value) : check(sqlite3_bind_null(statement_, index));
  }
  Statement& bind(int index, std::optional<double> value) {
    return check(value ? sqlite3_bind_double(statement_, index, *value)
                       : sqlite3_bind_null(statement_, index));
  }

  // step returns true for a row, false when done.
  bool step() {
    int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    fail(db_, "run a query");
  }
  void run() {
    while (step()) {
    }
  }
  void reset() {
    // sqlite3_reset repeats the error of a failed step, which step()
    // already reported, so only the unbinding is checked here.
    sqlite3_reset(statement_);
    check(sqlite3_clear_bindings(statement_));
  }

  bool isNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
  std::int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }
  double real(int column) const { return sqlite3_column_double(statement_, column); }
  std::string text(int column) const {
    auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return bytes ? std::string(bytes,
                               static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                 : std::string();
  }
  std::optional<std::int64_t> optionalInteger(int column) const {
    if (isNull(column)) return std::nullopt;
    return integer(column);
  }
  std::optional<double> optionalReal(int column) const {
    if (isNull(column)) return std::nullopt;
    return real(column);
  }

 private:
  Statement& check(int rc) {
    if (rc != SQLITE_OK) fail(db_, "bind a value");
    return *this;
  }

  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
  bool owned_ = true;
};

void execute(sqlite3* db, const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    throw Catalog::Failure("The photo catalog could not be written: " + text + ".");
  }
}

// A write transaction that rolls back unless committed.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) { execute(db_, "BEGIN IMMEDIATE"); }
  ~Transaction() {
    // Nothing to do if the rollback fails: SQLite rolls back by itself when
    // the connection closes, and the error that got us here is on its way.
    if (!committed_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void commit() {
    execute(db_, "COMMIT");
    committed_ = true;
  }

 private:
  sqlite3* db_;
  bool committed_ = false;
};

// A random (version 4) UUID in the phone's upper-case form.
std::string newLocalIdentifier() {
  std::string bytes = Bytes::random(16);
  bytes[6] = static_cast<char>((bytes[6] & 0x0f) | 0x40);
  bytes[8] = static_cast<char>((bytes[8] & 0x3f) | 0x80);
  std::string hex = Bytes::hex(bytes);
  for (char& c : hex) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20) + "/L0/001";
}

// What one file looked like on disk; a file whose state is unchanged is not
// read again.
struct FileState {
  std::int64_t size = 0;
  std::int64_t mtime = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileState&) const = default;
};

// The metadata kept per file, as stored.
struct FileFacts {
  bool readable = false;
  std::optional<std::int64_t> created;
  int width = 0;
  int height = 0;
  std::optional<double> duration;
  bool operator==(const FileFacts&) const = default;
};

FileFacts factsOf(const std::optional<MediaMetadata>& metadata) {
  if (!metadata) return {};
  std::optional<std::int64_t> created;
  if (metadata->created) created = toMicros(*metadata->created);
  return {true, created, metadata->width, metadata->height, metadata->duration};
}

struct FileRow {
  std::string path;
  int role = 0;
  int rank = 0;
  FileState state;
  FileFacts facts;
};

struct StoredFile {
  std::int64_t asset = 0;
  int role = 0;
  int rank = 0;
  FileState state;
  FileFacts facts;
};

struct AssetFields {
  int mediaType = 0;
  std::optional<std::int64_t> created;
  std::int64_t modified = 0;
  int width = 0;
  int height = 0;
  std::optional<double> duration;
  bool operator==(const AssetFields&) const = default;
};

struct StoredAsset {
  std::int64_t id = 0;
  AssetFields fields;
};

struct FoundFile {
  std::string path;
  FileRole role;
  FileState state;
};

struct FoundAsset {
  MediaType mediaType;
  std::vector<FoundFile> files;  // main file first
};

struct PlannedAsset {
  std::string mainPath;
  AssetFields fields;
  std::vector<FileRow> files;
};

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

struct CloseDirectory {
  void operator()(DIR* directory) const { closedir(directory); }
};

// The asset's fields from its files' facts: the capture time of its main
// file; the size (and length) of what it shows, its edit when there is one.
AssetFields fieldsOf(MediaType type, const std::vector<FileRow>& files,
                     bool modificationTimeAsCreation) {
  AssetFields fields;
  fields.mediaType = static_cast<int>(type);
  const FileRow& main = files.front();
  fields.created = main.facts.created;
  if (!fields.created && modificationTimeAsCreation) {
    fields.created = toMicros(fromNanos(main.state.mtime));
  }
  const FileRow* shown = &main;
  for (const FileRow& file : files) {
    fields.modified = std::max(fields.modified, file.state.mtime);
    bool edit = file.role == static_cast<int>(FileRole::fullSizePhoto) ||
                file.role == static_cast<int>(FileRole::fullSizeVideo);
    if (edit && file.facts.readable && file.facts.width > 0) shown = &file;
  }
  fields.width = shown->facts.width;
  fields.height = shown->facts.height;
  if (type == MediaType::video) fields.duration = shown->facts.duration.value_or(0.0);
  return fields;
}

CatalogAsset readAsset(const Statement& row, Statement& files) {
  CatalogAsset asset;
  asset.localIdentifier = row.text(1);
  asset.mediaType = static_cast<MediaType>(row.integer(2));
  if (auto created = row.optionalInteger(3)) asset.created = fromMicros(*created);
  asset.modified = fromNanos(row.integer(4));
  asset.width = static_cast<int>(row.integer(5));
  asset.height = static_cast<int>(row.integer(6));
  asset.duration = row.optionalReal(7);
  files.reset();
  files.bind(1, row.integer(0));
  while (files.step()) {
    asset.files.push_back({files.text(0), static_cast<FileRole>(files.integer(1)), files.integer(2),
                           fromNanos(files.integer(3)),
                           static_cast<std::uint64_t>(files.integer(4))});
  }
  return asset;
}

constexpr const char* kFilesOfAsset =
    "SELECT path, role, size, mtime, inode FROM files WHERE asset = ?1 ORDER BY rank";

std::vector<CatalogAsset> readAssets(Statement& rows, Statement& files) {
  std::vector<CatalogAsset> assets;
  while (rows.step()) assets.push_back(readAsset(rows, files));
  return assets;
}

}  // namespace

struct Catalog::Walk {
  std::vector<FoundAsset> assets;
  std::vector<std::string> unreadable;
  LibraryAccess access = LibraryAccess::notAsked;
};

struct Catalog::Snapshot {
  std::uint64_t writes = 0;
  std::unordered_map<std::string, StoredFile> files;    // by path
  std::unordered_map<std::string, StoredAsset> assets;  // by main file path
};

std::string CatalogFile::name() const {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Catalog::path(const std::string& dataFolder) { return dataFolder + "/library.db"; }

Catalog::Catalog(const std::string& dataFolder) : Catalog(dataFolder, Options{}) {}

Catalog::Catalog(const std::string& dataFolder, Options options) : options_(std::move(options)) {
  if (!options_.readMetadata) {
    options_.readMetadata = [](const std::string& path, MimeTypes::Kind kind) {
      return kind == MimeTypes::Kind::video ? MediaMetadata::readVideo(path)
                                            : MediaMetadata::readPhoto(path);
    };
  }
  if (!AtomicFile::makeDirectories(dataFolder)) {
    throw Failure("The photo catalog could not be created: the folder " + dataFolder +
                  " cannot be made.");
  }
  std::string file = path(dataFolder);
  // The catalog names every photo the owner keeps: private like the other
  // stores. SQLite gives its journal files the mode of the database file.
  const int made = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  const int error = made < 0 || ::fchmod(made, 0600) != 0 ? errno : 0;
  if (made >= 0) ::close(made);
  if (error != 0) {
    throw Failure("The photo catalog " + file + " could not be opened: " + std::strerror(error) + ".");
  }
  int rc =
      sqlite3_open_v2(file.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    throw Failure("The photo catalog " + file + " could not be opened: " + reason + ".");
  }
  try {
    // Another process (or a writer on this one) briefly holding the lock
    // should delay a write, not fail it.
    if (sqlite3_busy_timeout(db_, 5000) != SQLITE_OK) fail(db_, "be set up");
    execute(db_, "PRAGMA journal_mode = WAL");
    // In WAL mode NORMAL loses at most the last transactions on power loss,
    // never the database; the next index() finds those files again.
    execute(db_, "PRAGMA synchronous = NORMAL");
    execute(db_, "PRAGMA foreign_keys = ON");
    Statement version(db_, "PRAGMA user_version");
    int found = version.step() ? static_cast<int>(version.integer(0)) : 0;
    if (found != kSchemaVersion) {
      Transaction transaction(db_);
      execute(db_, "DROP TABLE IF EXISTS files; DROP TABLE IF EXISTS assets;");
      execute(db_, kSchema);
      execute(db_, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
      transaction.commit();
    }
  } catch (...) {
    sqlite3_close(db_);
    throw;
  }
}

Catalog::~Catalog() {
  for (const auto& [sql, statement] : kept_) sqlite3_finalize(statement);
  sqlite3_close(db_);
}

std::vector<CatalogAsset> Catalog::remembered(std::vector<CatalogAsset> assets) const {
  // A single asset is what find() and scattered reads ask for; only runs
  // are worth keeping.
  if (assets.size() > 1) {
    recent_.writes = writes_;
    recent_.assets = assets;
    recent_.next = 0;
  }
  return assets;
}

const CatalogAsset* Catalog::recentlyRead(const std::string& localIdentifier) const {
  if (recent_.writes != writes_ || recent_.assets.empty()) return nullptr;
  // Asked for in the order they were read, so the next one is the likely one.
  const std::size_t count = recent_.assets.size();
  for (std::size_t step = 0; step < count; ++step) {
    const std::size_t at = (recent_.next + step) % count;
    if (recent_.assets[at].localIdentifier == localIdentifier) {
      recent_.next = at + 1;
      return &recent_.assets[at];
    }
  }
  return nullptr;
}

sqlite3_stmt* Catalog::kept(const std::string& sql) const {
  auto found = kept_.find(sql);
  if (found != kept_.end()) return found->second;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
    fail(db_, "prepare a query");
  kept_.emplace(sql, statement);
  return statement;
}

Catalog::Walk Catalog::walk(const std::vector<std::string>& folders) const {
  Walk result;
  // Folders already listed, so that a link back up the tree, or a chosen
  // folder inside another, lists its files once.
  std::set<std::pair<dev_t, ino_t>> visited;
  std::size_t unreadableRoots = 0;
  for (const std::string& chosen : folders) {
    std::string root = withoutTrailingSlashes(chosen);
    std::vector<std::string> pending{root};
    while (!pending.empty()) {
      std::string folder = std::move(pending.back());
      pending.pop_back();
      std::unique_ptr<DIR, CloseDirectory> directory(opendir(folder.c_str()));
      struct stat self {};
      if (!directory || fstat(dirfd(directory.get()), &self) != 0) {
        result.unreadable.push_back(folder);
        if (folder == root) ++unreadableRoots;
        continue;
      }
      if (!visited.insert({self.st_dev, self.st_ino}).second) continue;

      std::vector<std::string> names;
      std::unordered_map<std::string, FileState> states;
      errno = 0;
      bool complete = true;
      while (dirent* entry = readdir(directory.get())) {
        // Hidden entries (".Trash-1000", ".thumbnails", "._IMG_0001.JPG")
        // are never photos of the owner's.
        if (entry->d_name[0] == '.') continue;
        // Most files of a photo folder are photos, but a stat of every
        // other file is saved where the file system tells its type.
        if (entry->d_type == DT_REG && !FolderGrouping::isLibraryName(entry->d_name)) continue;
        struct stat info {};
        if (fstatat(dirfd(directory.get()), entry->d_name, &info, 0) != 0) {
          errno = 0;  // a dangling link, or a file removed meanwhile
          continue;
        }
        if (S_ISDIR(info.st_mode)) {
          pending.push_back(folder + "/" + entry->d_name);
        } else if (S_ISREG(info.st_mode) && FolderGrouping::isLibraryName(entry->d_name)) {
          names.emplace_back(entry->d_name);
          states[entry->d_name] = {
              static_cast<std::int64_t>(info.st_size),
              MediaMetadata::fileNanoseconds(info.st_mtim),
              static_cast<std::uint64_t>(info.st_ino)};
        }
        errno = 0;
      }
      if (errno != 0) complete = false;
      if (!complete) {
        // Half a folder would drop the assets of the other half.
        result.unreadable.push_back(folder);
        if (folder == root) ++unreadableRoots;
        continue;
      }
      for (GroupedAsset& grouped : FolderGrouping::group(names)) {
        FoundAsset asset{grouped.mediaType, {}};
        for (GroupedFile& file : grouped.files) {
          asset.files.push_back({folder + "/" + file.name, file.role, states[file.name]});
        }
        result.assets.push_back(std::move(asset));
      }
    }
  }
  if (folders.empty()) {
    result.access = LibraryAccess::notAsked;
  } else if (unreadableRoots == folders.size()) {
    result.access = LibraryAccess::denied;
  } else if (!result.unreadable.empty()) {
    result.access = LibraryAccess::limited;
  } else {
    result.access = LibraryAccess::full;
  }
  return result;
}

std::unique_ptr<Catalog::Snapshot> Catalog::snapshot() const {
  auto snapshot = std::make_unique<Snapshot>();
  std::lock_guard lock(mutex_);
  snapshot->writes = writes_;
  Statement files(db_,
                  "SELECT path, asset, role, rank, size, mtime, inode, readable, created, width, "
                  "height, duration FROM files");
  while (files.step()) {
    StoredFile file;
    file.asset = files.integer(1);
    file.role = static_cast<int>(files.integer(2));
    file.rank = static_cast<int>(files.integer(3));
    file.state = {files.integer(4), files.integer(5), static_cast<std::uint64_t>(files.integer(6))};
    file.facts = {files.integer(7) != 0, files.optionalInteger(8),
                  static_cast<int>(files.integer(9)), static_cast<int>(files.integer(10)),
                  files.optionalReal(11)};
    snapshot->files.emplace(files.text(0), std::move(file));
  }
  Statement assets(db_,
                   "SELECT main_path, id, media_type, created, modified, width, height, duration "
                   "FROM assets");
  while (assets.step()) {
    StoredAsset asset;
    asset.id = assets.integer(1);
    asset.fields = {static_cast<int>(assets.integer(2)),
                    assets.optionalInteger(3),
                    assets.integer(4),
                    static_cast<int>(assets.integer(5)),
                    static_cast<int>(assets.integer(6)),
                    assets.optionalReal(7)};
    snapshot->assets.emplace(assets.text(0), asset);
  }
  return snapshot;
}

IndexReport Catalog::index(const std::vector<std::string>& folders) {
  IndexReport report;
  Walk found = walk(folders);
  report.unreadable = found.unreadable;
  report.access = found.access;

  // Files read during this call, so that a retry after a concurrent write
  // reads nothing twice.
  std::unordered_map<std::string, std::pair<FileState, FileFacts>> readNow;

  for (;;) {
    std::unique_ptr<Snapshot> stored = snapshot();

    std::vector<PlannedAsset> plan;
    plan.reserve(found.assets.size());
    for (const FoundAsset& asset : found.assets) {
      PlannedAsset planned;
      planned.mainPath = asset.files.front().path;
      for (const FoundFile& file : asset.files) {
        FileRow row{file.path,
                    static_cast<int>(file.role),
                    static_cast<int>(planned.files.size()),
                    file.state,
                    {}};
        auto known = stored->files.find(file.path);
        auto readBefore = readNow.find(file.path);
        if (known != stored->files.end() && known->second.state == file.state) {
          row.facts = known->second.facts;
        } else if (readBefore != readNow.end() && readBefore->second.first == file.state) {
          row.facts = readBefore->second.second;
        } else if (file.role != FileRole::adjustmentData) {
          auto type = MimeTypes::forFileName(file.path);
          if (type) row.facts = factsOf(options_.readMetadata(file.path, type->kind));
          ++report.metadataReads;
          readNow[file.path] = {file.state, row.facts};
        }
        planned.files.push_back(std::move(row));
      }
      planned.fields =
          fieldsOf(asset.mediaType, planned.files, options_.modificationTimeAsCreation);
      plan.push_back(std::move(planned));
    }

    std::lock_guard lock(mutex_);
    // Another index() or a remove() wrote since the snapshot: plan again on
    // the new content (with nothing read twice).
    if (writes_ != stored->writes) continue;

    report.added = report.changed = report.removed = 0;
    Transaction transaction(db_);
    bool wrote = false;

    std::unordered_set<std::string> plannedMains, plannedFiles;
    for (const PlannedAsset& asset : plan) {
      plannedMains.insert(asset.mainPath);
      for (const FileRow& file : asset.files) plannedFiles.insert(file.path);
    }

    // Dropped first: their files may belong to a planned asset now.
    std::unordered_set<std::int64_t> dropped;
    Statement dropAsset(db_, "DELETE FROM assets WHERE id = ?1");
    for (const auto& [mainPath, asset] : stored->assets) {
      if (plannedMains.contains(mainPath)) continue;
      dropAsset.reset();
      dropAsset.bind(1, asset.id).run();
      dropped.insert(asset.id);
      ++report.removed;
      wrote = true;
    }

    Statement insertAsset(db_,
                          "INSERT INTO assets(local_id, main_path, media_type, created, modified, "
                          "width, height, duration) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    Statement updateAsset(db_,
                          "UPDATE assets SET media_type = ?2, created = ?3, modified = ?4, "
                          "width = ?5, height = ?6, duration = ?7 WHERE id = ?1");
    Statement upsertFile(
        db_,
        "INSERT INTO files(path, asset, role, rank, size, mtime, inode, readable, created, width, "
        "height, duration) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12) "
        "ON CONFLICT(path) DO UPDATE SET asset = ?2, role = ?3, rank = ?4, size = ?5, mtime = ?6, "
        "inode = ?7, readable = ?8, created = ?9, width = ?10, height = ?11, duration = ?12");
    for (const PlannedAsset& asset : plan) {
      const AssetFields& f = asset.fields;
      std::int64_t id;
      bool assetChanged = false;
      auto known = stored->assets.find(asset.mainPath);
      if (known == stored->assets.end()) {
        insertAsset.reset();
        insertAsset.bind(1, newLocalIdentifier())
            .bind(2, asset.mainPath)
            .bind(3, std::int64_t{f.mediaType})
            .bind(4, f.created)
            .bind(5, f.modified)
            .bind(6, std::int64_t{f.width})
            .bind(7, std::int64_t{f.height})
            .bind(8, f.duration)
            .run();
        id = sqlite3_last_insert_rowid(db_);
        ++report.added;
        wrote = true;
      } else {
        id = known->second.id;
        if (!(known->second.fields == f)) {
          updateAsset.reset();
          updateAsset.bind(1, id)
              .bind(2, std::int64_t{f.mediaType})
              .bind(3, f.created)
              .bind(4, f.modified)
              .bind(5, std::int64_t{f.width})
              .bind(6, std::int64_t{f.height})
              .bind(7, f.duration)
              .run();
          assetChanged = true;
        }
      }
      for (const FileRow& file : asset.files) {
        auto before = stored->files.find(file.path);
        // A file of a dropped asset went with it, even when a new asset
        // took over that asset's row id.
        bool same = before != stored->files.end() && !dropped.contains(before->second.asset) &&
                    before->second.asset == id && before->second.role == file.role &&
                    before->second.rank == file.rank && before->second.state == file.state &&
                    before->second.facts == file.facts;
        if (same) continue;
        upsertFile.reset();
        upsertFile.bind(1, file.path)
            .bind(2, id)
            .bind(3, std::int64_t{file.role})
            .bind(4, std::int64_t{file.rank})
            .bind(5, file.state.size)
            .bind(6, file.state.mtime)
            .bind(7, static_cast<std::int64_t>(file.state.inode))
            .bind(8, std::int64_t{file.facts.readable ? 1 : 0})
            .bind(9, file.facts.created)
            .bind(10, std::int64_t{file.facts.width})
            .bind(11, std::int64_t{file.facts.height})
            .bind(12, file.facts.duration)
            .run();
        assetChanged = assetChanged || known != stored->assets.end();
        wrote = true;
      }
      if (assetChanged) {
        ++report.changed;
        wrote = true;
      }
    }

    Statement dropFile(db_, "DELETE FROM files WHERE path = ?1");
    for (const auto& [path, file] : stored->files) {
      if (plannedFiles.contains(path) || dropped.contains(file.asset)) continue;
      dropFile.reset();
      dropFile.bind(1, path).run();
      wrote = true;
    }

    if (wrote) {
      renumber();
      transaction.commit();
      ++writes_;
    }
    return report;
  }
}

void Catalog::renumber() {
  // Only rows whose place moved are written: adding the newest photo moves
  // every row, adding the oldest moves one.
  execute(db_,
          "UPDATE assets SET position = ranked.place, type_position = ranked.typePlace FROM ("
          "  SELECT id,"
          "    row_number() OVER (ORDER BY created DESC, local_id DESC) - 1 AS place,"
          "    row_number() OVER (PARTITION BY media_type ORDER BY created DESC, local_id DESC) - 1"
          "      AS typePlace"
          "  FROM assets) AS ranked "
          "WHERE assets.id = ranked.id"
          "  AND (assets.position != ranked.place OR assets.type_position != ranked.typePlace)");
}

std::int64_t Catalog::count() const {
  std::lock_guard lock(mutex_);
  // Positions are dense, so the largest one counts the rows through the
  // index, where count(*) would visit every row.
  Statement last(db_, kept("SELECT max(position) FROM assets"));
  return last.step() && !last.isNull(0) ? last.integer(0) + 1 : 0;
}

std::optional<CatalogAsset> Catalog::at(std::int64_t position) const {
  auto assets = range(position, position + 1);
  if (assets.empty()) return std::nullopt;
  return std::move(assets.front());
}

std::vector<CatalogAsset> Catalog::range(std::int64_t from, std::int64_t to) const {
  if (from < 0) from = 0;
  if (to <= from) return {};
  std::lock_guard lock(mutex_);
  Statement rows(db_, kept(std::string(kAssetColumns) +
                           "WHERE position >= ?1 AND position < ?2 ORDER BY position"));
  Statement files(db_, kept(kFilesOfAsset));
  rows.bind(1, from).bind(2, to);
  return remembered(readAssets(rows, files));
}

std::int64_t Catalog::countNewerThan(TimePoint created) const {
  {
    std::lock_guard lock(mutex_);
    // The newest asset at or before `created` is one seek in the date index.
    Statement first(db_, kept("SELECT position FROM assets WHERE created <= ?1 "
                              "ORDER BY created DESC, local_id DESC LIMIT 1"));
    first.bind(1, toMicros(created));
    if (first.step()) return first.integer(0);
  }
  return countDated();
}

std::int64_t Catalog::countDated() const {
  {
    std::lock_guard lock(mutex_);
    Statement first(db_, kept("SELECT position FROM assets WHERE created IS NULL "
                              "ORDER BY created DESC, local_id DESC LIMIT 1"));
    if (first.step()) return first.integer(0);
  }
  return count();
}

std::int64_t Catalog::count(MediaType type) const {
  std::lock_guard lock(mutex_);
  Statement last(db_, kept("SELECT max(type_position) FROM assets WHERE media_type = ?1"));
  last.bind(1, std::int64_t{static_cast<int>(type)});
  return last.step() && !last.isNull(0) ? last.integer(0) + 1 : 0;
}

std::optional<CatalogAsset> Catalog::at(MediaType type, std::int64_t position) const {
  auto assets = range(type, position, position + 1);
  if (assets.empty()) return std::nullopt;
  return std::move(assets.front());
}

std::vector<CatalogAsset> Catalog::range(MediaType type, std::int64_t from, std::int64_t to) const {
  if (from < 0) from = 0;
  if (to <= from) return {};
  std::lock_guard lock(mutex_);
  Statement rows(db_, kept(std::string(kAssetColumns) +
                           "WHERE media_type = ?1 AND type_position >= ?2 AND type_position < ?3 "
                           "ORDER BY type_position"));
  Statement files(db_, kept(kFilesOfAsset));
  rows.bind(1, std::int64_t{static_cast<int>(type)}).bind(2, from).bind(3, to);
  return remembered(readAssets(rows, files));
}

std::int64_t Catalog::countNewerThan(MediaType type, TimePoint created) const {
  {
    std::lock_guard lock(mutex_);
    Statement first(db_, kept("SELECT type_position FROM assets WHERE media_type = ?1 AND created <= ?2 "
                              "ORDER BY created DESC, local_id DESC LIMIT 1"));
    first.bind(1, std::int64_t{static_cast<int>(type)}).bind(2, toMicros(created));
    if (first.step()) return first.integer(0);
  }
  return countDated(type);
}

std::int64_t Catalog::countDated(MediaType type) const {
  {
    std::lock_guard lock(mutex_);
    Statement first(db_, kept("SELECT type_position FROM assets WHERE media_type = ?1 AND created IS NULL "
                              "ORDER BY created DESC, local_id DESC LIMIT 1"));
    first.bind(1, std::int64_t{static_cast<int>(type)});
    if (first.step()) return first.integer(0);
  }
  return count(type);
}

std::vector<CatalogAsset> Catalog::find(const std::vector<std::string>& localIdentifiers) const {
  std::lock_guard lock(mutex_);
  Statement row(db_, kept(std::string(kAssetColumns) + "WHERE local_id = ?1"));
  Statement files(db_, kept(kFilesOfAsset));
  std::vector<CatalogAsset> assets;
  for (const std::string& identifier : localIdentifiers) {
    if (const CatalogAsset* known = recentlyRead(identifier)) {
      assets.push_back(*known);
      continue;
    }
    row.reset();
    row.bind(1, identifier);
    if (row.step()) assets.push_back(readAsset(row, files));
  }
  return assets;
}

Catalog::Counts Catalog::counts() const {
  std::lock_guard lock(mutex_);
  Statement byType(db_, "SELECT media_type, count(*) FROM assets GROUP BY media_type");
  Counts counts;
  while (byType.step()) {
    auto type = static_cast<MediaType>(byType.integer(0));
    (type == MediaType::video ? counts.videos : counts.images) += byType.integer(1);
  }
  return counts;
}

bool Catalog::remove(const std::string& localIdentifier) {
  std::lock_guard lock(mutex_);
  Transaction transaction(db_);
  Statement drop(db_, "DELETE FROM assets WHERE local_id = ?1");
  drop.bind(1, localIdentifier).run();
  if (sqlite3_changes(db_) == 0) return false;
  renumber();
  transaction.commit();
  ++writes_;
  return true;
}

}  // namespace lumenvale
