// The resource type codes of the phone's photo library: what role each file
// of an asset plays. Shared by every store, the naming of files on the wire
// and the folder catalog, which stores the numbers.
#pragma once

namespace lumenvale {

// The role of one file of an asset, as the phone's photo library numbers
// it: the folder catalog stores these numbers, and Rows::source ranks them.
enum class ResourceType : int {
  photo = 1,
  video = 2,
  audio = 3,
  alternatePhoto = 4,  // a camera RAW beside its processed photo
  fullSizePhoto = 5,   // an edit's rendered photo
  fullSizeVideo = 6,
  adjustmentData = 7,  // the recipe of an edit
  adjustmentBasePhoto = 8,
  pairedVideo = 9,  // a Live Photo's motion
  fullSizePairedVideo = 10,
};

}  // namespace lumenvale
