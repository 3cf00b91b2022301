#include "library/mime_types.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

namespace lumenvale {
namespace {

using Kind = MimeTypes::Kind;

TEST(MimeTypesTest, EveryFolderExtensionHasItsType) {
  struct Case {
    const char* name;
    Kind kind;
    const char* mime;
    const char* uti;
  };
  const Case cases[] = {
      {"IMG_0001.HEIC", Kind::photo, "image/heic", "public.heic"},
      {"a.heif", Kind::photo, "image/heif", "public.heif"},
      {"a.JPG", Kind::photo, "image/jpeg", "public.jpeg"},
      {"a.jpeg", Kind::photo, "image/jpeg", "public.jpeg"},
      {"a.Png", Kind::photo, "image/png", "public.png"},
      {"a.dng", Kind::rawPhoto, "image/x-adobe-dng", "com.adobe.raw-image"},
      {"a.tif", Kind::photo, "image/tiff", "public.tiff"},
      {"a.TIFF", Kind::photo, "image/tiff", "public.tiff"},
      {"a.gif", Kind::photo, "image/gif", "com.compuserve.gif"},
      {"a.webp", Kind::photo, "image/webp", "org.webmproject.webp"},
      {"a.avif", Kind::photo, "image/avif", "public.avif"},
      {"IMG_0001.MOV", Kind::video, "video/quicktime", "com.apple.quicktime-movie"},
      {"a.mp4", Kind::video, "video/mp4", "public.mpeg-4"},
      {"a.m4v", Kind::video, "video/x-m4v", "com.apple.m4v-video"},
      {"a.3GP", Kind::video, "video/3gpp", "public.3gpp"},
      {"archive.tar.mov", Kind::video, "video/quicktime", "com.apple.quicktime-movie"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto type = MimeTypes::folderType(c.name);
    ASSERT_TRUE(type.has_value());
    EXPECT_EQ(type->kind, c.kind);
    EXPECT_EQ(type->mime, c.mime);
    EXPECT_EQ(type->uti, c.uti);
    EXPECT_EQ(MimeTypes::mimeFor(c.uti, ""), c.mime);
    EXPECT_EQ(MimeTypes::mimeFor("", c.name), c.mime);
  }
}

TEST(MimeTypesTest, OtherNamesAreNotInAFolderLibrary) {
  for (const char* name : {"IMG_0001.AAE", "notes.txt", "noextension", "trailingdot.", "a.jpg.", "a.jpgx", "a.xjpg",
                           ".jpg.bak", "a.mkv", "a.m4a"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(MimeTypes::folderType(name).has_value());
  }
}

// The listing knows more than a folder library holds: another extension of
// a folder type, and types a phone can store but the folder leaves out.
TEST(MimeTypesTest, TheListingKnowsMoreTypesThanAFolderHolds) {
  struct Case {
    const char* uti;
    const char* name;
    std::optional<std::string_view> mime;
  };
  const Case cases[] = {
      {"", "a.JPE", "image/jpeg"},
      {"", "a.bmp", "image/bmp"},
      {"", "a.avi", "video/avi"},
      {"", "a.3g2", "video/3gpp2"},
      {"", "sound.m4a", "audio/mp4"},
      {"PUBLIC.MPEG-4-AUDIO", "", "audio/mp4"},
      {"public.heic", "odd.png", "image/heic"},
      {"com.example.what", "x.jpeg", "image/jpeg"},
      {"public.data", "", std::nullopt},
      {"", "", std::nullopt},
      {"", "trailingdot.", std::nullopt},
      {"", "noextension", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.uti) + " " + c.name);
    EXPECT_EQ(MimeTypes::mimeFor(c.uti, c.name), c.mime);
  }
  for (const char* name : {"a.jpe", "a.bmp", "a.avi", "a.qt", "a.3gpp", "a.mp3", "a.wav"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(MimeTypes::folderType(name).has_value());
  }
}

TEST(MimeTypesTest, ExtensionsAreUniqueAndLowerCase) {
  std::set<std::string> seen;
  for (const auto& type : MimeTypes::folderTypes()) {
    SCOPED_TRACE(std::string(type.extension));
    EXPECT_TRUE(seen.insert(std::string(type.extension)).second);
    for (char c : type.extension) EXPECT_FALSE(c >= 'A' && c <= 'Z');
  }
  EXPECT_EQ(seen.size(), 15u);
}

}  // namespace
}  // namespace lumenvale
