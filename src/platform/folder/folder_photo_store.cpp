#include "platform/folder/folder_photo_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <ctime>
#include <set>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <utility>
#include <variant>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "library/rows.h"
#include "library/mime_types.h"
#include "platform/folder/opened_file.h"
#include "platform/folder/picture_limits.h"
#include "util/atomic_file.h"
#include "util/failure.h"
#include "util/text.h"

namespace lumenvale {
namespace {

namespace fs = std::filesystem;

// A poster frame is the first picture decoded within this many packets of
// the video stream; a file that yields none by then is treated as broken
// rather than read to its end.
// One read of a file being served. Once the connection writes in large
// pieces, reads of 128 KiB to 1 MiB measured the same per byte here; the
// small one keeps eight downloads' buffers at 1 MiB rather than 8.
constexpr std::int64_t kReadBytes = 128 * 1024;
static_assert(kReadBytes <= static_cast<std::int64_t>(PhotoStore::kMaxChunkBytes));

constexpr int kMaxPosterPackets = 256;

// Decoders work on a frame rounded up to their blocks (64 pixels at most
// for HEVC), larger than the picture the stream declares.
constexpr std::int64_t kCodedMargin = 64;

PhotoStore::Record recordOf(const CatalogAsset& asset) {
  PhotoStore::Record record;
  record.localIdentifier = asset.localIdentifier;
  if (asset.created) record.creationDate = instantOf(*asset.created);
  record.modificationDate = instantOf(asset.modified);
  record.versionDate = instantOf(asset.version);
  record.mediaType = static_cast<int>(asset.mediaType);
  record.pixelWidth = asset.width;
  record.pixelHeight = asset.height;
  record.duration = asset.duration.value_or(0);
  return record;
}

class CatalogFetch : public PhotoStore::FetchResult {
 public:
  // The assets at positions [from, to) of the whole listing, or of the
  // listing of `type` when given.
  CatalogFetch(const Catalog& catalog, std::optional<MediaType> type, std::int64_t from, std::int64_t to)
      : catalog_(catalog), type_(type), from_(from), count_(std::max<std::int64_t>(0, to - from)) {}

  std::int64_t count() const override { return count_; }

  // A listing reads a few scattered positions to find its window, then the
  // window in order; once reads run in order, the next ones are read ahead
  // in one query.
  PhotoStore::Record at(std::int64_t position) const override {
    if (position < 0 || position >= count_) throw std::out_of_range("No asset at this position of the fetch.");
    const bool inOrder = position == last_ + 1;
    last_ = position;
    if (position < aheadFrom_ || position >= aheadFrom_ + static_cast<std::int64_t>(ahead_.size())) {
      const std::int64_t to = inOrder ? std::min(count_, position + kReadAhead) : position + 1;
      ahead_ = type_ ? catalog_.range(*type_, from_ + position, from_ + to) : catalog_.range(from_ + position, from_ + to);
      aheadFrom_ = position;
    }
    const std::size_t index = static_cast<std::size_t>(position - aheadFrom_);
    // The folders changed since the fetch and the listing got shorter.
    if (index >= ahead_.size()) throw std::out_of_range("The asset at this position is gone.");
    return recordOf(ahead_[index]);
  }

 private:
  static constexpr std::int64_t kReadAhead = 500;  // the largest page

  const Catalog& catalog_;
  std::optional<MediaType> type_;
  std::int64_t from_;
  std::int64_t count_;
  // Used by the one thread that made the fetch.
  mutable std::int64_t last_ = -2;
  mutable std::vector<CatalogAsset> ahead_;
  mutable std::int64_t aheadFrom_ = 0;
};


// --- Pictures -------------------------------------------------------------

bool vipsReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    ready = VIPS_INIT("lumenvale") == 0;
    // Files change under the same name; a cached decode would show the
    // old picture.
    if (ready) vips_cache_set_max(0);
  });
  return ready;
}

struct Unref {
  void operator()(VipsImage* image) const { g_object_unref(image); }
};
using VipsPtr = std::unique_ptr<VipsImage, Unref>;

// made takes a vips call's result: the image on success, else nothing (and
// the error buffer emptied, as each failure is answered by nullptr here).
VipsPtr made(int rc, VipsImage* image) {
  if (rc != 0 || image == nullptr) {
    if (image) g_object_unref(image);
    vips_error_clear();
    return nullptr;
  }
  return VipsPtr(image);
}

// vipsCall runs one vips operation that writes an image through its
// argument, and takes its result as made() does.
template <typename Operation>
VipsPtr vipsCall(Operation operation) {
  VipsImage* image = nullptr;
  const int rc = operation(&image);
  return made(rc, image);
}

class VipsPicture : public PhotoStore::Image {
 public:
  explicit VipsPicture(VipsPtr image) : image_(std::move(image)) {}
  double width() const override { return vips_image_get_width(image_.get()); }
  double height() const override { return vips_image_get_height(image_.get()); }
  double scale() const override { return 1; }
  VipsImage* image() const { return image_.get(); }

 private:
  VipsPtr image_;  // decoded into memory, never changed
};

