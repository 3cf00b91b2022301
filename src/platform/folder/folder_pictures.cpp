#include "platform/folder/folder_pictures.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <cmath>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "platform/folder/opened_file.h"
#include "platform/folder/picture_limits.h"

namespace lumenvale::FolderPictures {
namespace {

// A poster frame is the first picture decoded within this many packets of
// the video stream; a file that yields none by then is treated as broken
// rather than read to its end.
constexpr int kMaxPosterPackets = 256;

// Decoders work on a frame rounded up to their blocks (64 pixels at most
// for HEVC), larger than the picture the stream declares.
constexpr std::int64_t kCodedMargin = 64;

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

}  // namespace

bool ready() {
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

PhotoStore::ImagePtr photo(const std::string& path, std::int64_t target, PhotoStore::ContentMode mode) {
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

PhotoStore::ImagePtr video(const std::string& path, std::int64_t target, PhotoStore::ContentMode mode) {
  std::optional<PictureLimits::DecodeGate::Pass> pass;
  return finished(posterFrame(path, target, mode, pass));
}

PhotoStore::ImagePtr redraw(const PhotoStore::Image& image, std::int64_t width, std::int64_t height) {
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

std::optional<std::string> jpeg(const PhotoStore::Image& image, double quality) {
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

}  // namespace lumenvale::FolderPictures
