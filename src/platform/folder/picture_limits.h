// How much memory decoding a picture may take, so that no file in the photo
// folders can take the device's memory: what a decode is estimated to hold
// from the picture's header, and one gate that every decode of the process
// passes, holding at most kDecodeMemory of estimates and kMaxDecodes decodes
// at once. Estimates are pure functions; the gate is safe from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <optional>
#include <string>

#include "util/mutex.h"

namespace lumenvale::PictureLimits {

inline constexpr std::int64_t kMiB = 1024 * 1024;

// A picture declaring more pixels is refused, whatever its format: even
// decoded a few lines at a time it would keep a core busy for seconds. A
// 200-megapixel phone photo is below it.
inline constexpr std::int64_t kMaxPixels = 256'000'000;

// The estimated memory of every decode in flight, together; a decode that
// alone would need more is refused. Kept well under the 256 MiB that the
// device may add to its idle size while serving pictures.
inline constexpr std::int64_t kDecodeMemory = 192 * kMiB;

// Decodes running at once; more wait their turn in the order they came.
inline constexpr int kMaxDecodes = 2;

// What a picture's header says, as libvips reads it without decoding.
struct Header {
  std::string loader;  // libvips' loader, e.g. "pngload_source"
  std::int64_t width = 0;
  std::int64_t height = 0;
  int bands = 0;
  int bytesPerSample = 1;
  bool interlaced = false;  // an interlaced PNG or a progressive JPEG
  int pages = 1;            // frames of a GIF or WebP, pages of a TIFF
};

// decodeCost returns the bytes that making a picture of `outputPixels`
// from the file of `header` is estimated to hold at its peak, or nothing
// when the picture is refused: a loader that is not one of the photo
// formats (libvips picks it by content, not by name), too many pixels, or
// a decode costing more than kDecodeMemory.
std::optional<std::int64_t> decodeCost(const Header& header, std::int64_t outputPixels);

// videoCost returns the bytes that decoding one frame of `width` x `height`
// and scaling it to `outputPixels` is estimated to hold, or nothing when
// that is more than kDecodeMemory: frames up to about 14 megapixels (5K)
// are decoded, larger ones refused.
std::optional<std::int64_t> videoCost(std::int64_t width, std::int64_t height, std::int64_t outputPixels);

// drawCost returns the bytes that redrawing a picture of `inputPixels`
// held in memory to `outputPixels` is estimated to hold, or nothing when
// the result would be too large.
std::optional<std::int64_t> drawCost(std::int64_t inputPixels, std::int64_t outputPixels);

// DecodeGate lets decodes in one at a time in the order they ask, while
// the estimates of those inside fit its memory and a place is free.
class DecodeGate {
 public:
  DecodeGate(std::int64_t memory, int places) : memory_(memory), places_(places) {}
  DecodeGate(const DecodeGate&) = delete;
  DecodeGate& operator=(const DecodeGate&) = delete;

  // Pass is held for the length of one decode; it leaves on destruction.
  class Pass {
   public:
    Pass(Pass&& other) noexcept : gate_(other.gate_), cost_(other.cost_) { other.gate_ = nullptr; }
    Pass& operator=(Pass&& other) noexcept;
    ~Pass();

   private:
    friend class DecodeGate;
    Pass(DecodeGate* gate, std::int64_t cost) : gate_(gate), cost_(cost) {}
    DecodeGate* gate_;
    std::int64_t cost_;
  };

  // enter waits until a decode costing `cost` bytes may run and returns its
  // pass, or returns nothing at once when it could never fit.
  std::optional<Pass> enter(std::int64_t cost);

  // waiting returns how many have asked to enter and are not in yet.
  int waiting();

  // The gate every picture of this process passes.
  static DecodeGate& shared();

 private:
  void leave(std::int64_t cost);

  const std::int64_t memory_;
  const int places_;
  Mutex mutex_;
  std::condition_variable changed_;
  std::int64_t held_ GUARDED_BY(mutex_) = 0;  // the costs of those inside
  int inside_ GUARDED_BY(mutex_) = 0;
  std::uint64_t nextTicket_ GUARDED_BY(mutex_) = 0;  // the next to ask
  std::uint64_t serving_ GUARDED_BY(mutex_) = 0;     // the ticket allowed in next
};

}  // namespace lumenvale::PictureLimits
