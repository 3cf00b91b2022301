#include "platform/folder/catalog.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <limits>
#include <map>
#include <set>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "util/atomic_file.h"
#include "util/bytes.h"
#include "util/failure.h"
#include "util/format.h"
#include "util/text.h"

namespace lumenvale {
namespace {

using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::nanoseconds;

// Raised when the tables on disk change. Version 2 is brought forward in
// place (ids are what laptops and safe marks hold); anything else unknown
// is rebuilt from the folders.
constexpr int kSchemaVersion = 3;

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
  type_position INTEGER NOT NULL DEFAULT -1,  -- the place among assets of its media type
  version INTEGER,           -- nanoseconds since 1970 UTC: the modification laptops see
  away_since INTEGER         -- microseconds since 1970 UTC; NULL while served
);
CREATE INDEX assets_by_position ON assets(position);
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
  duration REAL,
  ctime INTEGER NOT NULL DEFAULT 0,  -- nanoseconds since 1970 UTC; 0 unknown
  device INTEGER NOT NULL DEFAULT 0  -- 0 unknown
) WITHOUT ROWID;
CREATE INDEX files_by_asset ON files(asset, rank);
)sql";

// The date indexes hold only the assets served, in the listing's order.
constexpr const char* kDateIndexes = R"sql(
CREATE INDEX assets_by_date ON assets(created DESC, local_id DESC) WHERE away_since IS NULL;
CREATE INDEX assets_by_type_date ON assets(media_type, created DESC, local_id DESC)
  WHERE away_since IS NULL;
)sql";

// From version 2: the columns of versions, absence and file identity, and
// the tie-break by id. Every asset's version starts as what laptops were
// shown until now (its capture time; an edited one's modification time), so
// nothing they hold looks changed.
constexpr const char* kFromVersion2 = R"sql(
ALTER TABLE assets ADD COLUMN version INTEGER;
ALTER TABLE assets ADD COLUMN away_since INTEGER;
ALTER TABLE files ADD COLUMN ctime INTEGER NOT NULL DEFAULT 0;
ALTER TABLE files ADD COLUMN device INTEGER NOT NULL DEFAULT 0;
DROP INDEX IF EXISTS assets_by_date;
DROP INDEX IF EXISTS assets_by_type_date;
UPDATE assets SET version = CASE
  WHEN EXISTS(SELECT 1 FROM files WHERE files.asset = assets.id AND files.role IN (5, 6, 10))
    THEN modified
  ELSE coalesce(created * 1000, modified) END;
)sql";

constexpr const char* kAssetColumns =
    "SELECT id, local_id, media_type, created, modified, width, height, duration, version FROM assets ";

TimePoint fromNanos(std::int64_t value) {
  return TimePoint(duration_cast<TimePoint::duration>(nanoseconds(value)));
}
// nanosOf returns a file time as nanoseconds since 1970 (see fileTime).
std::int64_t nanosOf(const struct timespec& time) { return MediaMetadata::fileNanoseconds(time); }
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
  std::int64_t ctime = 0;    // 0: not known (a row of an earlier version)
  std::uint64_t device = 0;  // 0: not known
  bool operator==(const FileState&) const = default;
};

FileState stateOf(const struct stat& info) {
  return {static_cast<std::int64_t>(info.st_size), nanosOf(info.st_mtim),
          static_cast<std::uint64_t>(info.st_ino), nanosOf(info.st_ctim),
          static_cast<std::uint64_t>(info.st_dev)};
}

// sameBytes says whether a file found now is the one recorded `before`, as
// far as its state can tell. `moved` leaves the change time out: renaming
// a file sets it.
bool sameBytes(const FileState& before, const FileState& now, bool moved = false) {
  if (before.size != now.size || before.mtime != now.mtime) return false;
  // A file system mounted again may number its files anew (FAT does), so
  // on another device only the size and the time can tell.
  if (before.device != 0 && before.device != now.device) return true;
  if (before.inode != now.inode) return false;
  return moved || before.ctime == 0 || before.ctime == now.ctime;
}

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
  std::optional<std::int64_t> version;
  std::optional<std::int64_t> awaySince;
};

