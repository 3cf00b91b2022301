// The catalog of the folder library: every asset of the owner's photo
// folders with its files, kept in <data>/library.db (SQLite in WAL mode) so
// that listing never walks the folders. One mutex guards the connection;
// any thread may query, also while another indexes: index() lists folders
// and reads metadata without the mutex and holds it only to write its
// results, in one transaction.
//
// The listing order is newest creation first, assets without a creation
// time after all dated ones, ties by local identifier (descending, as
// bytes), the same on every query: an asset keeps its place among the
// others of its second however many come or go beside it. Each asset's place in that order is kept in an indexed
// `position` column, renumbered in the transaction of every change, so the
// asset at position 999,500 is one index lookup, like the one at 0; the
// price is paid on change (one pass over the assets whose place moved), not
// on every page. A second column keeps each asset's place among the assets
// of its media type, in the same order, so a listing of only photos (or
// only videos) pages as cheaply.
#pragma once

#include <cstdint>
#include <ctime>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "library/library_access.h"
#include "platform/folder/folder_grouping.h"
#include "platform/folder/media_metadata.h"
#include "library/mime_types.h"
#include "util/clock.h"
#include "util/failure.h"
#include "util/mutex.h"

struct sqlite3;
struct stat;
struct sqlite3_stmt;

namespace lumenvale {

struct CatalogFile {
  std::string path;  // the folder as given to index(), then the file's path in it
  ResourceType role;
  std::int64_t size = 0;
  TimePoint modified;
  std::uint64_t inode = 0;
  // The file's change time (nanoseconds since 1970) and device; 0 where a
  // catalog written by an earlier version did not record them.
  std::int64_t changed = 0;
  std::uint64_t device = 0;

  // name returns the last component of `path`: the file's original name.
  std::string name() const;

  // isFoundIn says whether `facts` (a stat of the file, never through a
  // link) still describe this file: a regular file with its inode (and
  // device, when known), size and modification time. Anything else in its
  // place holds bytes nobody listed, hashed or verified.
  bool isFoundIn(const struct stat& facts) const;

  bool operator==(const CatalogFile&) const = default;
};

struct CatalogAsset {
  // localIdentifier is "<UUID>/L0/001" (upper-case UUID), given when the
  // asset is first indexed and kept as long as its main file stays.
  std::string localIdentifier;
  MediaType mediaType;
  std::optional<TimePoint> created;
  TimePoint modified;  // the newest modification time among its files
  // version is the time laptops are shown as the asset's modification:
  // its capture time (an edited asset: its newest file's modification time)
  // when first indexed, moved forward by at least a second whenever any of
  // its files changes afterwards (size, modification or change time, inode,
  // a file added or gone), so that ETags and safe marks follow the bytes.
  TimePoint version;
  int width = 0;  // of what the asset shows: its edit when it has one
  int height = 0;
  std::optional<double> duration;  // seconds, videos only
  std::vector<CatalogFile> files;  // main file first, in FolderGrouping's order

  bool operator==(const CatalogAsset&) const = default;
};

struct IndexReport {
  std::int64_t added = 0;
  std::int64_t changed = 0;
  std::int64_t removed = 0;
  // metadataReads counts the files read for metadata: those new or changed
  // in size, modification time or inode since the last index.
  std::int64_t metadataReads = 0;
  // away counts the assets kept but not served: their folder could not be
  // read (missing, unmounted, no permission) or is now on another device.
  std::int64_t away = 0;
  // moved counts assets found under another path with their identifier
  // kept (the same file: inode, size and modification time).
  std::int64_t moved = 0;
  // unreadable lists the chosen folders and sub-folders that could not be
  // listed; their assets are away until they can be read again.
  std::vector<std::string> unreadable;
  LibraryAccess access = LibraryAccess::notAsked;
};

class Catalog {
 public:
  // Failure is a database that cannot be opened, read or written;
  // `description` is also its printed form.
  class Failure : public DescribedFailure {
   public:
    using DescribedFailure::DescribedFailure;
  };

  // MetadataReader reads one photo or video file (kind photo, rawPhoto or
  // video); the catalog calls it from the thread running index().
  using MetadataReader = std::function<std::optional<MediaMetadata>(const std::string& path, MimeTypes::Kind kind)>;

