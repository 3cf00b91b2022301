// The catalog of the folder library: every asset of the owner's photo
// folders with its files, kept in <data>/library.db (SQLite in WAL mode) so
// that listing never walks the folders. One mutex guards the connection;
// any thread may query, also while another indexes: index() lists folders
// and reads metadata without the mutex and holds it only to write its
// results, in one transaction.
//
// The listing order is newest creation first, assets without a creation
// time after all dated ones, ties by main file path (descending), the same
// on every query. Each asset's place in that order is kept in an indexed
// `position` column, renumbered in the transaction of every change, so the
// asset at position 999,500 is one index lookup, like the one at 0; the
// price is paid on change (one pass over the assets whose place moved), not
// on every page. A second column keeps each asset's place among the assets
// of its media type, in the same order, so a listing of only photos (or
// only videos) pages as cheaply.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/folder/folder_grouping.h"
#include "platform/folder/media_metadata.h"
#include "platform/folder/mime_types.h"
#include "util/clock.h"
#include "util/failure.h"

struct sqlite3;
struct sqlite3_stmt;

namespace lumenvale {

struct CatalogFile {
  std::string path;  // the folder as given to index(), then the file's path in it
  FileRole role;
  std::int64_t size = 0;
  TimePoint modified;
  std::uint64_t inode = 0;

  // name returns the last component of `path`: the file's original name.
  std::string name() const;

  bool operator==(const CatalogFile&) const = default;
};

struct CatalogAsset {
  // localIdentifier is "<UUID>/L0/001" (upper-case UUID), given when the
  // asset is first indexed and kept as long as its main file stays.
  std::string localIdentifier;
  MediaType mediaType;
  std::optional<TimePoint> created;
  TimePoint modified;  // the newest modification time among its files
  int width = 0;       // of what the asset shows: its edit when it has one
  int height = 0;
  std::optional<double> duration;  // seconds, videos only
  std::vector<CatalogFile> files;  // main file first, in FolderGrouping's order

  bool operator==(const CatalogAsset&) const = default;
};

// LibraryAccess is how much of the chosen folders can be served.
enum class LibraryAccess {
  notAsked,  // no folder chosen
  denied,    // none of the chosen folders can be read
  limited,   // some folder or sub-folder cannot be read
  full,
};

struct IndexReport {
  std::int64_t added = 0;
  std::int64_t changed = 0;
  std::int64_t removed = 0;
  // metadataReads counts the files read for metadata: those new or changed
  // in size, modification time or inode since the last index.
  std::int64_t metadataReads = 0;
  // unreadable lists the chosen folders and sub-folders that could not be
  // listed; their assets are not in the catalog.
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
  using MetadataReader =
      std::function<std::optional<MediaMetadata>(const std::string& path, MimeTypes::Kind kind)>;

  struct Options {
    // readMetadata defaults to MediaMetadata::readPhoto and readVideo.
    MetadataReader readMetadata;
    // When a main file records no capture time, its modification time
    // stands in; without this the asset stays undated and lists last.
    bool modificationTimeAsCreation = true;
  };

  // Opens (creating when missing) `dataFolder`/library.db. Throws Failure.
  explicit Catalog(const std::string& dataFolder);
  Catalog(const std::string& dataFolder, Options options);
  ~Catalog();
  Catalog(const Catalog&) = delete;
  Catalog& operator=(const Catalog&) = delete;

  // path returns the database file for `dataFolder`.
  static std::string path(const std::string& dataFolder);

  // index brings the catalog in line with the files under `folders` (and
  // their sub-folders, hidden ones left out, symbolic links followed once):
  // groups each folder's files into assets, reads metadata only of files
  // that are new or changed, keeps the identifier of every asset whose main
  // file is still there and drops the assets whose main file is gone.
  // Throws Failure when the database fails; unreadable folders are reported,
  // not thrown.
  IndexReport index(const std::vector<std::string>& folders);

  // count returns the number of assets.
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
  // asked; unknown identifiers are left out.
  std::vector<CatalogAsset> find(const std::vector<std::string>& localIdentifiers) const;

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

  Walk walk(const std::vector<std::string>& folders) const;
  std::unique_ptr<Snapshot> snapshot() const;
  void renumber();  // with mutex_ held, inside a transaction
  // kept returns the statement for `sql`, prepared once and kept for the
  // life of the connection, with mutex_ held.
  sqlite3_stmt* kept(const std::string& sql) const;
  // A listing reads a run of assets, then asks for each one's files by its
  // identifier: remembered keeps the last run read (with mutex_ held) and
  // recentlyRead finds an asset in it while nothing has been written since.
  std::vector<CatalogAsset> remembered(std::vector<CatalogAsset> assets) const;
  const CatalogAsset* recentlyRead(const std::string& localIdentifier) const;

  Options options_;
  mutable std::mutex mutex_;
  sqlite3* db_ = nullptr;     // guarded by mutex_
  std::uint64_t writes_ = 0;  // guarded by mutex_; counts committed changes
  mutable std::unordered_map<std::string, sqlite3_stmt*> kept_;  // guarded by mutex_
  struct RecentRun {
    std::uint64_t writes = ~std::uint64_t{0};  // writes_ when read; none yet
    std::vector<CatalogAsset> assets;
    std::size_t next = 0;
  };
  mutable RecentRun recent_;  // guarded by mutex_
};

}  // namespace lumenvale