// finished returns `image` as 8-bit sRGB decoded into memory, so that a
// picture never goes back to its file (which may change or be deleted)
// and any decoding error surfaces here.
PhotoStore::ImagePtr finished(VipsPtr image) {
  if (!image) return nullptr;
  VipsPtr srgb = vipsCall([&](VipsImage** out) {
    return vips_colourspace(image.get(), out, VIPS_INTERPRETATION_sRGB, nullptr);
  });
  if (!srgb) return nullptr;
  VipsImage* memory = vips_image_copy_memory(srgb.get());
  if (memory == nullptr) {
    vips_error_clear();
    return nullptr;
  }
  // The copy can keep metadata blobs that belong to the decoder's image,
  // which is gone once this returns; a picture needs none of them.
  for (const char* blob : {VIPS_META_EXIF_NAME, VIPS_META_XMP_NAME, VIPS_META_IPTC_NAME, VIPS_META_ICC_NAME}) {
    vips_image_remove(memory, blob);
  }
  return std::make_shared<VipsPicture>(VipsPtr(memory));
}

// opaque returns the image with any transparency flattened over white.
VipsPtr opaque(VipsImage* image) {
  if (!vips_image_hasalpha(image)) {
    return vipsCall([&](VipsImage** out) { return vips_copy(image, out, nullptr); });
  }
  VipsArrayDouble* white = vips_array_double_newv(3, 255.0, 255.0, 255.0);
  VipsPtr flat = vipsCall([&](VipsImage** out) { return vips_flatten(image, out, "background", white, nullptr); });
  vips_area_unref(VIPS_AREA(white));
  return flat;
}

// boxFor returns the side of the square the picture is scaled into: the
// target for fit, for fill the longest side that makes the shortest one
// the target.
int boxFor(std::int64_t target, PhotoStore::ContentMode mode, int width, int height) {
  const double side = static_cast<double>(std::max<std::int64_t>(1, target));
  if (mode == PhotoStore::ContentMode::fit || width <= 0 || height <= 0) {
    return static_cast<int>(std::min(side, 1e6));
  }
  const double longSide = std::max(width, height), shortSide = std::min(width, height);
  return static_cast<int>(std::min(std::ceil(side * longSide / shortSide), 1e6));
}

struct UnrefSource {
  void operator()(VipsSource* source) const { g_object_unref(source); }
};
using SourcePtr = std::unique_ptr<VipsSource, UnrefSource>;

// pictureSource opens a photo's file for libvips, or gives nothing when it
// is not a regular file: opening a FIFO put in place of a photo would wait
// for a writer for ever, and a link put there would show a picture from
// outside the library. Header and pixels are then read from this one open
// file, so the picture checked is the picture decoded.
SourcePtr pictureSource(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return nullptr;
  struct stat facts {};
  SourcePtr source;
  // The source reads its own copy of the descriptor.
  if (::fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode)) source.reset(vips_source_new_from_descriptor(fd));
  ::close(fd);
  if (!source) vips_error_clear();
  return source;
}

// headerOf returns what the picture's header declares; opening reads only
// the header.
std::optional<PictureLimits::Header> headerOf(VipsSource* source) {
  VipsPtr image = made(0, vips_image_new_from_source(source, "", nullptr));
  if (!image) return std::nullopt;
  PictureLimits::Header header;
  const char* loader = nullptr;
  if (vips_image_get_string(image.get(), VIPS_META_LOADER, &loader) == 0 && loader != nullptr) header.loader = loader;
  header.width = vips_image_get_width(image.get());
  header.height = vips_image_get_height(image.get());
  header.bands = vips_image_get_bands(image.get());
  header.bytesPerSample = static_cast<int>(vips_format_sizeof(vips_image_get_format(image.get())));
  int value = 0;
  if (vips_image_get_typeof(image.get(), "interlaced") != 0 && vips_image_get_int(image.get(), "interlaced", &value) == 0) {
    header.interlaced = value != 0;
  }
  if (vips_image_get_typeof(image.get(), VIPS_META_N_PAGES) != 0 &&
      vips_image_get_int(image.get(), VIPS_META_N_PAGES, &value) == 0) {
    header.pages = value;
  }
  vips_error_clear();
  return header;
}

// outputPixels returns the pixels of a picture of `width` x `height` scaled
// down, never up, into a square of `box`.
std::int64_t outputPixels(std::int64_t width, std::int64_t height, int box) {
  const double scale = std::min(1.0, static_cast<double>(box) / static_cast<double>(std::max(width, height)));
  return static_cast<std::int64_t>(std::ceil(static_cast<double>(width) * scale)) *
         static_cast<std::int64_t>(std::ceil(static_cast<double>(height) * scale));
}

// photoThumbnail makes the picture of a photo file, once its header shows
// that the decode fits the limits and the gate lets it in.
PhotoStore::ImagePtr photoThumbnail(const std::string& path, std::int64_t target, PhotoStore::ContentMode mode) {
  SourcePtr source = pictureSource(path);
  if (!source) return nullptr;
  const std::optional<PictureLimits::Header> header = headerOf(source.get());
  if (!header || header->width <= 0 || header->height <= 0) return nullptr;
  const int box = boxFor(target, mode, static_cast<int>(header->width), static_cast<int>(header->height));
  const std::optional<std::int64_t> cost =
      PictureLimits::decodeCost(*header, outputPixels(header->width, header->height, box));
  if (!cost) return nullptr;
  std::optional<PictureLimits::DecodeGate::Pass> pass = PictureLimits::DecodeGate::shared().enter(*cost);
  if (!pass) return nullptr;
  // Shrink-on-load decodes a JPEG, WebP or HEIC at a fraction of its size;
  // a truncated file fails rather than giving a half-grey picture. The
  // pixels are decoded in finished(), under the pass.
  return finished(vipsCall([&](VipsImage** out) {
    // A thumbnail of a source hands its loader only the option string.
    return vips_thumbnail_source(source.get(), out, box, "height", box, "size", VIPS_SIZE_DOWN, "option_string",
                                 "fail_on=truncated", nullptr);
  }));
}

