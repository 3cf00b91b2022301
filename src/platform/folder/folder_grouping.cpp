#include "platform/folder/folder_grouping.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string_view>

#include "library/mime_types.h"
#include "util/text.h"

namespace lumenvale::FolderGrouping {
namespace {

enum class Sort { photo, raw, video, adjustment };

struct Entry {
  std::string name;
  Sort sort;
  std::size_t typeRank;  // place of the extension in MimeTypes::folderTypes()
  std::string stem;      // lower case
};

std::optional<Entry> classify(const std::string& name) {
  if (name.empty() || name.front() == '.') return std::nullopt;
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return std::nullopt;
  std::string stem = Text::asciiLower(std::string_view(name).substr(0, dot));
  std::string extension = Text::asciiLower(std::string_view(name).substr(dot + 1));
  if (extension == "aae") return Entry{name, Sort::adjustment, 0, stem};
  auto types = MimeTypes::folderTypes();
  for (std::size_t rank = 0; rank < types.size(); ++rank) {
    if (types[rank].extension != extension) continue;
    Sort sort = types[rank].kind == MimeTypes::Kind::video      ? Sort::video
                : types[rank].kind == MimeTypes::Kind::rawPhoto ? Sort::raw
                                                                : Sort::photo;
    return Entry{name, sort, rank, stem};
  }
  return std::nullopt;
}

// editedBase returns the stem an edit of that name belongs to: "img_e0042"
// -> "img_0042", "dsc_1_e" -> "dsc_1". `prefixes` are the letters after
// "img_" that mark one ("e" for edits; adjustments also come as "o").
std::optional<std::string> editedBase(const std::string& stem, std::string_view prefixes) {
  if (stem.size() > 5 && stem.starts_with("img_") &&
      prefixes.find(stem[4]) != std::string_view::npos) {
    return "img_" + stem.substr(5);
  }
  if (stem.size() > 2 && stem.ends_with("_e")) return stem.substr(0, stem.size() - 2);
  return std::nullopt;
}

int roleRank(ResourceType role) {
  switch (role) {
    case ResourceType::photo:
      return 0;
    case ResourceType::video:
      return 1;
    case ResourceType::pairedVideo:
      return 2;
    case ResourceType::fullSizePhoto:
      return 3;
    case ResourceType::fullSizeVideo:
      return 4;
    case ResourceType::fullSizePairedVideo:
      return 5;
    case ResourceType::alternatePhoto:
      return 6;
    case ResourceType::adjustmentData:
      return 7;
    case ResourceType::audio:
    case ResourceType::adjustmentBasePhoto:
      break;  // roles a folder never gives a file
  }
  return 8;
}

// The files of one stem, originals apart from edits, each list in the
// order that picks its first member.
struct Bucket {
  std::vector<const Entry*> photos, raws, videos, editedPhotos, editedVideos, adjustments;
};

GroupedAsset single(const Entry& entry) {
  bool video = entry.sort == Sort::video;
  return {video ? MediaType::video : MediaType::image,
          entry.name,
          {{entry.name, video ? ResourceType::video : ResourceType::photo}}};
}

void take(std::vector<const Entry*>& from, std::vector<GroupedAsset>& out) {
  for (const Entry* entry : from) out.push_back(single(*entry));
  from.clear();
}

const Entry* takeFirst(std::vector<const Entry*>& from) {
  if (from.empty()) return nullptr;
  const Entry* first = from.front();
  from.erase(from.begin());
  return first;
}

void build(Bucket& bucket, std::vector<GroupedAsset>& out) {
  std::vector<GroupedFile> files;
  std::optional<MediaType> type;
  bool paired = false;
  if (const Entry* photo = takeFirst(bucket.photos)) {
    type = MediaType::image;
    files.push_back({photo->name, ResourceType::photo});
    if (const Entry* raw = takeFirst(bucket.raws)) {
      files.push_back({raw->name, ResourceType::alternatePhoto});
    }
  } else if (const Entry* raw = takeFirst(bucket.raws)) {
    type = MediaType::image;
    files.push_back({raw->name, ResourceType::photo});
  }
  if (type) {
    if (const Entry* video = takeFirst(bucket.videos)) {
      files.push_back({video->name, ResourceType::pairedVideo});
      paired = true;
    }
    if (const Entry* edit = takeFirst(bucket.editedPhotos)) {
      files.push_back({edit->name, ResourceType::fullSizePhoto});
    }
    if (paired) {
      if (const Entry* edit = takeFirst(bucket.editedVideos)) {
        files.push_back({edit->name, ResourceType::fullSizePairedVideo});
      }
    }
  } else if (const Entry* video = takeFirst(bucket.videos)) {
    type = MediaType::video;
    files.push_back({video->name, ResourceType::video});
    if (const Entry* edit = takeFirst(bucket.editedVideos)) {
      files.push_back({edit->name, ResourceType::fullSizeVideo});
    }
  }
  if (type) {
    for (const Entry* adjustment : bucket.adjustments) {
      files.push_back({adjustment->name, ResourceType::adjustmentData});
    }
    std::stable_sort(files.begin(), files.end(), [](const GroupedFile& a, const GroupedFile& b) {
      return roleRank(a.role) < roleRank(b.role);
    });
    std::string main = files.front().name;
    out.push_back({*type, std::move(main), std::move(files)});
  }
  for (auto* rest :
       {&bucket.photos, &bucket.raws, &bucket.videos, &bucket.editedPhotos, &bucket.editedVideos}) {
    take(*rest, out);
  }
}

}  // namespace

bool isLibraryName(std::string_view name) { return classify(std::string(name)).has_value(); }

std::vector<GroupedAsset> group(const std::vector<std::string>& names) {
  std::vector<Entry> entries;
  entries.reserve(names.size());
  for (const std::string& name : names) {
    if (auto entry = classify(name)) entries.push_back(std::move(*entry));
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.typeRank != b.typeRank ? a.typeRank < b.typeRank : a.name < b.name;
  });

