// Every byte sent to a laptop is composed here: the status line and headers,
// whole JSON responses, chunked framing, and the one byte range served.
// Stateless functions, safe on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "transport/http_request.h"

namespace lumenvale::Http {

// Written in this order; nothing is merged, sorted or added.
using Headers = HttpError::Headers;

// The largest payload a handler puts in one chunk of a streamed file.
inline constexpr std::size_t kMaxChunkBytes = 1048576;

// lastChunk ends a chunked body; no trailer headers follow.
inline constexpr std::string_view lastChunk = "0\r\n\r\n";

// reason returns the reason phrase of `status`, "Status" for one not listed.
std::string_view reason(int status);

// head returns the status line and header block through the empty line,
// encoded as ISO 8859-1, or as UTF-8 when some character is beyond it.
std::string head(int status, const Headers& headers);

// json returns a whole response: compact UTF-8 JSON ("/" unescaped),
// preceded by Content-Type and Content-Length, then `headers`. A value that
// cannot be serialised (text that is not UTF-8) gives a 500 error response
// instead, without `headers`.
std::string json(int status, const nlohmann::json& value, const Headers& headers = {});

// errorBody returns {"error": code, "message": message}.
nlohmann::json errorBody(const HttpError& error);

// error returns the whole JSON error response of `error`, with its headers.
std::string error(const HttpError& error);

// chunk frames one non-empty payload: its length in lower-case hex, CR LF,
// the payload, CR LF.
std::string chunk(std::string_view payload);

// chunkHead is what comes before a payload of `size` bytes in its chunk, and
// chunkEnd what comes after it, for sending a large payload without copying
// it into a frame.
std::string chunkHead(std::size_t size);
inline constexpr std::string_view chunkEnd = "\r\n";

// rangeStart returns the first byte wanted by a Range header of the form
// "bytes=<from>-" (1 to 18 digits, surrounding white space allowed), or
// nothing when there is no header. Any other form throws HttpError 416.
std::optional<std::int64_t> rangeStart(const std::optional<std::string>& value);

}  // namespace lumenvale::Http