struct CloseInput {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct FreeCodec {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FreePacket {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FreeFrame {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct FreeScaler {
  void operator()(SwsContext* context) const { sws_freeContext(context); }
};

// decodeFirst returns the first frame of the video stream that the decoder
// gives, or nothing.
std::unique_ptr<AVFrame, FreeFrame> decodeFirst(AVFormatContext* format, int stream, AVCodecContext* codec) {
  std::unique_ptr<AVPacket, FreePacket> packet(av_packet_alloc());
  std::unique_ptr<AVFrame, FreeFrame> frame(av_frame_alloc());
  if (!packet || !frame) return nullptr;
  for (int packets = 0; packets < kMaxPosterPackets;) {
    const int read = av_read_frame(format, packet.get());
    if (read == AVERROR_EOF) break;
    if (read < 0) return nullptr;
    if (packet->stream_index != stream) {
      av_packet_unref(packet.get());
      continue;
    }
    ++packets;
    const int sent = avcodec_send_packet(codec, packet.get());
    av_packet_unref(packet.get());
    if (sent < 0 && sent != AVERROR(EAGAIN)) return nullptr;
    const int received = avcodec_receive_frame(codec, frame.get());
    if (received == 0) return frame;
    if (received != AVERROR(EAGAIN)) return nullptr;
  }
  // A decoder that delays its output gives the frame once drained.
  if (avcodec_send_packet(codec, nullptr) < 0) return nullptr;
  if (avcodec_receive_frame(codec, frame.get()) == 0) return frame;
  return nullptr;
}

// One dictionary of decoder options for each stream of a file.
struct StreamOptions {
  explicit StreamOptions(unsigned streams) : each(streams, nullptr) {}
  ~StreamOptions() {
    for (AVDictionary*& options : each) av_dict_free(&options);
  }
  std::vector<AVDictionary*> each;
};

// posterFrame returns the first frame of the video at `path` scaled down,
// never up, into the square that `target` and `mode` give, as an RGB image
// turned as the video's display matrix says, or nothing. Nothing is
// decoded before the declared frame size shows that the decode fits the
// limits and the gate has let it in; the pass is kept in `pass` until the
// picture is finished.
VipsPtr posterFrame(const std::string& path, std::int64_t target, PhotoStore::ContentMode mode,
                    std::optional<PictureLimits::DecodeGate::Pass>& pass) {
  // FFmpeg opens files by name.
  AVFormatContext* opened = nullptr;
  {
    const OpenedFile file(path);
    if (!file.regular() || avformat_open_input(&opened, file.name().c_str(), nullptr, nullptr) < 0) return nullptr;
  }
  std::unique_ptr<AVFormatContext, CloseInput> format(opened);
  // Reading the streams' facts may decode a frame of each, so the decode is
  // costed from the largest frame the container declares, before that.
  std::int64_t largestWidth = 0, largestHeight = 0;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVCodecParameters* declared = format->streams[i]->codecpar;
    if (declared->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    if (static_cast<std::int64_t>(declared->width) * declared->height > largestWidth * largestHeight) {
      largestWidth = declared->width;
      largestHeight = declared->height;
    }
  }
  const int largestBox = boxFor(target, mode, static_cast<int>(largestWidth), static_cast<int>(largestHeight));
  const std::optional<std::int64_t> cost =
      PictureLimits::videoCost(largestWidth, largestHeight, outputPixels(largestWidth, largestHeight, largestBox));
  if (!cost) return nullptr;
  pass = PictureLimits::DecodeGate::shared().enter(*cost);
  if (!pass) return nullptr;
  // Every decoder, here and below, runs on one thread (frame threading
  // holds a frame per thread) and refuses a frame larger than declared,
  // give or take its block size, before allocating it.
  const std::int64_t maxPixels = (largestWidth + kCodedMargin) * (largestHeight + kCodedMargin);
  StreamOptions options(format->nb_streams);
  for (AVDictionary*& each : options.each) {
    if (av_dict_set_int(&each, "max_pixels", maxPixels, 0) < 0 || av_dict_set(&each, "threads", "1", 0) < 0) {
      return nullptr;
    }
  }
  if (avformat_find_stream_info(format.get(), options.each.empty() ? nullptr : options.each.data()) < 0) {
    return nullptr;
  }
  const AVCodec* decoder = nullptr;
  const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
  if (index < 0 || decoder == nullptr) return nullptr;
  AVStream* stream = format->streams[index];
  const int declaredWidth = stream->codecpar->width, declaredHeight = stream->codecpar->height;
  if (declaredWidth > largestWidth || declaredHeight > largestHeight) return nullptr;
  const int box = boxFor(target, mode, declaredWidth, declaredHeight);
  std::unique_ptr<AVCodecContext, FreeCodec> codec(avcodec_alloc_context3(decoder));
  if (!codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0) return nullptr;
  codec->thread_count = 1;
  codec->max_pixels = maxPixels;
  if (avcodec_open2(codec.get(), decoder, nullptr) < 0) return nullptr;
  auto frame = decodeFirst(format.get(), index, codec.get());
  if (!frame || frame->width <= 0 || frame->height <= 0) return nullptr;
  if (frame->width > declaredWidth || frame->height > declaredHeight) return nullptr;

  const int width = frame->width, height = frame->height;
  const double scale = std::min(1.0, static_cast<double>(box) / std::max(width, height));
  const int outWidth = std::max(1, static_cast<int>(std::lround(width * scale)));
  const int outHeight = std::max(1, static_cast<int>(std::lround(height * scale)));
  std::unique_ptr<SwsContext, FreeScaler> scaler(
      sws_getContext(width, height, static_cast<AVPixelFormat>(frame->format), outWidth, outHeight, AV_PIX_FMT_RGB24,
                     SWS_AREA, nullptr, nullptr, nullptr));
  if (!scaler) return nullptr;
  const std::size_t stride = static_cast<std::size_t>(outWidth) * 3;
  std::vector<std::uint8_t> rgb(stride * static_cast<std::size_t>(outHeight));
  std::uint8_t* planes[4] = {rgb.data(), nullptr, nullptr, nullptr};
  int strides[4] = {static_cast<int>(stride), 0, 0, 0};
  if (sws_scale(scaler.get(), frame->data, frame->linesize, 0, height, planes, strides) != outHeight) {
    return nullptr;
  }
  VipsPtr image = made(0, vips_image_new_from_memory_copy(rgb.data(), rgb.size(), outWidth, outHeight, 3,
                                                           VIPS_FORMAT_UCHAR));
  if (!image) return nullptr;
  image = vipsCall([&](VipsImage** out) {
    return vips_copy(image.get(), out, "interpretation", VIPS_INTERPRETATION_sRGB, nullptr);
  });
  if (!image) return nullptr;

  std::size_t matrixSize = 0;
  const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &matrixSize);
  if (matrix == nullptr || matrixSize < 9 * sizeof(int32_t)) return image;
  // The matrix turns counter-clockwise; vips turns clockwise.
  const double degrees = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
  if (!std::isfinite(degrees)) return image;
  const long quarters = ((std::lround(degrees / 90.0) % 4) + 4) % 4;
  if (quarters == 0) return image;
  const VipsAngle angle = quarters == 1 ? VIPS_ANGLE_D90 : quarters == 2 ? VIPS_ANGLE_D180 : VIPS_ANGLE_D270;
  return vipsCall([&](VipsImage** out) { return vips_rot(image.get(), out, angle, nullptr); });
}

PhotoStore::ImagePtr videoThumbnail(const std::string& path, std::int64_t target, PhotoStore::ContentMode mode) {
  std::optional<PictureLimits::DecodeGate::Pass> pass;
  return finished(posterFrame(path, target, mode, pass));
}

// pictureFile returns the file whose picture shows the asset: its edit when
// it has one.
const CatalogFile* pictureFile(const CatalogAsset& asset) {
  const ResourceType preferred[] = {ResourceType::fullSizePhoto, ResourceType::photo, ResourceType::alternatePhoto,
                                ResourceType::fullSizeVideo, ResourceType::video};
  for (ResourceType role : preferred) {
    for (const CatalogFile& file : asset.files) {
      if (file.role == role) return &file;
    }
  }
  return nullptr;
}

// --- Trash ----------------------------------------------------------------

// Why one file, and so its whole asset, stays: a reason code the laptop
// reads and the owner's explanation.
struct Refusal {
  std::string reason;
  std::string detail;
};

// A Trash that can take the files of one file system: files/ and info/
// under `folder`. A volume's Trash writes the original paths relative to
// `topdir`, so that they stay true wherever the volume is mounted next;
// the home Trash (empty topdir) writes them whole.
struct TrashCan {
  fs::path folder;
  fs::path topdir;
};

std::optional<fs::path> homeTrash() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return fs::path(data) / "Trash";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return fs::path(home) / ".local/share/Trash";
  return std::nullopt;
}

// deviceOf returns the file system of `path`, or of its nearest existing
// ancestor (a home Trash not yet made lives where its parent does).
std::optional<dev_t> deviceOf(fs::path path) {
  for (;;) {
    struct stat facts {};
    if (::stat(path.c_str(), &facts) == 0) return facts.st_dev;
    if (path == path.root_path() || !path.has_parent_path()) return std::nullopt;
    path = path.parent_path();
  }
}

// topOf returns the top directory of the file system `device` that holds
// `folder` (a canonical path): its highest ancestor on the same device.
fs::path topOf(fs::path folder, dev_t device) {
  while (folder != folder.root_path()) {
    struct stat facts {};
    const fs::path up = folder.parent_path();
    if (::stat(up.c_str(), &facts) != 0 || facts.st_dev != device) break;
    folder = up;
  }
  return folder;
}

// ownFolder makes `path` (mode 0700) when it is missing, and says whether
// it is now a folder of this user on `device`. A link is never followed: a
// link planted in a shared place could send the owner's photos anywhere.
bool ownFolder(const fs::path& path, dev_t device) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat facts {};
  return ::lstat(path.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode) && facts.st_uid == ::getuid() &&
         facts.st_dev == device;
}

bool usableTrash(const fs::path& folder, dev_t device) {
  return ownFolder(folder, device) && ownFolder(folder / "files", device) && ownFolder(folder / "info", device);
}

// trashFor returns the Trash that takes `original`, a file on `device`:
// the home Trash for files of its own file system (and no other there),
// else the volume's
// $topdir/.Trash/$uid (only where .Trash is a real folder with the sticky
// bit, so no other user can swap this user's folder in it) or
// $topdir/.Trash-$uid, made when missing. Files are only ever renamed into
// a Trash, never copied, so it must be on the file's own file system.
std::variant<TrashCan, Refusal> trashFor(const fs::path& original, dev_t device) {
  const std::optional<fs::path> home = homeTrash();
  if (home && deviceOf(*home) == device) {
    std::error_code ignored;
    fs::create_directories(home->parent_path(), ignored);
    if (usableTrash(*home, device)) return TrashCan{*home, {}};
    return Refusal{"no_trash", "The Trash " + home->string() + " cannot be used: it must be a folder of yours."};
  }
  const fs::path top = topOf(original.parent_path(), device);
  const std::string uid = std::to_string(::getuid());
  struct stat shared {};
  if (::lstat((top / ".Trash").c_str(), &shared) == 0 && S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX) != 0 &&
      usableTrash(top / ".Trash" / uid, device)) {
    return TrashCan{top / ".Trash" / uid, top};
  }
  if (usableTrash(top / (".Trash-" + uid), device)) return TrashCan{top / (".Trash-" + uid), top};
  return Refusal{"no_trash", "No Trash can take " + original.string() + ": the home Trash is on another disk, and " +
                                 (top / (".Trash-" + uid)).string() + " cannot be used."};
}