  // Thirty days: long enough for a card left in a drawer over a holiday or
  // a folder renamed by mistake, short enough that a folder deliberately
  // dropped from the library does not linger for good.
  static constexpr std::chrono::hours kForgetAwayAfter{24 * 30};

  struct Options {
    // readMetadata defaults to MediaMetadata::readPhoto and readVideo.
    MetadataReader readMetadata;
    // When a main file records no capture time, its modification time
    // stands in; without this the asset stays undated and lists last.
    bool modificationTimeAsCreation = true;
    // now tells when an asset went away, and how long ago.
    Clock now = systemNow;
    // forgetAwayAfter is how long an asset may stay away (its folder
    // unreadable, its card unplugged) before it is forgotten with its id.
    std::chrono::hours forgetAwayAfter = kForgetAwayAfter;
  };

  // The identifiers of the catalog's assets are also kept in this file
  // beside it (`library.db.ids`), so that a catalog that is found damaged
  // can be moved aside and rebuilt with every asset under its old id.
  static std::string idsPath(const std::string& dataFolder);

  // Opens (creating when missing) `dataFolder`/library.db. A file that is
  // not a database or fails SQLite's quick check is renamed
  // "library.db.damaged-<time>" and the catalog rebuilt (see recovery()).
  // Throws Failure when that cannot be done either.
  explicit Catalog(const std::string& dataFolder);
  Catalog(const std::string& dataFolder, Options options);
  ~Catalog();
  Catalog(const Catalog&) = delete;
  Catalog& operator=(const Catalog&) = delete;

  // fileTime returns a file time as the catalog records it: held to what a
  // TimePoint can count (the years 1678 to 2261), so a file stamped in the
  // year 9999 lists as late as can be, not as some other century.
  static TimePoint fileTime(const struct timespec& time);

  // path returns the database file for `dataFolder`.
  static std::string path(const std::string& dataFolder);

  // recovery says what was done when the catalog was found damaged at
  // opening ("The photo catalog was damaged (...): it was moved aside to
  // ... and is rebuilt; the ids of 1,200 photos and videos are kept."), or
  // nothing.
  const std::optional<std::string>& recovery() const { return recovery_; }

  // index brings the catalog in line with the regular files under `folders`
  // and their sub-folders. Hidden entries are left out and symbolic links
  // are never followed below a chosen folder (the chosen folder itself may
  // be one: the owner named it); the data folder's own files are never
  // taken in, even through a hard link. Groups each folder's files into
  // assets and reads metadata only of files that are new or changed. An
  // asset keeps its identifier while its main file stays, or moves within
  // the library (found elsewhere with the same inode, size and time). An
  // asset whose main file is gone from a folder that was read is dropped;
  // one whose folder could not be read is kept away (not listed, counted or
  // served) and comes back under its identifier, unless it stays away
  // longer than `forgetAwayAfter`. Throws Failure when the database fails;
  // unreadable folders are reported, not thrown.
  IndexReport index(const std::vector<std::string>& folders);

  // count returns the number of assets served (those away left out); so do
  // the other counts and the listing.
  std::int64_t count() const;

  // at returns the asset at `position` (0-based) of the listing order, or
  // nothing past the end.
  std::optional<CatalogAsset> at(std::int64_t position) const;

  // range returns the assets at positions from `from` up to (not
  // including) `to`, in order; fewer past the end.
  std::vector<CatalogAsset> range(std::int64_t from, std::int64_t to) const;

  // countNewerThan returns how many assets were created after `created`:
  // the position where the assets created at or before it begin (undated
  // ones included, as they follow every dated one).
  std::int64_t countNewerThan(TimePoint created) const;

  // countDated returns how many assets have a creation time: the position
  // of the first undated asset.
  std::int64_t countDated() const;

  // count, at, range, countNewerThan and countDated of the assets of one
  // media type: the same order, positions counted among those assets only.
  std::int64_t count(MediaType type) const;
  std::optional<CatalogAsset> at(MediaType type, std::int64_t position) const;
  std::vector<CatalogAsset> range(MediaType type, std::int64_t from, std::int64_t to) const;
  std::int64_t countNewerThan(MediaType type, TimePoint created) const;
  std::int64_t countDated(MediaType type) const;

