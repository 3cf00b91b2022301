// Reads HTTP/1.1 requests from one connection's byte stream, one per next().
// Owned by that connection's thread; takes no locks. Heads are capped at
// 16 KiB and 64 header names, bodies at 1 MiB; bytes past one request stay in
// the buffer for the next, so pipelined requests come back in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "transport/byte_stream.h"
#include "transport/http_request.h"

namespace lumenvale {

class RequestReader {
 public:
  // Through its CR LF CR LF terminator.
  static constexpr std::size_t kMaxHeadBytes = 16384;
  // Distinct names; repeating a name does not count twice.
  static constexpr std::size_t kMaxHeaderNames = 64;
  static constexpr std::int64_t kMaxBodyBytes = 1048576;

  // The reader keeps a reference: `source` must outlive it.
  explicit RequestReader(ByteSource& source) : source_(source) {}

  // setOnHead is told each time a request's head has arrived whole, before
  // its body is read, so the owner can give the body its own time limit.
  void setOnHead(std::function<void()> onHead) { onHead_ = std::move(onHead); }

  // next returns the next request, or nothing when the peer ended the stream
  // cleanly between requests. Throws HttpError for a malformed or over-limit
  // request (having consumed nothing past the check that failed),
  // ConnectionClosed when the stream ends inside a request, and whatever the
  // source throws. After a throw the reader is not used again.
  std::optional<HttpRequest> next();

  // parseQuery decodes the text after '?': pieces split at '&' (empty ones
  // dropped), each at its first '=', '+' read as a space before percent
  // escapes are decoded as UTF-8. Throws HttpError 400 for a bad escape or
  // decoded bytes that are not UTF-8. A later name replaces an earlier one.
  static std::map<std::string, std::string> parseQuery(std::string_view text);

 private:
  std::optional<std::string> readHead();
  std::string readExactly(std::size_t count);

  ByteSource& source_;
  std::function<void()> onHead_;
  std::string buffer_;  // received and not yet consumed by a request
};

}  // namespace lumenvale