std::string localDeletionDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[32];
  if (localtime_r(&now, &local) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local) == 0) {
    return "1970-01-01T00:00:00";
  }
  return text;
}


struct Trashed {
  fs::path original;
  fs::path moved;  // in Trash/files
  fs::path info;   // in Trash/info
};

// Names after the first clash get " 2", " 3", ... before the extension;
// past this many the Trash is treated as unusable.
constexpr int kMaxTrashNameTries = 10000;

// moveToTrash moves one file into `can`: its name is reserved by creating
// the .trashinfo exclusively, as other trash users expect, then the file
// is renamed.
std::variant<Trashed, Refusal> moveToTrash(const fs::path& original, const CatalogFile& file, const TrashCan& can) {
  const fs::path files = can.folder / "files", info = can.folder / "info";
  const std::string stem = original.stem().string(), extension = original.extension().string();
  const fs::path recorded = can.topdir.empty() ? original : original.lexically_relative(can.topdir);
  const std::string content = "[Trash Info]\nPath=" + Text::percentEncoded(recorded.string(), "/") +
                              "\nDeletionDate=" + localDeletionDate() + "\n";
  for (int attempt = 1; attempt <= kMaxTrashNameTries; ++attempt) {
    const std::string name =
        attempt == 1 ? original.filename().string() : stem + " " + std::to_string(attempt) + extension;
    const fs::path infoPath = info / (name + ".trashinfo"), moved = files / name;
    const int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      return Refusal{"not_deleted", "The Trash cannot be written (" + infoPath.string() + ": " + errnoText(errno) + ")."};
    }
    const bool written = AtomicFile::writeAll(fd, content);
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
      const int error = written ? errno : writeError;
      ::unlink(infoPath.c_str());
      return Refusal{"not_deleted",
                     "The Trash cannot be written (" + infoPath.string() + ": " + errnoText(error) + ")."};
    }
    struct stat existing {};
    if (::lstat(moved.c_str(), &existing) == 0) {
      ::unlink(infoPath.c_str());
      continue;
    }
    if (::rename(original.c_str(), moved.c_str()) != 0) {
      const int error = errno;
      ::unlink(infoPath.c_str());
      // Moving across file systems would mean copying the whole file.
      return Refusal{error == EXDEV ? "no_trash" : "not_deleted",
                     "The file " + original.string() + " cannot be moved to the Trash: " + errnoText(error) + "."};
    }
    // The file checked before the rename may have been swapped for another
    // in between; what was moved must be what the laptop verified.
    struct stat facts {};
    if (::lstat(moved.c_str(), &facts) != 0 || !file.isFoundIn(facts)) {
      if (::rename(moved.c_str(), original.c_str()) == 0) ::unlink(infoPath.c_str());
      return Refusal{"changed", "The file " + original.string() + " changed while it was moved to the Trash."};
    }
    return Trashed{original, moved, infoPath};
  }
  return Refusal{"not_deleted", "The Trash has no free name for " + original.string() + "."};
}

