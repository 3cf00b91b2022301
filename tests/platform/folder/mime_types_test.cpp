#include "platform/folder/mime_types.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace lumenvale {
namespace {

using Kind = MimeTypes::Kind;

TEST(MimeTypesTest, EveryLibraryExtensionHasItsType) {
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
    auto type = MimeTypes::forFileName(c.name);
    ASSERT_TRUE(type.has_value());
    EXPECT_EQ(type->kind, c.kind);
    EXPECT_EQ(type->mime, c.mime);
    EXPECT_EQ(type->uti, c.uti);
    EXPECT_EQ(MimeTypes::mimeForUti(c.uti), c.mime);
  }
}

TEST(MimeTypesTest, OtherNamesAreNotInTheLibrary) {
  for (const char* name : {"IMG_0001.AAE", "notes.txt", "noextension", "trailingdot.", "a.jpg.",
                           "a.jpgx", "a.xjpg", ".jpg.bak", "a.mkv", "a.m4a"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(MimeTypes::forFileName(name).has_value());
  }
  EXPECT_FALSE(MimeTypes::mimeForUti("public.data").has_value());
  EXPECT_FALSE(MimeTypes::mimeForUti("").has_value());
}

TEST(MimeTypesTest, ExtensionsAreUniqueAndLowerCase) {
  std::set<std::string> seen;
  for (const auto& type : MimeTypes::all()) {
    SCOPED_TRACE(std::string(type.extension));
    EXPECT_TRUE(seen.insert(std::string(type.extension)).second);
    for (char c : type.extension) EXPECT_FALSE(c >= 'A' && c <= 'Z');
  }
  EXPECT_EQ(seen.size(), 15u);
}

}  // namespace
}  // namespace lumenvale
