// Turns the file names of one folder into the assets of the folder library,
// the way a phone's camera roll exports them: a photo and the movie of the
// same name are one Live Photo, IMG_E0042.* is the edit of IMG_0042, *.AAE
// holds the edit's adjustments, a RAW beside a processed photo is its
// alternate. Pure and stateless; safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "library/resource_type.h"

namespace lumenvale {

// MediaType holds the phone's media type codes, so the photo store can hand
// them on unchanged.
enum class MediaType { image = 1, video = 2 };

struct GroupedFile {
  std::string name;
  ResourceType role;

  bool operator==(const GroupedFile&) const = default;
};

struct GroupedAsset {
  MediaType mediaType;
  // mainFile is the file the asset is known by: its photo, or the video of
  // a video asset. It is always the first of `files`.
  std::string mainFile;
  // files in a stable order: photo, video, pairedVideo, fullSizePhoto,
  // fullSizeVideo, fullSizePairedVideo, alternatePhoto, adjustmentData.
  std::vector<GroupedFile> files;

  bool operator==(const GroupedAsset&) const = default;
};

namespace FolderGrouping {

// group returns the assets made of the files named `names` (file names in
// one folder, no paths), sorted by main file name. Names are matched by
// stem, ignoring ASCII case:
//  - a photo and a video of one stem are one Live Photo (photo and paired
//    video); a photo alone is a photo, a video alone a video;
//  - "IMG_E<n>" (or "<stem>_E") is the edit of "IMG_<n>" (or "<stem>") when
//    that original is in the folder: a photo is the asset's full-size
//    photo, a video the full-size paired video of a Live Photo or the
//    full-size video of a video; an edit with no original, or one that fits
//    no role, is an asset of its own;
//  - a RAW file beside a processed photo of its stem is the alternate photo;
//    alone it is the photo;
//  - "<stem>.AAE", "IMG_E<n>.AAE" and "IMG_O<n>.AAE" are adjustment data of
//    the asset of that stem, and are dropped when there is none;
//  - when one stem has several photos (or videos), the extension order of
//    MimeTypes::folderTypes() picks the one in the asset; each other is an asset of
//    its own;
//  - names with an extension outside the library, without an extension, or
//    that begin with a dot (hidden files, and the "._" companions that copy
//    tools leave beside each photo) are not part of the library.
std::vector<GroupedAsset> group(const std::vector<std::string>& names);

// isLibraryName says whether a file of this name can be part of the library
// (a photo, a video or adjustment data, not hidden): what the catalog lists
// and what a change must concern to be worth an index.
bool isLibraryName(std::string_view name);

}  // namespace FolderGrouping
}  // namespace lumenvale