// trashFile moves one catalog file into the Trash of its own volume, but
// only while it is the very file the catalog knows: a regular file, not a
// link, of the same inode, size and modification time. Anything else holds
// bytes no laptop has verified.
std::variant<Trashed, Refusal> trashFile(const CatalogFile& file) {
  struct stat facts {};
  if (::lstat(file.path.c_str(), &facts) != 0) {
    const int error = errno;
    return Refusal{error == ENOENT ? "changed" : "not_deleted",
                   "The file " + file.path + " cannot be found: " + errnoText(error) + "."};
  }
  if (!file.isFoundIn(facts)) {
    return Refusal{"changed",
                   "The file " + file.path + " is not the one the laptop verified: it changed, or is a link."};
  }
  // The folder's real path: a .trashinfo must name where the file can go
  // back to, and the volume's top is found from it.
  std::error_code failed;
  const fs::path folder = fs::canonical(fs::path(file.path).parent_path(), failed);
  if (failed) return Refusal{"not_deleted", "The folder of " + file.path + " cannot be read: " + failed.message() + "."};
  const fs::path original = folder / fs::path(file.path).filename();
  auto can = trashFor(original, facts.st_dev);
  if (auto* refusal = std::get_if<Refusal>(&can)) return std::move(*refusal);
  return moveToTrash(original, file, std::get<TrashCan>(can));
}

