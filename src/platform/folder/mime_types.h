// The media types of the folder library: which file extensions are photos
// and videos, their MIME types, and the uniform type identifiers a phone
// reports for the same files. A constant table; safe from any thread.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace lumenvale::MimeTypes {

enum class Kind {
  photo,
  // A camera RAW file: a photo of its own, or the alternate of a processed
  // photo with the same name beside it.
  rawPhoto,
  video,
};

struct FileType {
  std::string_view extension;  // lower case, without the dot
  Kind kind;
  std::string_view mime;
  std::string_view uti;
};

// all returns every type of the library, photos first, in the order the
// grouping prefers a photo or video when one name has several.
std::span<const FileType> all();

// forExtension returns the type of a file extension (without the dot,
// compared case-insensitively), or nothing when such files are not part of
// the library.
std::optional<FileType> forExtension(std::string_view extension);

// forFileName returns the type of the extension of `name` (the text after
// its last dot), or nothing.
std::optional<FileType> forFileName(std::string_view name);

// mimeForUti returns the preferred MIME type of a uniform type identifier
// the table knows ("public.jpeg" -> "image/jpeg"), or nothing.
std::optional<std::string_view> mimeForUti(std::string_view uti);

}  // namespace lumenvale::MimeTypes