struct FoundFile {
  std::string path;
  ResourceType role;
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

bool isEdit(int role) {
  return role == static_cast<int>(ResourceType::fullSizePhoto) ||
         role == static_cast<int>(ResourceType::fullSizeVideo) ||
         role == static_cast<int>(ResourceType::fullSizePairedVideo);
}

// firstVersion is what laptops have always been shown as an asset's
// modification: its capture time, or for an edited asset its newest file's
// modification time.
std::int64_t firstVersion(const AssetFields& fields, const std::vector<FileRow>& files) {
  const bool edited = std::any_of(files.begin(), files.end(), [](const FileRow& file) { return isEdit(file.role); });
  if (edited || !fields.created) return fields.modified;
  const std::int64_t created = *fields.created;
  constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / 1000;
  return std::clamp(created, -kLimit, kLimit) * 1000;
}

// nextVersion moves a version past `before` for changed files: to the new
// first version when that is later, else one second on, so that even the
// whole seconds laptops see differ.
std::int64_t nextVersion(std::int64_t before, std::int64_t first) {
  constexpr std::int64_t kSecond = 1'000'000'000;
  if (before > std::numeric_limits<std::int64_t>::max() - kSecond) return before;
  return std::max(first, before + kSecond);
}

std::string parentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::int64_t microsSince1970(TimePoint time) {
  return std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
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
  fields.modified = main.state.mtime;
  for (const FileRow& file : files) {
    fields.modified = std::max(fields.modified, file.state.mtime);
    bool edit = file.role == static_cast<int>(ResourceType::fullSizePhoto) ||
                file.role == static_cast<int>(ResourceType::fullSizeVideo);
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
  asset.version = row.isNull(8) ? asset.modified : fromNanos(row.integer(8));
  files.reset();
  files.bind(1, row.integer(0));
  while (files.step()) {
    asset.files.push_back({files.text(0), static_cast<ResourceType>(files.integer(1)), files.integer(2),
                           fromNanos(files.integer(3)), static_cast<std::uint64_t>(files.integer(4)),
                           files.integer(5), static_cast<std::uint64_t>(files.integer(6))});
  }
  return asset;
}

constexpr const char* kFilesOfAsset =
    "SELECT path, role, size, mtime, inode, ctime, device FROM files WHERE asset = ?1 ORDER BY rank";

std::vector<CatalogAsset> readAssets(Statement& rows, Statement& files) {
  std::vector<CatalogAsset> assets;
  while (rows.step()) assets.push_back(readAsset(rows, files));
  return assets;
}

using ReadCache = std::unordered_map<std::string, std::pair<FileState, FileFacts>>;

// planAssets turns what the walk found into the rows the catalog should
// hold. Metadata is read only for a file whose bytes differ from what
// `stored` recorded and from what this index() read before (`readNow`).
std::vector<PlannedAsset> planAssets(const std::vector<FoundAsset>& found,
                                     const std::unordered_map<std::string, StoredFile>& stored,
                                     const Catalog::Options& options, ReadCache& readNow, std::int64_t& metadataReads) {
  std::vector<PlannedAsset> plan;
  plan.reserve(found.size());
  for (const FoundAsset& asset : found) {
    PlannedAsset planned;
    planned.mainPath = asset.files.front().path;
    for (const FoundFile& file : asset.files) {
      FileRow row{file.path,
                  static_cast<int>(file.role),
                  static_cast<int>(planned.files.size()),
                  file.state,
                  {}};
      auto known = stored.find(file.path);
      auto readBefore = readNow.find(file.path);
      if (known != stored.end() && sameBytes(known->second.state, file.state)) {
        row.facts = known->second.facts;
      } else if (readBefore != readNow.end() && readBefore->second.first == file.state) {
        row.facts = readBefore->second.second;
      } else if (file.role != ResourceType::adjustmentData) {
        auto type = MimeTypes::folderType(file.path);
        if (type) row.facts = factsOf(options.readMetadata(file.path, type->kind));
        ++metadataReads;
        readNow[file.path] = {file.state, row.facts};
      }
      planned.files.push_back(std::move(row));
    }
    planned.fields =
        fieldsOf(asset.mediaType, planned.files, options.modificationTimeAsCreation);
    plan.push_back(std::move(planned));
  }
  return plan;
}

// movesOf finds the assets that moved within the library: a stored asset
// whose main file is not where it was, and a planned one whose main file is
// that same file (inode, size, time) under a new path, keeps its
// identifier. Gives new main path -> old.
std::unordered_map<std::string, std::string> movesOf(const std::unordered_map<std::string, StoredAsset>& assets,
                                                     const std::unordered_map<std::string, StoredFile>& files,
                                                     const std::vector<PlannedAsset>& plan,
                                                     const std::unordered_set<std::string>& planned) {
  std::map<std::tuple<std::uint64_t, std::int64_t, std::int64_t>, std::string> missingByFile;
  for (const auto& [mainPath, asset] : assets) {
    if (planned.contains(mainPath)) continue;
    auto main = files.find(mainPath);
    if (main == files.end() || main->second.state.inode == 0) continue;
    const FileState& state = main->second.state;
    missingByFile[{state.inode, state.size, state.mtime}] = mainPath;
  }
  std::unordered_map<std::string, std::string> movedFrom;  // new main path -> old
  for (const PlannedAsset& asset : plan) {
    if (assets.contains(asset.mainPath)) continue;
    const FileState& state = asset.files.front().state;
    auto match = missingByFile.find({state.inode, state.size, state.mtime});
    if (match == missingByFile.end()) continue;
    movedFrom[asset.mainPath] = match->second;
    missingByFile.erase(match);
  }
  return movedFrom;
}

}  // namespace

struct Catalog::Walk {
  std::vector<FoundAsset> assets;
  std::vector<std::string> unreadable;
  // The folders listed whole, with the device they were on: a file missing
  // from one of them is gone, unless it was recorded on another device.
  std::unordered_map<std::string, std::uint64_t> listed;
  // Folders met so far, so that a chosen folder inside another lists its
  // files once.
  std::set<std::pair<dev_t, ino_t>> visited;
  // The data folder's own files, which no link may bring into the library.
  std::set<std::pair<dev_t, ino_t>> privateFiles;
  std::size_t unreadableRoots = 0;
  LibraryAccess access = LibraryAccess::notAsked;
};

struct Catalog::Snapshot {
  std::uint64_t writes = 0;
  std::unordered_map<std::string, StoredFile> files;    // by path
  std::unordered_map<std::string, StoredAsset> assets;  // by main file path
};

struct Catalog::Damaged : Catalog::Failure {
  using Failure::Failure;
};

namespace {

// Deeper than any photo folder; a limit keeps a hostile tree from using up
// the descriptors the walk holds, one per level.
constexpr int kMaxFolderDepth = 64;

// The ids file: a first line, then one line per asset:
// "<local id> <main file size> <path length>:<path>\n" (paths are bytes,
// any bytes). The size keeps a new photo that took a deleted one's name
// (cameras count again from 1) from taking its id too.
constexpr std::string_view kIdsHeader = "lumenvale catalog ids 1\n";

std::string damagedName(const std::string& file) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  char stamp[32] = "unknown";
  if (gmtime_r(&now, &utc) != nullptr) std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  return file + ".damaged-" + stamp;
}

}  // namespace

