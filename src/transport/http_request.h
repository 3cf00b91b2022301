// The values that flow through request handling: the parsed request, the
// error a handler throws to answer with a JSON error body, and the error that
// means the connection can carry no more requests. Plain values.
#pragma once

#include <exception>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumenvale {

// One HTTP/1.1 request as the reader parsed it. Every text is UTF-8: header
// names and values, method and path were read from the head as ISO 8859-1.
struct HttpRequest {
  std::string method;                          // "GET" or "POST", exactly as sent
  std::string path;                            // up to the first '?', never percent-decoded
  std::map<std::string, std::string> query;    // decoded query parameters
  std::map<std::string, std::string> headers;  // lower-case name -> trimmed value, last one wins
  std::string body;                            // empty for every GET

  // header returns the value of the header named `lowerCaseName`, if sent.
  std::optional<std::string> header(std::string_view lowerCaseName) const {
    const auto found = headers.find(std::string(lowerCaseName));
    if (found == headers.end()) return std::nullopt;
    return found->second;
  }
};

// A refusal that is answered with `status` and the JSON error body
// {"error": code, "message": message}. Thrown inside request handling and
// answered in one place, the connection loop.
class HttpError : public std::exception {
 public:
  using Headers = std::vector<std::pair<std::string, std::string>>;

  HttpError(int status, std::string code, std::string message, Headers headers = {})
      : status(status), code(std::move(code)), message(std::move(message)), headers(std::move(headers)) {}

  const char* what() const noexcept override { return message.c_str(); }

  int status;
  std::string code;     // short machine code, such as "bad_request"
  std::string message;  // one English sentence for the laptop's user
  // Sent after Content-Type and Content-Length, in this order: the
  // Retry-After of a 429, the Content-Range of a 416.
  Headers headers;
};

// The connection can no longer carry requests: the peer ended the stream in
// the middle of one, or a wait timed out. Nobody answers it.
class ConnectionClosed : public std::exception {
 public:
  const char* what() const noexcept override { return "The connection closed."; }
};

}  // namespace lumenvale
