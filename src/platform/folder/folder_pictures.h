// The pictures of a folder library: thumbnails of photo files (libvips),
// poster frames of videos (FFmpeg), redrawing to an exact size and JPEG
// encoding. Every decode first shows from the file's header that it fits
// the picture limits and passes the shared decode gate. Safe from any
// thread; a picture never goes back to its file once made.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "library/photo_store.h"

namespace lumenvale::FolderPictures {

// ready starts libvips once; false when it cannot start, and then every
// picture below is nothing.
bool ready();

// photo makes the picture of the photo file at `path`, scaled into the
// square that `target` and `mode` give, or nothing. Only a regular file is
// opened, never through a link.
PhotoStore::ImagePtr photo(const std::string& path, std::int64_t target, PhotoStore::ContentMode mode);

// video makes the picture of the first frame of the video at `path`, turned
// as its display matrix says, or nothing.
PhotoStore::ImagePtr video(const std::string& path, std::int64_t target, PhotoStore::ContentMode mode);

// redraw returns a picture made here drawn opaque over white at exactly
// `width` by `height` pixels, or nothing.
PhotoStore::ImagePtr redraw(const PhotoStore::Image& image, std::int64_t width, std::int64_t height);

// jpeg returns a picture made here as JPEG at `quality` (0 to 1), without
// metadata, or nothing.
std::optional<std::string> jpeg(const PhotoStore::Image& image, double quality);

}  // namespace lumenvale::FolderPictures