std::unordered_map<std::string, Catalog::RecoveredId> Catalog::readIds(const std::string& path) {
  std::unordered_map<std::string, RecoveredId> ids;
  const std::optional<std::string> text = AtomicFile::read(path);
  if (!text || !text->starts_with(kIdsHeader)) return ids;
  const auto number = [](std::string_view digits) -> std::optional<std::int64_t> {
    if (digits.empty() || digits.size() > 18 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
      return std::nullopt;
    }
    return std::stoll(std::string(digits));
  };
  std::string_view rest(*text);
  rest.remove_prefix(kIdsHeader.size());
  while (!rest.empty()) {
    const std::size_t space = rest.find(' ');
    const std::size_t second = space == std::string_view::npos ? space : rest.find(' ', space + 1);
    const std::size_t colon = second == std::string_view::npos ? second : rest.find(':', second + 1);
    if (colon == std::string_view::npos) break;
    const auto size = number(rest.substr(space + 1, second - space - 1));
    const auto length = number(rest.substr(second + 1, colon - second - 1));
    if (!size || !length || colon + 1 + static_cast<std::size_t>(*length) >= rest.size() ||
        rest[colon + 1 + static_cast<std::size_t>(*length)] != '\n') {
      break;
    }
    ids[std::string(rest.substr(colon + 1, static_cast<std::size_t>(*length)))] =
        RecoveredId{std::string(rest.substr(0, space)), *size};
    rest.remove_prefix(colon + 2 + static_cast<std::size_t>(*length));
  }
  return ids;
}

bool CatalogFile::isFoundIn(const struct stat& facts) const {
  return S_ISREG(facts.st_mode) && static_cast<std::uint64_t>(facts.st_ino) == inode &&
         (device == 0 || static_cast<std::uint64_t>(facts.st_dev) == device) &&
         static_cast<std::int64_t>(facts.st_size) == size && Catalog::fileTime(facts.st_mtim) == modified;
}

