#include "platform/folder/folder_grouping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace lumenvale {
namespace {

const char* roleName(ResourceType role) {
  switch (role) {
    case ResourceType::photo:
      return "photo";
    case ResourceType::video:
      return "video";
    case ResourceType::alternatePhoto:
      return "alternate";
    case ResourceType::fullSizePhoto:
      return "fullSizePhoto";
    case ResourceType::fullSizeVideo:
      return "fullSizeVideo";
    case ResourceType::adjustmentData:
      return "adjustment";
    case ResourceType::pairedVideo:
      return "paired";
    case ResourceType::fullSizePairedVideo:
      return "fullSizePaired";
  }
  return "?";
}

// One line per asset, "image: photo IMG_0042.HEIC, paired IMG_0042.MOV", so a
// failure shows the whole grouping at a glance. The main file is the first.
std::vector<std::string> describe(const std::vector<GroupedAsset>& assets) {
  std::vector<std::string> lines;
  for (const GroupedAsset& asset : assets) {
    std::string line = asset.mediaType == MediaType::video ? "video:" : "image:";
    for (const GroupedFile& file : asset.files) {
      line += std::string(line.back() == ':' ? " " : ", ") + roleName(file.role) + " " + file.name;
    }
    EXPECT_FALSE(asset.files.empty());
    if (!asset.files.empty()) {
      EXPECT_EQ(asset.mainFile, asset.files.front().name);
    }
    lines.push_back(line);
  }
  return lines;
}

TEST(FolderGroupingTest, GroupsAFolderTheWayACameraRollExportsIt) {
  struct Case {
    const char* name;
    std::vector<std::string> files;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"empty folder", {}, {}},
      {"one photo", {"IMG_0001.HEIC"}, {"image: photo IMG_0001.HEIC"}},
      {"one video", {"IMG_0001.MOV"}, {"video: video IMG_0001.MOV"}},
      {"live photo",
       {"IMG_0042.MOV", "IMG_0042.HEIC"},
       {"image: photo IMG_0042.HEIC, paired IMG_0042.MOV"}},
      {"stems ignore case",
       {"img_0042.mov", "IMG_0042.heic"},
       {"image: photo IMG_0042.heic, paired img_0042.mov"}},
      {"edited photo with adjustments",
       {"IMG_0042.JPG", "IMG_E0042.JPG", "IMG_0042.AAE"},
       {"image: photo IMG_0042.JPG, fullSizePhoto IMG_E0042.JPG, adjustment IMG_0042.AAE"}},
      {"edited live photo",
       {"IMG_0042.HEIC", "IMG_0042.MOV", "IMG_E0042.HEIC", "IMG_E0042.MOV", "IMG_O0042.AAE"},
       {"image: photo IMG_0042.HEIC, paired IMG_0042.MOV, fullSizePhoto IMG_E0042.HEIC, "
        "fullSizePaired IMG_E0042.MOV, adjustment IMG_O0042.AAE"}},
      {"edited video",
       {"IMG_0050.MOV", "IMG_E0050.MOV", "IMG_E0050.AAE"},
       {"video: video IMG_0050.MOV, fullSizeVideo IMG_E0050.MOV, adjustment IMG_E0050.AAE"}},
      {"other camera's edit suffix",
       {"DSC_1.JPG", "DSC_1_E.jpg"},
       {"image: photo DSC_1.JPG, fullSizePhoto DSC_1_E.jpg"}},
      {"edit without its original is a photo", {"IMG_E0042.JPG"}, {"image: photo IMG_E0042.JPG"}},
      {"edited movie of a still photo stands alone",
       {"IMG_0042.JPG", "IMG_E0042.MOV"},
       {"image: photo IMG_0042.JPG", "video: video IMG_E0042.MOV"}},
      {"edited photo of a video stands alone",
       {"IMG_0050.MOV", "IMG_E0050.JPG"},
       {"video: video IMG_0050.MOV", "image: photo IMG_E0050.JPG"}},
      {"raw beside jpeg is the alternate",
       {"IMG_0060.DNG", "IMG_0060.JPG"},
       {"image: photo IMG_0060.JPG, alternate IMG_0060.DNG"}},
      {"raw beside heic with live video",
       {"IMG_0060.DNG", "IMG_0060.HEIC", "IMG_0060.MOV"},
       {"image: photo IMG_0060.HEIC, paired IMG_0060.MOV, alternate IMG_0060.DNG"}},
      {"raw alone is the photo", {"IMG_0061.dng"}, {"image: photo IMG_0061.dng"}},
      {"adjustments without an asset are dropped", {"IMG_0070.AAE", "IMG_E0071.AAE"}, {}},
      {"two photos of one stem: heic before jpeg",
       {"a.jpg", "a.heic"},
       {"image: photo a.heic", "image: photo a.jpg"}},
      {"two videos of one stem",
       {"clip.mp4", "clip.mov"},
       {"video: video clip.mov", "video: video clip.mp4"}},
      {"live photo takes one video",
       {"a.jpg", "a.mov", "a.mp4"},
       {"image: photo a.jpg, paired a.mov", "video: video a.mp4"}},
      {"every photo extension",
       {"a.heic", "b.heif", "c.jpg", "d.jpeg", "e.png", "f.dng", "g.tif", "h.tiff", "i.gif",
        "j.webp", "k.avif"},
       {"image: photo a.heic", "image: photo b.heif", "image: photo c.jpg", "image: photo d.jpeg",
        "image: photo e.png", "image: photo f.dng", "image: photo g.tif", "image: photo h.tiff",
        "image: photo i.gif", "image: photo j.webp", "image: photo k.avif"}},
      {"every video extension",
       {"a.mov", "b.mp4", "c.m4v", "d.3gp"},
       {"video: video a.mov", "video: video b.mp4", "video: video c.m4v", "video: video d.3gp"}},
      {"not part of the library",
       {"notes.txt", "IMG_0001", "IMG_0001.", ".jpg", ".hidden.jpg", "._IMG_0001.JPG", "song.m4a",
        "clip.mkv", "IMG_0001.xmp"},
       {}},
      {"a folder of several assets sorted by main file",
       {"IMG_0003.MOV", "IMG_0001.JPG", "IMG_0002.HEIC", "IMG_0002.MOV", "notes.txt"},
       {"image: photo IMG_0001.JPG", "image: photo IMG_0002.HEIC, paired IMG_0002.MOV",
        "video: video IMG_0003.MOV"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(describe(FolderGrouping::group(c.files)), c.expected);
  }
}

TEST(FolderGroupingTest, OrderOfNamesDoesNotMatter) {
  std::vector<std::string> names{"IMG_E0042.MOV",  "IMG_0042.AAE",  "IMG_0042.MOV",
                                 "IMG_E0042.HEIC", "IMG_0042.HEIC", "IMG_0042.DNG"};
  auto expected = FolderGrouping::group(names);
  ASSERT_EQ(expected.size(), 1u);
  std::sort(names.begin(), names.end());
  do {
    ASSERT_EQ(FolderGrouping::group(names), expected);
  } while (std::next_permutation(names.begin(), names.end()));
}

}  // namespace
}  // namespace lumenvale
