#include "transport/request_reader.h"

#include <vector>

#include "util/text.h"

namespace lumenvale {
namespace {

constexpr std::string_view kTerminator = "\r\n\r\n";

HttpError badRequest(int status, std::string message) { return HttpError(status, "bad_request", std::move(message)); }

// Space, tab and the no-break space (0xA0 in the ISO 8859-1 head).
bool isHeadSpace(char c) { return c == ' ' || c == '\t' || c == '\xA0'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && isHeadSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isHeadSpace(text.back())) text.remove_suffix(1);
  return text;
}

// Lower-cases ASCII and the ISO 8859-1 capitals (0xC0-0xDE but 0xD7, the
// multiplication sign), which is what Unicode lower-casing does to them.
std::string lowerLatin1(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7)) {
      c = static_cast<char>(byte + 0x20);
    }
  }
  return out;
}

std::vector<std::string_view> split(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> pieces;
  for (;;) {
    const std::size_t at = text.find(separator);
    if (at == std::string_view::npos) {
      pieces.push_back(text);
      return pieces;
    }
    pieces.push_back(text.substr(0, at));
    text.remove_prefix(at + separator.size());
  }
}

// The Content-Length value: an integer as a general-purpose parser reads it,
// not negative ("-0" is 0).
std::optional<std::int64_t> parseLength(std::string_view text) {
  const std::optional<std::int64_t> length = Text::parseInteger(text);
  if (!length || *length < 0) return std::nullopt;
  return length;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Replaces '+' by a space, then decodes percent escapes; nothing when an
// escape is malformed or the result is not UTF-8.
std::optional<std::string> decodeComponent(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = hexValue(text[i + 1]);
      const int low = hexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  if (!Text::isValidUtf8(out)) return std::nullopt;
  return out;
}

}  // namespace

std::optional<std::string> RequestReader::readHead() {
  std::size_t searchFrom = 0;
  for (;;) {
    const std::size_t at = buffer_.find(kTerminator, searchFrom);
    if (at != std::string::npos) {
      if (at + kTerminator.size() > kMaxHeadBytes) {
        throw badRequest(431, "The request headers are larger than 16 KiB.");
      }
      std::string head = buffer_.substr(0, at);
      buffer_.erase(0, at + kTerminator.size());
      return head;
    }
    if (buffer_.size() > kMaxHeadBytes) {
      throw badRequest(431, "The request headers are larger than 16 KiB.");
    }
    // The last three bytes may begin a terminator that the next receive
    // completes; every earlier offset has been tried and is not tried again.
    searchFrom = buffer_.size() < kTerminator.size() ? 0 : buffer_.size() - (kTerminator.size() - 1);
    std::optional<std::string> more = source_.receive();
    if (!more) {
      if (buffer_.empty()) return std::nullopt;
      throw ConnectionClosed();
    }
    buffer_ += *more;
  }
}

std::string RequestReader::readExactly(std::size_t count) {
  if (count == 0) return {};
  while (buffer_.size() < count) {
    std::optional<std::string> more = source_.receive();
    if (!more) throw ConnectionClosed();
    buffer_ += *more;
  }
  std::string body = buffer_.substr(0, count);
  buffer_.erase(0, count);
  return body;
}

std::optional<HttpRequest> RequestReader::next() {
  const std::optional<std::string> head = readHead();
  if (!head) return std::nullopt;
  if (onHead_) onHead_();

  const std::vector<std::string_view> lines = split(*head, "\r\n");
  const std::vector<std::string_view> requestLine = split(lines.front(), " ");
  if (requestLine.size() != 3 || !requestLine[2].starts_with("HTTP/1.")) {
    throw badRequest(400, "That is not an HTTP/1.1 request line.");
  }

  HttpRequest request;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
      throw badRequest(400, "A header line is malformed.");
    }
    // Folded continuation lines are refused, not joined.
    if (line.front() == ' ' || line.front() == '\t') {
      throw badRequest(400, "A header line is malformed.");
    }
    std::string name = Text::latin1ToUtf8(lowerLatin1(trim(line.substr(0, colon))));
    std::string value = Text::latin1ToUtf8(trim(line.substr(colon + 1)));
    // Two different lengths would let a proxy and us disagree on where the
    // body ends.
    if (name == "content-length") {
      const auto earlier = request.headers.find(name);
      if (earlier != request.headers.end() && earlier->second != value) {
        throw badRequest(400, "Two different Content-Length headers.");
      }
    }
    request.headers[std::move(name)] = std::move(value);
    if (request.headers.size() > kMaxHeaderNames) throw badRequest(431, "Too many headers.");
  }

  if (requestLine[0] != "GET" && requestLine[0] != "POST") {
    throw badRequest(405, "Only GET and POST are used.");
  }
  request.method = std::string(requestLine[0]);

  const std::string target = Text::latin1ToUtf8(requestLine[1]);
  if (!target.starts_with('/')) throw badRequest(400, "The path must start with /.");
  const std::size_t question = target.find('?');
  if (question == std::string::npos) {
    request.path = target;
  } else {
    request.path = target.substr(0, question);
    request.query = parseQuery(std::string_view(target).substr(question + 1));
  }

  if (request.headers.contains("transfer-encoding")) {
    throw badRequest(411, "Send a body with a Content-Length, not chunked.");
  }
  std::optional<std::int64_t> length;
  if (const auto found = request.headers.find("content-length"); found != request.headers.end()) {
    length = parseLength(found->second);
    if (!length) throw badRequest(400, "Content-Length is not a number.");
  }

  if (request.method == "POST") {
    if (!length) throw badRequest(411, "A POST needs a Content-Length.");
    if (*length > kMaxBodyBytes) throw badRequest(413, "The body is larger than 1 MiB.");
    request.body = readExactly(static_cast<std::size_t>(*length));
  } else if (length.value_or(0) != 0) {
    throw badRequest(400, "A GET carries no body.");
  }
  return request;
}

std::map<std::string, std::string> RequestReader::parseQuery(std::string_view text) {
  std::map<std::string, std::string> query;
  for (std::string_view piece : split(text, "&")) {
    if (piece.empty()) continue;
    const std::size_t equals = piece.find('=');
    const std::string_view rawName = piece.substr(0, equals);
    const std::string_view rawValue = equals == std::string_view::npos ? std::string_view() : piece.substr(equals + 1);
    std::optional<std::string> name = decodeComponent(rawName);
    std::optional<std::string> value = decodeComponent(rawValue);
    if (!name || !value) throw badRequest(400, "The query string is malformed.");
    query[std::move(*name)] = std::move(*value);
  }
  return query;
}

}  // namespace lumenvale
