// Fuzzes the HTTP/1.1 request reader over arbitrary byte streams cut into
// arbitrary receives. The input's first byte says how many piece lengths
// follow (0 to 15), each next byte one length (1 to 256), used in turn; the
// rest is the stream. The cuts must change nothing: every request and the
// way the stream ends must be what the same bytes give in one receive. Each
// request must also keep the promises of HttpRequest and of the limits.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "support/byte_streams.h"
#include "transport/request_reader.h"
#include "util/text.h"

namespace lumenvale::fuzz {
namespace {

// Everything the reader made of one stream.
struct Reading {
  std::vector<HttpRequest> requests;
  std::string end;  // "end", "closed", or the refusal's status and message
};

Reading read(ByteSource& source) {
  RequestReader reader(source);
  Reading reading;
  try {
    while (std::optional<HttpRequest> request = reader.next()) reading.requests.push_back(std::move(*request));
    reading.end = "end";
  } catch (const HttpError& refusal) {
    reading.end = std::to_string(refusal.status) + " " + refusal.code + " " + refusal.message;
  } catch (const ConnectionClosed&) {
    reading.end = "closed";
  }
  return reading;
}

bool same(const HttpRequest& a, const HttpRequest& b) {
  return a.method == b.method && a.path == b.path && a.query == b.query && a.headers == b.headers && a.body == b.body;
}

void checkRequest(const HttpRequest& request) {
  require(request.method == "GET" || request.method == "POST", "the method is GET or POST");
  require(request.path.starts_with('/'), "the path starts with /");
  require(request.path.find('?') == std::string::npos, "the path stops before the query");
  require(Text::isValidUtf8(request.path), "the path is UTF-8");
  require(request.headers.size() <= RequestReader::kMaxHeaderNames, "at most 64 header names");
  for (const auto& [name, value] : request.headers) {
    require(Text::isValidUtf8(name) && Text::isValidUtf8(value), "header names and values are UTF-8");
    for (const char c : name) require(c < 'A' || c > 'Z', "header names are lower case");
  }
  for (const auto& [name, value] : request.query) {
    require(Text::isValidUtf8(name) && Text::isValidUtf8(value), "query names and values are UTF-8");
  }
  require(request.body.size() <= static_cast<std::size_t>(RequestReader::kMaxBodyBytes), "bodies are at most 1 MiB");
  if (request.method == "GET") require(request.body.empty(), "a GET has no body");
  if (request.method == "POST") {
    const std::optional<std::string> length = request.header("content-length");
    require(length && Text::parseInteger(*length) == static_cast<std::int64_t>(request.body.size()),
            "a POST body is as long as its Content-Length");
  }
}

}  // namespace
}  // namespace lumenvale::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumenvale;
  using namespace lumenvale::fuzz;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.empty()) return 0;
  const std::size_t cutCount = static_cast<std::uint8_t>(input.front()) % 16;
  input.remove_prefix(1);
  if (input.size() < cutCount) return 0;
  std::vector<std::size_t> lengths;
  for (std::size_t i = 0; i < cutCount; ++i) lengths.push_back(static_cast<std::uint8_t>(input[i]) + std::size_t{1});
  input.remove_prefix(cutCount);

  std::vector<std::string> pieces;
  for (std::size_t at = 0, turn = 0; at < input.size(); ++turn) {
    const std::size_t length = lengths.empty() ? input.size() : lengths[turn % lengths.size()];
    pieces.emplace_back(input.substr(at, length));
    at += pieces.back().size();
  }

  testing::PieceSource cut(std::move(pieces));
  const Reading inPieces = read(cut);
  testing::PieceSource whole(input.empty() ? std::vector<std::string>{} : std::vector<std::string>{std::string(input)});
  const Reading inOne = read(whole);

  require(inPieces.end == inOne.end, "the stream ends the same way however it is cut");
  require(inPieces.requests.size() == inOne.requests.size(), "the same number of requests however it is cut");
  for (std::size_t i = 0; i < inOne.requests.size(); ++i) {
    require(same(inPieces.requests[i], inOne.requests[i]), "the same requests however the stream is cut");
    checkRequest(inOne.requests[i]);
  }
  return 0;
}