// restore puts trashed files back, newest first; the failures' description.
std::string restore(const std::vector<Trashed>& entries) {
  std::string failures;
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    if (::rename(entry->moved.c_str(), entry->original.c_str()) != 0) {
      const std::string reason = errnoText(errno);
      failures.append(" ").append(entry->original.string()).append(" stays in the Trash as ");
      failures.append(entry->moved.string()).append(" (").append(reason).append(").");
      continue;
    }
    ::unlink(entry->info.c_str());
  }
  return failures;
}

// trashAll moves these files, one asset's, all or none: when one cannot
// go, those already moved come back.
std::optional<Refusal> trashAll(const std::vector<const CatalogFile*>& files) {
  std::vector<Trashed> moved;
  for (const CatalogFile* file : files) {
    auto entry = trashFile(*file);
    if (auto* refusal = std::get_if<Refusal>(&entry)) {
      refusal->detail += restore(moved);
      return std::move(*refusal);
    }
    moved.push_back(std::get<Trashed>(std::move(entry)));
  }
  return std::nullopt;
}

// filesOf returns the asset's files as the store hands them out, in the
// catalog's order.
std::vector<PhotoStore::File> filesOf(const CatalogAsset& asset) {
  std::vector<PhotoStore::File> files;
  for (const CatalogFile& file : asset.files) {
    const std::string name = file.name();
    const auto type = MimeTypes::folderType(name);
    // Adjustment data is the one kind outside the media table.
    files.push_back(PhotoStore::File{file.role, name,
                                     type ? std::string(type->uti) : std::string("public.data"), file.path});
  }
  return files;
}

}  // namespace

// --- The store ------------------------------------------------------------

struct FolderPhotoStore::Job {
  RequestId id = 0;
  std::string path;
  DataRequest request;
  // Held while a piece is handed over (`received` runs with it held), and
  // taken by cancelDataRequest after it marks the job: once a cancel
  // returns, no piece follows it. A consumer that cancels from inside
  // `received` is on the delivering thread, which sees the mark before the
  // next piece: `deliverer` tells cancelDataRequest not to wait for itself.
  Mutex delivering;
  std::atomic<std::thread::id> deliverer{};
  std::atomic<bool> cancelled = false;
};

FolderPhotoStore::FolderPhotoStore(Catalog& catalog) : catalog_(catalog) {}

FolderPhotoStore::~FolderPhotoStore() {
  std::vector<RequestId> ids;
  {
    MutexLock hold(mutex_);
    closing_ = true;
    for (const auto& [id, job] : jobs_) ids.push_back(id);
  }
  for (RequestId id : ids) cancelDataRequest(id);
  MutexLock hold(mutex_);
  while (running_ != 0) hold.wait(ended_);
}

void FolderPhotoStore::start(std::function<void()> work) {
  {
    MutexLock hold(mutex_);
    ++running_;
  }
  std::thread([this, work = std::move(work)] {
    work();
    // Notified under the lock: once it is released the destructor may
    // return, and this thread touches nothing of the store after that.
    MutexLock hold(mutex_);
    --running_;
    ended_.notify_all();
  }).detach();
}

std::vector<PhotoStore::Record> FolderPhotoStore::fetch(const std::vector<std::string>& localIdentifiers) {
  std::vector<Record> records;
  for (const CatalogAsset& asset : catalog_.find(localIdentifiers)) {
    if (!trashed(asset.localIdentifier)) records.push_back(recordOf(asset));
  }
  return records;
}

std::unique_ptr<PhotoStore::FetchResult> FolderPhotoStore::fetch(const Predicate& predicate) {
  const auto wants = [&](int type) {
    return predicate.mediaTypes.empty() ||
           std::find(predicate.mediaTypes.begin(), predicate.mediaTypes.end(), type) != predicate.mediaTypes.end();
  };
  const bool images = wants(kImage), videos = wants(kVideo);
  // The folders hold only the owner's own photos and videos.
  if ((predicate.sourceTypes & kUserLibrary) == 0 || (!images && !videos)) {
    return std::make_unique<CatalogFetch>(catalog_, std::nullopt, 0, 0);
  }
  std::optional<MediaType> type;
  if (!images) type = MediaType::video;
  if (!videos) type = MediaType::image;
  const std::int64_t count = type ? catalog_.count(*type) : catalog_.count();
  std::int64_t from = 0;
  switch (predicate.created) {
    case Predicate::Created::any: break;
    case Predicate::Created::none: from = type ? catalog_.countDated(*type) : catalog_.countDated(); break;
    case Predicate::Created::atOrBefore: {
      const TimePoint bound = timeOf(predicate.createdAtOrBefore);
      from = type ? catalog_.countNewerThan(*type, bound) : catalog_.countNewerThan(bound);
      break;
    }
  }
  return std::make_unique<CatalogFetch>(catalog_, type, from, count);
}

