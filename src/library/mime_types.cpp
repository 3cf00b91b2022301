#include "library/mime_types.h"

#include <array>

#include "util/text.h"

namespace lumenvale::MimeTypes {
namespace {

// The first kFolderTypes rows are the folder library's. Several extensions
// share one type (jpg and jpeg, tif and tiff); the first of them is where a
// type identifier finds its MIME type.
constexpr std::size_t kFolderTypes = 15;
constexpr std::array<FileType, 26> kTypes{{
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
    // Known to the listing only.
    {"jpe", Kind::photo, "image/jpeg", "public.jpeg"},
    {"bmp", Kind::photo, "image/bmp", "com.microsoft.bmp"},
    {"qt", Kind::video, "video/quicktime", "com.apple.quicktime-movie"},
    {"mpg4", Kind::video, "video/mp4", "public.mpeg-4"},
    {"3gpp", Kind::video, "video/3gpp", "public.3gpp"},
    {"3g2", Kind::video, "video/3gpp2", "public.3gpp2"},
    {"3gp2", Kind::video, "video/3gpp2", "public.3gpp2"},
    {"avi", Kind::video, "video/avi", "public.avi"},
    {"m4a", Kind::audio, "audio/mp4", "public.mpeg-4-audio"},
    {"mp3", Kind::audio, "audio/mpeg", "public.mp3"},
    {"wav", Kind::audio, "audio/vnd.wave", "com.microsoft.waveform-audio"},
}};

// extension returns the text after the last ".", or nothing.
std::optional<std::string_view> extension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return std::nullopt;
  return name.substr(dot + 1);
}

const FileType* find(std::span<const FileType> types, std::string_view extension) {
  // Extensions are ASCII; a non-ASCII byte simply never matches.
  for (const FileType& type : types) {
    if (Text::equalIgnoringAsciiCase(extension, type.extension)) return &type;
  }
  return nullptr;
}

}  // namespace

std::span<const FileType> folderTypes() { return std::span(kTypes).first(kFolderTypes); }

std::optional<FileType> folderType(std::string_view name) {
  const auto ext = extension(name);
  if (!ext) return std::nullopt;
  const FileType* type = find(folderTypes(), *ext);
  return type ? std::optional(*type) : std::nullopt;
}

std::optional<std::string_view> mimeFor(std::string_view uti, std::string_view name) {
  if (!uti.empty()) {
    for (const FileType& type : kTypes) {
      if (Text::equalIgnoringAsciiCase(type.uti, uti)) return type.mime;
    }
  }
  const auto ext = extension(name);
  if (!ext || ext->empty()) return std::nullopt;
  const FileType* type = find(kTypes, *ext);
  return type ? std::optional(type->mime) : std::nullopt;
}

}  // namespace lumenvale::MimeTypes
