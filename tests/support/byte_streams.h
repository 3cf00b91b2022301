// In-memory byte streams for tests: a source that hands out prepared pieces
// and counts what it gave, and a sink that keeps everything sent to it.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/byte_stream.h"

namespace lumenvale::testing {

class PieceSource : public ByteSource {
 public:
  explicit PieceSource(std::vector<std::string> pieces) : pieces_(pieces.begin(), pieces.end()) {}

  // Splits `bytes` into one piece per `size` bytes.
  static PieceSource inPiecesOf(std::string_view bytes, std::size_t size) {
    std::vector<std::string> pieces;
    for (std::size_t at = 0; at < bytes.size(); at += size) pieces.emplace_back(bytes.substr(at, size));
    return PieceSource(std::move(pieces));
  }

  // Splits `bytes` in two at `offset`; an empty side is left out.
  static PieceSource splitAt(std::string_view bytes, std::size_t offset) {
    std::vector<std::string> pieces;
    if (offset > 0) pieces.emplace_back(bytes.substr(0, offset));
    if (offset < bytes.size()) pieces.emplace_back(bytes.substr(offset));
    return PieceSource(std::move(pieces));
  }

  std::optional<std::string> receive() override {
    if (pieces_.empty()) return std::nullopt;
    std::string piece = std::move(pieces_.front());
    pieces_.pop_front();
    given_ += piece.size();
    return piece;
  }

  std::size_t bytesGiven() const { return given_; }
  std::size_t piecesLeft() const { return pieces_.size(); }

 private:
  std::deque<std::string> pieces_;
  std::size_t given_ = 0;
};

class StringSink : public ByteSink {
 public:
  void send(std::string_view bytes) override {
    sent += bytes;
    ++sends;
  }
  void authenticated() override { ++authentications; }

  std::string sent;
  int sends = 0;
  int authentications = 0;  // requests told to carry a valid token
};

}  // namespace lumenvale::testing