std::vector<PhotoStore::File> FolderPhotoStore::resources(const Record& record) {
  std::vector<File> files;
  for (const CatalogAsset& asset : catalog_.find({record.localIdentifier})) {
    if (trashed(asset.localIdentifier)) continue;
    for (File& file : filesOf(asset)) files.push_back(std::move(file));
  }
  return files;
}

PhotoStore::RequestId FolderPhotoStore::requestData(const File& file, DataRequest request) {
  auto job = std::make_shared<Job>();
  job->path = file.locator;
  job->request = std::move(request);
  {
    MutexLock hold(mutex_);
    job->id = ++lastRequest_;
    jobs_[job->id] = job;
  }
  start([this, job] {
    deliver(*job);
    MutexLock hold(mutex_);
    jobs_.erase(job->id);
  });
  return job->id;
}

// openChecked opens the file at `path` for reading if it is still the
// regular file the catalog recorded there, or says why not. Never through
// a link, and never waiting: a FIFO or a device planted under a photo's
// name would otherwise hold the reading thread, and its connection, for
// good.
std::variant<FolderPhotoStore::OpenFile, std::string> FolderPhotoStore::openChecked(const std::string& path) const {
  const std::optional<CatalogFile> recorded = catalog_.file(path);
  if (!recorded) return "The file " + path + " is no longer in the library.";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    return "The file " + path + " cannot be read: " +
           (errno == ELOOP ? std::string("it is a link") : errnoText(errno)) + ".";
  }
  struct stat facts {};
  std::string problem;
  if (::fstat(fd, &facts) != 0) {
    problem = "The file " + path + " cannot be read: " + errnoText(errno) + ".";
  } else if (!S_ISREG(facts.st_mode)) {
    problem = "The file " + path + " cannot be read: it is not a regular file.";
  } else if (!recorded->isFoundIn(facts)) {
    // Another file in its place (through a folder swapped for a link, say)
    // or the same one rewritten: its bytes are not those of the version
    // the laptop was shown, and resuming across them would mix two files.
    problem = "The file " + path + " changed since the library was read; list it again.";
  }
  if (!problem.empty()) {
    ::close(fd);
    return problem;
  }
  return OpenFile{fd, static_cast<std::int64_t>(facts.st_size)};
}

void FolderPhotoStore::deliver(Job& job) {
  std::optional<std::string> error;
  std::int64_t size = 0;
  auto opened = openChecked(job.path);
  const int fd = std::holds_alternative<OpenFile>(opened) ? std::get<OpenFile>(opened).fd : -1;
  if (fd < 0) {
    error = std::get<std::string>(std::move(opened));
  } else {
    size = std::get<OpenFile>(opened).size;
    std::int64_t offset = std::clamp<std::int64_t>(job.request.from, 0, size);
    // One piece's buffer, reused: the file is never held whole.
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::int64_t>(kReadBytes, size - offset)));
    while (offset < size && !job.cancelled) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(kReadBytes, size - offset));
      const ssize_t got = ::pread(fd, buffer.data(), want, offset);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        error = "The file " + job.path + " cannot be read: " + errnoText(errno) + ".";
        break;
      }
      if (got == 0) {
        error = "The file " + job.path + " got shorter while it was read.";
        break;
      }
      MutexLock delivering(job.delivering);
      if (job.cancelled) break;
      job.deliverer = std::this_thread::get_id();
      job.request.received(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
      job.deliverer = std::thread::id();
      offset += got;
    }
  }
  if (fd >= 0) ::close(fd);
  if (job.cancelled) error = "The request was cancelled.";
  job.request.completed(std::move(error), size);
}

void FolderPhotoStore::cancelDataRequest(RequestId id) {
  std::shared_ptr<Job> job;
  {
    MutexLock hold(mutex_);
    auto found = jobs_.find(id);
    if (found == jobs_.end()) return;
    job = found->second;
  }
  job->cancelled = true;
  // From inside `received`: the worker sees the mark before the next piece.
  if (job->deliverer.load() == std::this_thread::get_id()) return;
  // Waits out a piece being handed over on the worker.
  MutexLock delivering(job->delivering);
}

PhotoStore::ImagePtr FolderPhotoStore::pictureOf(const std::string& path, std::int64_t targetSize,
                                                 ContentMode mode) {
  if (!vipsReady() || targetSize <= 0) return nullptr;
  const auto type = MimeTypes::folderType(path);
  if (type && type->kind == MimeTypes::Kind::video) return videoThumbnail(path, targetSize, mode);
  return photoThumbnail(path, targetSize, mode);
}

void FolderPhotoStore::requestImage(const Record& asset, const ImageRequest& request,
                                    std::function<void(ImagePtr)> result) {
  auto make = [this, id = asset.localIdentifier, request]() -> ImagePtr {
    auto found = catalog_.find({id});
    if (found.empty()) return nullptr;
    const CatalogFile* file = pictureFile(found.front());
    return file ? pictureOf(file->path, request.targetSize, request.contentMode) : nullptr;
  };
  if (request.synchronous) {
    result(make());
    return;
  }
  start([make = std::move(make), result = std::move(result)] { result(make()); });
}