  // find returns the assets with these local identifiers, in the order
  // asked; unknown identifiers, and assets that are away, are left out.
  std::vector<CatalogAsset> find(const std::vector<std::string>& localIdentifiers) const;

  // file returns the file at `path` of an asset that is served now, or
  // nothing: what the photo store checks an opened file against.
  std::optional<CatalogFile> file(const std::string& path) const;

  struct Counts {
    std::int64_t images = 0;
    std::int64_t videos = 0;
  };
  // counts returns the number of assets of each media type.
  Counts counts() const;

  // remove drops the asset with this local identifier and its files from
  // the catalog (not from the disk); false when there is none. An index()
  // that still finds its files adds it again, under a new identifier.
  bool remove(const std::string& localIdentifier);

 private:
  struct Snapshot;
  struct Walk;
  // The steps of one index() pass, in their order, with mutex_ held.
  struct IndexPass;
  void dropOrMarkAway(IndexPass& pass) REQUIRES(mutex_);
  void writeAssets(IndexPass& pass) REQUIRES(mutex_);
  void dropStaleFiles(IndexPass& pass) REQUIRES(mutex_);

  // open opens `file` and makes or updates its tables; throws Failure, or
  // Damaged for a file SQLite finds corrupt or not a database.
  struct Damaged;
  void open(const std::string& file) REQUIRES(mutex_);
  Walk walk(const std::vector<std::string>& folders) const;
  // listTree lists the folder open as `fd` (taken over) and its sub-folders.
  void listTree(int fd, const std::string& folder, int depth, Walk& result) const;
  // idsText is the ids file's content, read with mutex_ held; writeIds
  // writes it, without mutex_, unless a later catalog (`asOf` counts
  // writes_) is on disk already.
  std::string idsText() const REQUIRES(mutex_);
  void writeIds(const std::string& text, std::uint64_t asOf) EXCLUDES(mutex_);
  std::unique_ptr<Snapshot> snapshot() const;
  void renumber() REQUIRES(mutex_);  // inside a transaction
  // kept returns the statement for `sql`, prepared once and kept for the
  // life of the connection, with mutex_ held.
  sqlite3_stmt* kept(const std::string& sql) const REQUIRES(mutex_);
  // A listing reads a run of assets, then asks for each one's files by its
  // identifier: remembered keeps the last run read (with mutex_ held) and
  // recentlyRead finds an asset in it while nothing has been written since.
  std::vector<CatalogAsset> remembered(std::vector<CatalogAsset> assets) const REQUIRES(mutex_);
  const CatalogAsset* recentlyRead(const std::string& localIdentifier) const REQUIRES(mutex_);

  Options options_;
  const std::string dataFolder_;
  std::optional<std::string> recovery_;
  // Ids read back from the ids file after a rebuild, by main file path;
  // given to the assets found there by the first index. Used by index()
  // under mutex_.
  struct RecoveredId {
    std::string localIdentifier;
    std::int64_t size = 0;  // of the main file
  };
  std::unordered_map<std::string, RecoveredId> recoveredIds_;
  // readIds reads the ids file: main file path -> id and size.
  static std::unordered_map<std::string, RecoveredId> readIds(const std::string& path);
  Mutex idsMutex_;                                   // held while the ids file is written
  std::uint64_t idsAsOf_ GUARDED_BY(idsMutex_) = 0;  // writes_ of the ids on disk
  mutable Mutex mutex_;
  sqlite3* db_ GUARDED_BY(mutex_) = nullptr;
  std::uint64_t writes_ GUARDED_BY(mutex_) = 0;  // counts committed changes
  mutable std::unordered_map<std::string, sqlite3_stmt*> kept_ GUARDED_BY(mutex_);
  struct RecentRun {
    std::uint64_t writes = ~std::uint64_t{0};  // writes_ when read; none yet
    std::vector<CatalogAsset> assets;
    std::size_t next = 0;
  };
  mutable RecentRun recent_ GUARDED_BY(mutex_);
};

}  // namespace lumenvale