std::string CatalogFile::name() const {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

TimePoint Catalog::fileTime(const struct timespec& time) { return fromNanos(nanosOf(time)); }

std::string Catalog::path(const std::string& dataFolder) { return dataFolder + "/library.db"; }
std::string Catalog::idsPath(const std::string& dataFolder) { return path(dataFolder) + ".ids"; }

Catalog::Catalog(const std::string& dataFolder) : Catalog(dataFolder, Options{}) {}

Catalog::Catalog(const std::string& dataFolder, Options options)
    : options_(std::move(options)), dataFolder_(dataFolder) {
  if (!options_.readMetadata) {
    options_.readMetadata = [](const std::string& path, MimeTypes::Kind kind) {
      return kind == MimeTypes::Kind::video ? MediaMetadata::readVideo(path)
                                            : MediaMetadata::readPhoto(path);
    };
  }
  if (!options_.now) options_.now = systemNow;
  if (!AtomicFile::makeDirectories(dataFolder)) {
    throw Failure("The photo catalog could not be created: the folder " + dataFolder +
                  " cannot be made.");
  }
  const std::string file = path(dataFolder);
  // Nothing else sees the catalog yet; the lock only keeps the rule simple.
  MutexLock hold(mutex_);
  try {
    open(file);
  } catch (const Damaged& damaged) {
    // The catalog is only an index of the folders: rebuilt, it loses
    // nothing but the ids, and those are kept beside it.
    const std::string aside = damagedName(file);
    if (::rename(file.c_str(), aside.c_str()) != 0) {
      throw Failure("The photo catalog " + file + " is damaged (" + damaged.description +
                    ") and cannot be moved aside: " + errnoText(errno) + ".");
    }
    for (const char* journal : {"-wal", "-shm"}) {
      const std::string from = file + journal;
      if (::rename(from.c_str(), (aside + journal).c_str()) != 0 && errno != ENOENT) {
        throw Failure("The photo catalog " + file + " is damaged (" + damaged.description +
                      ") and its journal cannot be moved aside: " + errnoText(errno) + ".");
      }
    }
    open(file);
    recoveredIds_ = readIds(idsPath(dataFolder));
    const auto kept = static_cast<std::int64_t>(recoveredIds_.size());
    recovery_ = "The photo catalog was damaged (" + damaged.description + "): it was moved aside to " + aside +
                " and is built again from the folders, " +
                (kept == 0 ? std::string("without the ids laptops know, so they will copy the library again.")
                           : "with the ids of " +
                                 (kept == 1 ? std::string("1 photo or video") : Format::count(kept) + " photos and videos") +
                                 " kept.");
  }
}

void Catalog::open(const std::string& file) {
  // The catalog names every photo the owner keeps: private like the other
  // stores. SQLite gives its journal files the mode of the database file.
  const int made = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  const int error = made < 0 || ::fchmod(made, 0600) != 0 ? errno : 0;
  if (made >= 0) ::close(made);
  if (error != 0) {
    throw Failure("The photo catalog " + file + " could not be opened: " + errnoText(error) + ".");
  }
  int rc =
      sqlite3_open_v2(file.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
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
    {
      // A page torn by a failing card or a crash of the file system shows
      // here, before any listing trips over it.
      Statement check(db_, "PRAGMA quick_check(1)");
      if (!check.step() || check.text(0) != "ok") throw Damaged(check.text(0));
    }
    int found = 0;
    {
      Statement version(db_, "PRAGMA user_version");
      if (version.step()) found = static_cast<int>(version.integer(0));
    }
    if (found != kSchemaVersion) {
      Transaction transaction(db_);
      if (found == 2) {
        execute(db_, kFromVersion2);
      } else {
        execute(db_, "DROP TABLE IF EXISTS files; DROP TABLE IF EXISTS assets;");
        execute(db_, kSchema);
      }
      execute(db_, kDateIndexes);
      renumber();
      execute(db_, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
      transaction.commit();
    }
  } catch (const Failure& failure) {
    const int code = sqlite3_errcode(db_) & 0xff;
    const std::string reason = sqlite3_errmsg(db_);
    sqlite3_close(db_);
    db_ = nullptr;
    if (dynamic_cast<const Damaged*>(&failure) != nullptr) throw;
    if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB) throw Damaged(reason);
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
  // The data folder holds the device's private key: a hard link to it,
  // named like a photo, must not make it one.
  if (DIR* data = opendir(dataFolder_.c_str())) {
    std::unique_ptr<DIR, CloseDirectory> closing(data);
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
      const std::string sub = std::move(pending.back());
      pending.pop_back();
      std::unique_ptr<DIR, CloseDirectory> folder(opendir((dataFolder_ + sub).c_str()));
      if (!folder) continue;
      while (dirent* entry = readdir(folder.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat info {};
        if (fstatat(dirfd(folder.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(info.st_mode) && sub.size() < 256) pending.push_back(sub + "/" + name);
        if (S_ISREG(info.st_mode)) result.privateFiles.insert({info.st_dev, info.st_ino});
      }
    }
  }
  for (const std::string& chosen : folders) {
    const std::string root = Text::withoutTrailingSlashes(chosen);
    // The chosen folder itself may be a link (the owner named it); below
    // it, nothing is followed.
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      result.unreadable.push_back(root);
      ++result.unreadableRoots;
      continue;
    }
    listTree(fd, root, 0, result);
  }
  if (folders.empty()) {
    result.access = LibraryAccess::notAsked;
  } else if (result.unreadableRoots == folders.size()) {
    result.access = LibraryAccess::denied;
  } else if (!result.unreadable.empty()) {
    result.access = LibraryAccess::limited;
  } else {
    result.access = LibraryAccess::full;
  }
  return result;
}

void Catalog::listTree(int fd, const std::string& folder, int depth, Walk& result) const {
  struct stat self {};
  DIR* opened = ::fstat(fd, &self) == 0 ? fdopendir(fd) : nullptr;
  if (opened == nullptr) {
    ::close(fd);
    result.unreadable.push_back(folder);
    if (depth == 0) ++result.unreadableRoots;
    return;
  }
  std::unique_ptr<DIR, CloseDirectory> directory(opened);
  if (!result.visited.insert({self.st_dev, self.st_ino}).second) return;

  std::vector<std::string> names, folders;
  std::unordered_map<std::string, FileState> states;
  errno = 0;
  bool complete = true;
  while (dirent* entry = readdir(directory.get())) {
    // Hidden entries (".Trash-1000", ".thumbnails", "._IMG_0001.JPG")
    // are never photos of the owner's.
    if (entry->d_name[0] == '.') continue;
    // A link is never followed: it could lead anywhere the device can
    // read, its own private key included, and a delete through it would
    // move what lies outside the library.
    if (entry->d_type == DT_LNK) continue;
    // Most files of a photo folder are photos, but a stat of every
    // other file is saved where the file system tells its type.
    if (entry->d_type == DT_REG && !FolderGrouping::isLibraryName(entry->d_name)) continue;
    struct stat info {};
    if (fstatat(dirfd(directory.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      errno = 0;  // removed meanwhile
      continue;
    }
    if (S_ISDIR(info.st_mode)) {
      folders.emplace_back(entry->d_name);
    } else if (S_ISREG(info.st_mode) && FolderGrouping::isLibraryName(entry->d_name) &&
               !result.privateFiles.contains({info.st_dev, info.st_ino})) {
      names.emplace_back(entry->d_name);
      states[entry->d_name] = stateOf(info);
    }
    errno = 0;
  }
  if (errno != 0) complete = false;
  if (!complete) {
    // Half a folder would make the other half look gone.
    result.unreadable.push_back(folder);
    if (depth == 0) ++result.unreadableRoots;
  } else {
    result.listed[folder] = static_cast<std::uint64_t>(self.st_dev);
    for (GroupedAsset& grouped : FolderGrouping::group(names)) {
      FoundAsset asset{grouped.mediaType, {}};
      for (GroupedFile& file : grouped.files) {
        asset.files.push_back({folder + "/" + file.name, file.role, states[file.name]});
      }
      result.assets.push_back(std::move(asset));
    }
  }
  for (const std::string& name : folders) {
    const std::string path = folder + "/" + name;
    // Opened through the folder just listed and never through a link, so
    // a folder swapped for a link meanwhile is not entered.
    const int child = depth + 1 < kMaxFolderDepth
                          ? ::openat(dirfd(directory.get()), name.c_str(),
                                     O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                          : -1;
    if (child < 0) {
      result.unreadable.push_back(path);
      continue;
    }
    listTree(child, path, depth + 1, result);
  }
}

std::unique_ptr<Catalog::Snapshot> Catalog::snapshot() const {
  auto snapshot = std::make_unique<Snapshot>();
  MutexLock lock(mutex_);
  snapshot->writes = writes_;
  Statement files(db_,
                  "SELECT path, asset, role, rank, size, mtime, inode, readable, created, width, "
                  "height, duration, ctime, device FROM files");
  while (files.step()) {
    StoredFile file;
    file.asset = files.integer(1);
    file.role = static_cast<int>(files.integer(2));
    file.rank = static_cast<int>(files.integer(3));
    file.state = {files.integer(4), files.integer(5), static_cast<std::uint64_t>(files.integer(6)),
                  files.integer(12), static_cast<std::uint64_t>(files.integer(13))};
    file.facts = {files.integer(7) != 0, files.optionalInteger(8),
                  static_cast<int>(files.integer(9)), static_cast<int>(files.integer(10)),
                  files.optionalReal(11)};
    snapshot->files.emplace(files.text(0), std::move(file));
  }
  Statement assets(db_,
                   "SELECT main_path, id, media_type, created, modified, width, height, duration, "
                   "version, away_since FROM assets");
  while (assets.step()) {
    StoredAsset asset;
    asset.id = assets.integer(1);
    asset.fields = {static_cast<int>(assets.integer(2)),
                    assets.optionalInteger(3),
                    assets.integer(4),
                    static_cast<int>(assets.integer(5)),
                    static_cast<int>(assets.integer(6)),
                    assets.optionalReal(7)};
    asset.version = assets.optionalInteger(8);
    asset.awaySince = assets.optionalInteger(9);
    snapshot->assets.emplace(assets.text(0), asset);
  }
  return snapshot;
}

// What one pass of index() writes: the plan against the snapshot it was
// made from, and what the steps learn on the way, under mutex_.
struct Catalog::IndexPass {
  IndexPass(const Snapshot& stored, const Walk& found, const std::vector<PlannedAsset>& plan, IndexReport& report)
      : stored(stored), found(found), plan(plan), report(report) {
    for (const PlannedAsset& asset : plan) {
      plannedMains.insert(asset.mainPath);
      for (const FileRow& file : asset.files) plannedFiles.insert(file.path);
    }
  }

  const Snapshot& stored;
  const Walk& found;
  const std::vector<PlannedAsset>& plan;
  IndexReport& report;
  std::unordered_set<std::string> plannedMains, plannedFiles;
  std::unordered_map<std::string, std::string> movedFrom;  // new main path -> old
  std::unordered_set<std::string> movedAway;               // the old main paths of those
  std::unordered_set<std::int64_t> dropped, away;           // asset row ids
  bool wrote = false;
  bool idsChanged = false;
};

IndexReport Catalog::index(const std::vector<std::string>& folders) {
  IndexReport report;
  Walk found = walk(folders);
  report.unreadable = found.unreadable;
  report.access = found.access;

  // Files read during this call, so that a retry after a concurrent write
  // reads nothing twice.
  ReadCache readNow;

  for (;;) {
    std::unique_ptr<Snapshot> stored = snapshot();
    const std::vector<PlannedAsset> plan =
        planAssets(found.assets, stored->files, options_, readNow, report.metadataReads);

    MutexLock lock(mutex_);
    // Another index() or a remove() wrote since the snapshot: plan again on
    // the new content (with nothing read twice).
    if (writes_ != stored->writes) continue;

    report.added = report.changed = report.removed = report.away = report.moved = 0;
    Transaction transaction(db_);
    IndexPass pass(*stored, found, plan, report);
    pass.idsChanged = !recoveredIds_.empty();
    pass.movedFrom = movesOf(stored->assets, stored->files, plan, pass.plannedMains);
    for (const auto& [to, from] : pass.movedFrom) pass.movedAway.insert(from);
    // Gone or away, first: their files may belong to a planned asset now.
    dropOrMarkAway(pass);
    writeAssets(pass);
    dropStaleFiles(pass);

    std::optional<std::string> ids;
    if (pass.wrote) {
      renumber();
      if (pass.idsChanged) ids = idsText();
      transaction.commit();
      ++writes_;
    }
    // Ids not claimed by the first index after a rebuild belong to files
    // that are gone.
    recoveredIds_.clear();
    const std::uint64_t written = writes_;
    lock.unlock();
    // Written with the catalog free: a large library's ids take a moment
    // to reach the disk, and listings need not wait for them.
    if (ids) writeIds(*ids, written);
    return report;
  }
}

// dropOrMarkAway drops the stored assets that are gone and marks those that
// are away (kept, not served), forgetting any away for too long.
void Catalog::dropOrMarkAway(IndexPass& pass) {
  const std::int64_t now = microsSince1970(options_.now());
  const std::int64_t forgetAfter =
      std::chrono::duration_cast<std::chrono::microseconds>(options_.forgetAwayAfter).count();
  Statement dropAsset(db_, "DELETE FROM assets WHERE id = ?1");
  Statement markAway(db_, "UPDATE assets SET away_since = ?2 WHERE id = ?1");
  for (const auto& [mainPath, asset] : pass.stored.assets) {
    if (pass.plannedMains.contains(mainPath) || pass.movedAway.contains(mainPath)) continue;
    auto folder = pass.found.listed.find(parentOf(mainPath));
    auto main = pass.stored.files.find(mainPath);
    const std::uint64_t device = main == pass.stored.files.end() ? 0 : main->second.state.device;
    // Missing from a folder read whole, on the device it was recorded
    // on: deleted. Anything else (a folder that cannot be read, a card
    // that left its mount point empty) is an absence.
    const bool gone = folder != pass.found.listed.end() && (device == 0 || device == folder->second);
    const bool forgotten = asset.awaySince && now - *asset.awaySince > forgetAfter;
    if (gone || forgotten) {
      dropAsset.reset();
      dropAsset.bind(1, asset.id).run();
      pass.dropped.insert(asset.id);
      ++pass.report.removed;
      pass.wrote = pass.idsChanged = true;
      continue;
    }
    pass.away.insert(asset.id);
    ++pass.report.away;
    if (!asset.awaySince) {
      markAway.reset();
      markAway.bind(1, asset.id).bind(2, now).run();
      pass.wrote = true;
    }
  }
}

// writeAssets adds the planned assets that are new (with an identifier a
// rebuild recovered, where one matches), updates those that changed or
// moved, and writes the rows of their files that differ.
void Catalog::writeAssets(IndexPass& pass) {
  // The files recorded of each asset, by row id, in their order.
  std::unordered_map<std::int64_t, std::vector<std::pair<std::string, const StoredFile*>>> filesOf;
  for (const auto& [path, file] : pass.stored.files) filesOf[file.asset].emplace_back(path, &file);
  for (auto& [asset, files] : filesOf) {
    std::sort(files.begin(), files.end(),
              [](const auto& a, const auto& b) { return a.second->rank < b.second->rank; });
  }

  Statement insertAsset(db_,
                        "INSERT INTO assets(local_id, main_path, media_type, created, modified, "
                        "width, height, duration, version) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
  Statement updateAsset(db_,
                        "UPDATE assets SET media_type = ?2, created = ?3, modified = ?4, "
                        "width = ?5, height = ?6, duration = ?7, version = ?8, main_path = ?9, "
                        "away_since = NULL WHERE id = ?1");
  Statement upsertFile(
      db_,
      "INSERT INTO files(path, asset, role, rank, size, mtime, inode, readable, created, width, "
      "height, duration, ctime, device) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14) "
      "ON CONFLICT(path) DO UPDATE SET asset = ?2, role = ?3, rank = ?4, size = ?5, mtime = ?6, "
      "inode = ?7, readable = ?8, created = ?9, width = ?10, height = ?11, duration = ?12, ctime = ?13, "
      "device = ?14");
  for (const PlannedAsset& asset : pass.plan) {
    const AssetFields& f = asset.fields;
    std::int64_t id;
    bool assetChanged = false;
    auto moved = pass.movedFrom.find(asset.mainPath);
    auto known = pass.stored.assets.find(moved == pass.movedFrom.end() ? asset.mainPath : moved->second);
    if (known == pass.stored.assets.end()) {
      std::string localId;
      auto recovered = recoveredIds_.find(asset.mainPath);
      if (recovered != recoveredIds_.end() && recovered->second.size == asset.files.front().state.size) {
        localId = std::move(recovered->second.localIdentifier);
        recoveredIds_.erase(recovered);
      } else {
        localId = newLocalIdentifier();
      }
      insertAsset.reset();
      insertAsset.bind(1, localId)
          .bind(2, asset.mainPath)
          .bind(3, std::int64_t{f.mediaType})
          .bind(4, f.created)
          .bind(5, f.modified)
          .bind(6, std::int64_t{f.width})
          .bind(7, std::int64_t{f.height})
          .bind(8, f.duration)
          .bind(9, firstVersion(f, asset.files))
          .run();
      id = sqlite3_last_insert_rowid(db_);
      ++pass.report.added;
      pass.wrote = pass.idsChanged = true;
    } else {
      const StoredAsset& before = known->second;
      id = before.id;
      const bool isMove = moved != pass.movedFrom.end();
      // Any file changed, added or gone moves the version on; a move
      // alone does not, nor does a catalog of an earlier version
      // learning a file's change time and device.
      const auto& recorded = filesOf[id];
      bool bytesChanged = recorded.size() != asset.files.size();
      for (std::size_t i = 0; !bytesChanged && i < recorded.size(); ++i) {
        const FileRow& now = asset.files[i];
        const StoredFile& then = *recorded[i].second;
        const bool samePlace = isMove || recorded[i].first == now.path;
        bytesChanged = !samePlace || then.role != now.role || !sameBytes(then.state, now.state, isMove);
      }
      const std::int64_t first = firstVersion(f, asset.files);
      std::int64_t version = before.version.value_or(first);
      if (bytesChanged) version = nextVersion(version, first);
      if (!(before.fields == f) || before.version != version || before.awaySince || isMove) {
        updateAsset.reset();
        updateAsset.bind(1, id)
            .bind(2, std::int64_t{f.mediaType})
            .bind(3, f.created)
            .bind(4, f.modified)
            .bind(5, std::int64_t{f.width})
            .bind(6, std::int64_t{f.height})
            .bind(7, f.duration)
            .bind(8, version)
            .bind(9, asset.mainPath)
            .run();
        assetChanged = !(before.fields == f) || before.version != version;
        pass.wrote = true;
        if (isMove) {
          ++pass.report.moved;
          pass.idsChanged = true;
        }
      }
    }
    for (const FileRow& file : asset.files) {
      auto before = pass.stored.files.find(file.path);
      // A file of a dropped asset went with it, even when a new asset
      // took over that asset's row id.
      bool same = before != pass.stored.files.end() && !pass.dropped.contains(before->second.asset) &&
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
          .bind(13, file.state.ctime)
          .bind(14, static_cast<std::int64_t>(file.state.device))
          .run();
      pass.wrote = true;
    }
    if (assetChanged) ++pass.report.changed;
  }
}

// dropStaleFiles drops the rows of files no planned asset holds, except
// those of away assets, which keep theirs until they come back or go.
void Catalog::dropStaleFiles(IndexPass& pass) {
  Statement dropFile(db_, "DELETE FROM files WHERE path = ?1");
  for (const auto& [path, file] : pass.stored.files) {
    if (pass.plannedFiles.contains(path) || pass.dropped.contains(file.asset) || pass.away.contains(file.asset)) continue;
    dropFile.reset();
    dropFile.bind(1, path).run();
    pass.wrote = true;
  }
}

void Catalog::writeIds(const std::string& text, std::uint64_t asOf) {
  MutexLock hold(idsMutex_);
  // Two indexes may finish in either order; the file keeps the later one.
  if (asOf <= idsAsOf_) return;
  // Only a help for a rebuild: a catalog that cannot keep it still works.
  if (AtomicFile::write(idsPath(dataFolder_), text)) idsAsOf_ = asOf;
}

std::string Catalog::idsText() const {
  std::string text(kIdsHeader);
  Statement rows(db_, "SELECT local_id, main_path, size FROM assets JOIN files ON files.path = assets.main_path");
  while (rows.step()) {
    const std::string path = rows.text(1);
    text.append(rows.text(0)).append(" ").append(std::to_string(rows.integer(2))).append(" ");
    text.append(std::to_string(path.size())).append(":").append(path).append("\n");
  }
  return text;
}

void Catalog::renumber() {
  // Only rows whose place moved are written: adding the newest photo moves
  // every row, adding the oldest moves one. Assets away have no place.
  execute(db_,
          "UPDATE assets SET position = ranked.place, type_position = ranked.typePlace FROM ("
          "  SELECT id,"
          "    row_number() OVER (ORDER BY created DESC, local_id DESC) - 1 AS place,"
          "    row_number() OVER (PARTITION BY media_type ORDER BY created DESC, local_id DESC) - 1"
          "      AS typePlace"
          "  FROM assets WHERE away_since IS NULL) AS ranked "
          "WHERE assets.id = ranked.id"
          "  AND (assets.position != ranked.place OR assets.type_position != ranked.typePlace);"
          "UPDATE assets SET position = -1, type_position = -1"
          "  WHERE away_since IS NOT NULL AND (position != -1 OR type_position != -1)");
}

std::int64_t Catalog::count() const {
  MutexLock lock(mutex_);
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
  MutexLock lock(mutex_);
  Statement rows(db_, kept(std::string(kAssetColumns) +
                           "WHERE position >= ?1 AND position < ?2 ORDER BY position"));
  Statement files(db_, kept(kFilesOfAsset));
  rows.bind(1, from).bind(2, to);
  return remembered(readAssets(rows, files));
}

std::int64_t Catalog::countNewerThan(TimePoint created) const {
  {
    MutexLock lock(mutex_);
    // The newest asset at or before `created` is one seek in the date index.
    Statement first(db_, kept("SELECT position FROM assets WHERE created <= ?1 AND away_since IS NULL "
                              "ORDER BY created DESC, local_id DESC LIMIT 1"));
    first.bind(1, toMicros(created));
    if (first.step()) return first.integer(0);
  }
  return countDated();
}

std::int64_t Catalog::countDated() const {
  {
    MutexLock lock(mutex_);
    Statement first(db_, kept("SELECT position FROM assets WHERE created IS NULL AND away_since IS NULL "
                              "ORDER BY created DESC, local_id DESC LIMIT 1"));
    if (first.step()) return first.integer(0);
  }
  return count();
}

std::int64_t Catalog::count(MediaType type) const {
  MutexLock lock(mutex_);
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
  MutexLock lock(mutex_);
  Statement rows(db_, kept(std::string(kAssetColumns) +
                           "WHERE media_type = ?1 AND type_position >= ?2 AND type_position < ?3 "
                           "ORDER BY type_position"));
  Statement files(db_, kept(kFilesOfAsset));
  rows.bind(1, std::int64_t{static_cast<int>(type)}).bind(2, from).bind(3, to);
  return remembered(readAssets(rows, files));
}

std::int64_t Catalog::countNewerThan(MediaType type, TimePoint created) const {
  {
    MutexLock lock(mutex_);
    Statement first(db_, kept("SELECT type_position FROM assets WHERE media_type = ?1 AND created <= ?2 "
                              "AND away_since IS NULL ORDER BY created DESC, local_id DESC LIMIT 1"));
    first.bind(1, std::int64_t{static_cast<int>(type)}).bind(2, toMicros(created));
    if (first.step()) return first.integer(0);
  }
  return countDated(type);
}

std::int64_t Catalog::countDated(MediaType type) const {
  {
    MutexLock lock(mutex_);
    Statement first(db_, kept("SELECT type_position FROM assets WHERE media_type = ?1 AND created IS NULL "
                              "AND away_since IS NULL ORDER BY created DESC, local_id DESC LIMIT 1"));
    first.bind(1, std::int64_t{static_cast<int>(type)});
    if (first.step()) return first.integer(0);
  }
  return count(type);
}

std::vector<CatalogAsset> Catalog::find(const std::vector<std::string>& localIdentifiers) const {
  MutexLock lock(mutex_);
  Statement row(db_, kept(std::string(kAssetColumns) + "WHERE local_id = ?1 AND away_since IS NULL"));
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

std::optional<CatalogFile> Catalog::file(const std::string& path) const {
  MutexLock lock(mutex_);
  Statement row(db_, kept("SELECT files.path, role, size, mtime, inode, ctime, device FROM files "
                          "JOIN assets ON assets.id = files.asset WHERE files.path = ?1 AND away_since IS NULL"));
  row.bind(1, path);
  if (!row.step()) return std::nullopt;
  return CatalogFile{row.text(0),
                     static_cast<ResourceType>(row.integer(1)),
                     row.integer(2),
                     fromNanos(row.integer(3)),
                     static_cast<std::uint64_t>(row.integer(4)),
                     row.integer(5),
                     static_cast<std::uint64_t>(row.integer(6))};
}

Catalog::Counts Catalog::counts() const {
  MutexLock lock(mutex_);
  Statement byType(db_, "SELECT media_type, count(*) FROM assets WHERE away_since IS NULL GROUP BY media_type");
  Counts counts;
  while (byType.step()) {
    auto type = static_cast<MediaType>(byType.integer(0));
    (type == MediaType::video ? counts.videos : counts.images) += byType.integer(1);
  }
  return counts;
}

bool Catalog::remove(const std::string& localIdentifier) {
  MutexLock lock(mutex_);
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