PhotoStore::ImagePtr FolderPhotoStore::redraw(const Image& image, std::int64_t width, std::int64_t height) {
  const auto* picture = dynamic_cast<const VipsPicture*>(&image);
  if (picture == nullptr || width <= 0 || height <= 0 || width > VIPS_MAX_COORD || height > VIPS_MAX_COORD) {
    return nullptr;
  }
  const std::optional<std::int64_t> cost =
      PictureLimits::drawCost(static_cast<std::int64_t>(picture->width()) * static_cast<std::int64_t>(picture->height()),
                              width * height);
  if (!cost) return nullptr;
  std::optional<PictureLimits::DecodeGate::Pass> pass = PictureLimits::DecodeGate::shared().enter(*cost);
  if (!pass) return nullptr;
  VipsPtr flat = opaque(picture->image());
  if (!flat) return nullptr;
  VipsPtr sized = vipsCall([&](VipsImage** out) {
    return vips_thumbnail_image(flat.get(), out, static_cast<int>(width), "height", static_cast<int>(height), "size",
                                VIPS_SIZE_FORCE, nullptr);
  });
  if (!sized || vips_image_get_width(sized.get()) != width || vips_image_get_height(sized.get()) != height) {
    return nullptr;
  }
  return finished(std::move(sized));
}

std::optional<std::string> FolderPhotoStore::jpeg(const Image& image, double quality) {
  const auto* picture = dynamic_cast<const VipsPicture*>(&image);
  if (picture == nullptr) return std::nullopt;
  VipsPtr flat = opaque(picture->image());
  if (!flat) return std::nullopt;
  const int q = static_cast<int>(std::clamp(std::lround(quality * 100), 1L, 100L));
  void* buffer = nullptr;
  std::size_t length = 0;
  // Thumbnails carry no metadata: the picture is already upright, and the
  // source's EXIF block is not ours to send on.
  if (vips_jpegsave_buffer(flat.get(), &buffer, &length, "Q", q, "strip", TRUE, nullptr) != 0 || buffer == nullptr) {
    g_free(buffer);
    vips_error_clear();
    return std::nullopt;
  }
  std::string bytes(static_cast<const char*>(buffer), length);
  g_free(buffer);
  return bytes;
}

bool FolderPhotoStore::trashed(const std::string& localIdentifier) {
  MutexLock hold(mutex_);
  return trashed_.count(localIdentifier) != 0;
}

std::vector<PhotoStore::Deletion> FolderPhotoStore::deleteAssets(const std::vector<std::string>& localIdentifiers) {
  // Assets trashed while the catalog could not be written leave it now
  // that it may be writable again.
  std::set<std::string> uncatalogued;
  {
    MutexLock hold(mutex_);
    uncatalogued = trashed_;
  }
  for (const std::string& id : uncatalogued) {
    try {
      catalog_.remove(id);
      MutexLock hold(mutex_);
      trashed_.erase(id);
    } catch (const Catalog::Failure&) {
      break;  // still not writable
    }
  }

  const std::vector<CatalogAsset> assets = catalog_.find(localIdentifiers);
  std::vector<Deletion> outcomes;
  for (const std::string& id : localIdentifiers) {
    Deletion outcome{id, std::nullopt, {}};
    const auto asset = std::find_if(assets.begin(), assets.end(),
                                    [&](const CatalogAsset& found) { return found.localIdentifier == id; });
    const bool done = std::any_of(outcomes.begin(), outcomes.end(), [&](const Deletion& earlier) {
      return earlier.localIdentifier == id && !earlier.kept;
    });
    if (asset == assets.end() || done || trashed(id)) {
      outcome.kept = "not_found";
      outcome.detail = "The asset is no longer in the library.";
      outcomes.push_back(std::move(outcome));
      continue;
    }
    // Only the files listed as resources, the ones a laptop can have
    // copied and verified.
    std::vector<Rows::ResourceInfo> infos;
    for (const File& file : filesOf(*asset)) {
      infos.push_back({Rows::source(file.type), file.originalFilename, file.uniformTypeIdentifier});
    }
    std::vector<const CatalogFile*> listed;
    for (const auto& [position, resource] : Rows::mapped(infos)) {
      listed.push_back(&asset->files[position]);
    }
    if (std::optional<Refusal> refusal = trashAll(listed)) {
      outcome.kept = std::move(refusal->reason);
      outcome.detail = std::move(refusal->detail);
    } else {
      try {
        catalog_.remove(id);
      } catch (const Catalog::Failure&) {
        // The files are in the Trash: the asset is gone, whatever the
        // catalog, which a full disk may keep from writing. It is hidden
        // until the catalog takes the change.
        MutexLock hold(mutex_);
        trashed_.insert(id);
      }
    }
    outcomes.push_back(std::move(outcome));
  }
  return outcomes;
}

std::int64_t FolderPhotoStore::count(int mediaType) {
  if (mediaType != kImage && mediaType != kVideo) return 0;
  return catalog_.count(static_cast<MediaType>(mediaType));
}

}  // namespace lumenvale
