#include "platform/folder/mime_types.h"

#include <array>

#include "util/text.h"

namespace lumenvale::MimeTypes {
namespace {

// Several extensions share one type (jpg and jpeg, tif and tiff); the first
// of them is where mimeForUti finds it.
constexpr std::array<FileType, 15> kTypes{{
    {"heic", Kind::photo, "image/heic", "public.heic"},
    {"heif", Kind::photo, "image/heif", "public.heif"},
    {"jpg", Kind::photo, "image/jpeg", "public.jpeg"},
    {"jpeg", Kind::photo, "image/jpeg", "public.jpeg"},
    {"png", Kind::photo, "image/png", "public.png"},
    {"tif", Kind::photo, "image/tiff", "public.tiff"},
    {"tiff", Kind::photo, "image/tiff", "public.tiff"},
    {"gif", Kind::photo, "image/gif", "com.compuserve.gif"},
    {"webp", Kind::photo, "image/webp", "org.webmproject.webp"},
    {"avif", Kind::photo, "image/avif", "public.avif"},
    {"dng", Kind::rawPhoto, "image/x-adobe-dng", "com.adobe.raw-image"},
    {"mov", Kind::video, "video/quicktime", "com.apple.quicktime-movie"},
    {"mp4", Kind::video, "video/mp4", "public.mpeg-4"},
    {"m4v", Kind::video, "video/x-m4v", "com.apple.m4v-video"},
    {"3gp", Kind::video, "video/3gpp", "public.3gpp"},
}};

}  // namespace

std::span<const FileType> all() { return kTypes; }

std::optional<FileType> forExtension(std::string_view extension) {
  // Extensions are ASCII; a non-ASCII byte simply never matches.
  for (const FileType& type : kTypes) {
    if (Text::equalIgnoringAsciiCase(extension, type.extension)) return type;
  }
  return std::nullopt;
}

std::optional<FileType> forFileName(std::string_view name) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return std::nullopt;
  return forExtension(name.substr(dot + 1));
}

std::optional<std::string_view> mimeForUti(std::string_view uti) {
  for (const FileType& type : kTypes) {
    if (type.uti == uti) return type.mime;
  }
  return std::nullopt;
}

}  // namespace lumenvale::MimeTypes
