// The media types a camera or phone produces: their file extensions, MIME
// types and the uniform type identifiers a phone reports for the same files.
// One table serves two readers: the listing looks up the MIME type of any
// resource, and the folder library takes its photos and videos from the
// table's first rows. A constant table; safe from any thread.
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
  audio,
};

struct FileType {
  std::string_view extension;  // lower case, without the dot
  Kind kind;
  std::string_view mime;
  std::string_view uti;
};

// folderTypes returns the types whose files are part of a folder library,
// photos first, in the order the grouping prefers a photo or video when one
// name has several. Other extensions of the same types (".jpe") and the
// other types (BMP, AVI, audio) are left out of a folder library.
std::span<const FileType> folderTypes();

// folderType returns the type of the extension of `name` (the text after
// its last dot, compared case-insensitively) when such files are part of a
// folder library, or nothing.
std::optional<FileType> folderType(std::string_view name);

// mimeFor returns the preferred MIME type of the type identifier `uti`
// (compared case-insensitively) or, when the table does not know it, of the
// extension of `name`; nothing when neither is known.
std::optional<std::string_view> mimeFor(std::string_view uti, std::string_view name);

}  // namespace lumenvale::MimeTypes
