// The body-handler targets' one way to put a POST to the router and read
// what came back, whether written to the sink or thrown as HttpError, as the
// connection loop would answer it.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "api/api.h"
#include "fuzz_support.h"
#include "support/byte_streams.h"
#include "transport/http.h"

namespace lumenvale::fuzz {

struct Answer {
  int status = 0;
  nlohmann::json body;  // the JSON body; for a refusal {"error", "message"}
};

// post routes a POST to `path` with `body`, sent with `token` unless empty.
inline Answer post(const Api& api, const std::string& path, std::string body, const std::string& token = {}) {
  HttpRequest request;
  request.method = "POST";
  request.path = path;
  request.body = std::move(body);
  request.headers["content-length"] = std::to_string(request.body.size());
  if (!token.empty()) request.headers["authorization"] = "Bearer " + token;
  testing::StringSink sink;
  try {
    api.route(request, sink);
  } catch (const HttpError& refusal) {
    return {refusal.status, Http::errorBody(refusal)};
  }
  require(sink.sent.starts_with("HTTP/1.1 ") && sink.sent.size() > 12, "a response starts with a status line");
  const std::size_t headEnd = sink.sent.find("\r\n\r\n");
  require(headEnd != std::string::npos, "a response head ends with an empty line");
  nlohmann::json parsed = nlohmann::json::parse(sink.sent.substr(headEnd + 4), nullptr, false);
  require(!parsed.is_discarded(), "a response body is JSON");
  return {std::stoi(sink.sent.substr(9, 3)), std::move(parsed)};
}

}  // namespace lumenvale::fuzz
