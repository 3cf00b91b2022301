// Small files that declare huge pictures, made on the spot for the tests
// and the memory benchmark of picture decoding: an interlaced PNG whose
// zeros compress a thousand to one, a progressive JPEG and a GIF whose
// headers declare any size over a few bytes of data. Stateless; libvips
// must be started before progressiveJpeg.
#pragma once

#include <vips/vips.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumenvale::testing::HostilePictures {

inline std::string bigEndian(std::uint32_t value, int bytes) {
  std::string text;
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) text.push_back(static_cast<char>((value >> shift) & 0xFF));
  return text;
}

inline std::string pngChunk(std::string_view type, std::string_view data) {
  const std::string typed = std::string(type).append(data);
  const auto crc = static_cast<std::uint32_t>(
      ::crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size())));
  return bigEndian(static_cast<std::uint32_t>(data.size()), 4) + typed + bigEndian(crc, 4);
}

// interlacedPng returns a black 8-bit RGB PNG of `width` x `height` in
// Adam7 order, or nothing when zlib fails.
inline std::optional<std::string> interlacedPng(std::uint32_t width, std::uint32_t height) {
  struct Pass {
    std::uint64_t x, y, dx, dy;
  };
  const Pass passes[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                         {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  std::uint64_t raw = 0;
  for (const Pass& pass : passes) {
    const std::uint64_t columns = width > pass.x ? (width - pass.x + pass.dx - 1) / pass.dx : 0;
    const std::uint64_t rows = height > pass.y ? (height - pass.y + pass.dy - 1) / pass.dy : 0;
    if (columns > 0) raw += rows * (1 + 3 * columns);  // a filter byte leads each line
  }
  z_stream stream{};
  if (deflateInit(&stream, Z_BEST_COMPRESSION) != Z_OK) return std::nullopt;
  const std::string zeros(1 << 22, '\0');
  std::string compressed;
  std::string out(1 << 16, '\0');
  bool finished = false;
  for (std::uint64_t left = raw; !finished;) {
    const std::uint64_t take = std::min<std::uint64_t>(left, zeros.size());
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    stream.avail_in = static_cast<uInt>(take);
    left -= take;
    const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    int result = Z_OK;
    do {
      stream.next_out = reinterpret_cast<Bytef*>(out.data());
      stream.avail_out = static_cast<uInt>(out.size());
      result = deflate(&stream, flush);
      compressed.append(out.data(), out.size() - stream.avail_out);
    } while (stream.avail_out == 0);
    if (flush == Z_FINISH) {
      if (result != Z_STREAM_END) {
        deflateEnd(&stream);
        return std::nullopt;
      }
      finished = true;
    }
  }
  deflateEnd(&stream);
  const std::string header = bigEndian(width, 4) + bigEndian(height, 4) + std::string("\x08\x02\x00\x00\x01", 5);
  return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", compressed) +
         pngChunk("IEND", "");
}

// gif returns a GIF whose one frame declares `width` x `height` and holds
// a single pixel's data.
inline std::string gif(std::uint16_t width, std::uint16_t height) {
  const auto little = [](std::uint16_t value) {
    return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
  };
  return "GIF89a" + little(width) + little(height) + std::string("\x80\x00\x00\x00\x00\x00\xff\xff\xff", 9) + "," +
         little(0) + little(0) + little(width) + little(height) + std::string("\x00\x02\x02\x44\x01\x00;", 8);
}

// withFrameSize sets the height and width of the first JPEG start-of-frame
// of kind `marker` in `bytes`; false when there is none.
inline bool withFrameSize(std::string& bytes, char marker, std::uint16_t width, std::uint16_t height) {
  const std::size_t at = bytes.find(std::string{'\xFF', marker});
  if (at == std::string::npos || at + 9 > bytes.size()) return false;
  bytes.replace(at + 5, 4, bigEndian(height, 2) + bigEndian(width, 2));
  return true;
}

// progressiveJpeg returns a 16 x 16 progressive JPEG of noise that
// declares `width` x `height`, or nothing when libvips cannot make it.
inline std::optional<std::string> progressiveJpeg(std::uint16_t width, std::uint16_t height) {
  VipsImage* noise = nullptr;
  VipsImage* grey = nullptr;
  void* buffer = nullptr;
  std::size_t length = 0;
  const bool made = vips_gaussnoise(&noise, 16, 16, nullptr) == 0 && vips_cast_uchar(noise, &grey, nullptr) == 0 &&
                    vips_jpegsave_buffer(grey, &buffer, &length, "interlace", TRUE, nullptr) == 0;
  std::optional<std::string> bytes;
  if (made) bytes.emplace(static_cast<const char*>(buffer), length);
  g_free(buffer);
  if (grey) g_object_unref(grey);
  if (noise) g_object_unref(noise);
  if (!made) vips_error_clear();
  if (bytes && !withFrameSize(*bytes, '\xC2', width, height)) return std::nullopt;
  return bytes;
}

}  // namespace lumenvale::testing::HostilePictures