  // An edit is only one when its original is here: a lone IMG_E0042.JPG is
  // a photo of its own.
  std::map<std::string, Bucket> buckets;
  auto originalHere = [&](const std::optional<std::string>& base) {
    if (!base) return false;
    auto found = buckets.find(*base);
    if (found == buckets.end()) return false;
    const Bucket& b = found->second;
    return !b.photos.empty() || !b.raws.empty() || !b.videos.empty();
  };
  // Originals first, so that originalHere sees every one of them.
  for (const Entry& entry : entries) {
    if (entry.sort == Sort::adjustment) continue;
    Bucket& bucket = buckets[entry.stem];
    if (entry.sort == Sort::photo) bucket.photos.push_back(&entry);
    if (entry.sort == Sort::raw) bucket.raws.push_back(&entry);
    if (entry.sort == Sort::video) bucket.videos.push_back(&entry);
  }
  for (const Entry& entry : entries) {
    if (entry.sort == Sort::adjustment) {
      auto base = editedBase(entry.stem, "eo");
      std::string owner = originalHere(base) ? *base : entry.stem;
      auto found = buckets.find(owner);
      if (found != buckets.end()) found->second.adjustments.push_back(&entry);
      continue;
    }
    auto base = editedBase(entry.stem, "e");
    if (!originalHere(base)) continue;
    Bucket& own = buckets[entry.stem];
    Bucket& original = buckets[*base];
    auto& from = entry.sort == Sort::video ? own.videos
                 : entry.sort == Sort::raw ? own.raws
                                           : own.photos;
    from.erase(std::find(from.begin(), from.end(), &entry));
    (entry.sort == Sort::video ? original.editedVideos : original.editedPhotos).push_back(&entry);
  }

  std::vector<GroupedAsset> assets;
  for (auto& [stem, bucket] : buckets) build(bucket, assets);
  std::sort(assets.begin(), assets.end(),
            [](const GroupedAsset& a, const GroupedAsset& b) { return a.mainFile < b.mainFile; });
  return assets;
}

}  // namespace lumenvale::FolderGrouping
