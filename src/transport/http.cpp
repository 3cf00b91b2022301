#include "transport/http.h"

#include <array>

#include "util/text.h"

namespace lumenvale::Http {

std::string_view reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 416: return "Range Not Satisfiable";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

std::string head(int status, const Headers& headers) {
  std::string text = "HTTP/1.1 " + std::to_string(status) + " ";
  text += reason(status);
  text += "\r\n";
  for (const auto& [name, value] : headers) {
    text += name;
    text += ": ";
    text += value;
    text += "\r\n";
  }
  text += "\r\n";
  // Laptops read heads as ISO 8859-1; a character beyond it can only travel
  // as UTF-8, and then the whole head goes that way.
  if (std::optional<std::string> latin1 = Text::utf8ToLatin1(text)) return std::move(*latin1);
  return text;
}

std::string json(int status, const nlohmann::json& value, const Headers& headers) {
  std::string body;
  try {
    body = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const nlohmann::json::exception&) {
    // Never a success with a body that is not the answer: a laptop would
    // take an empty object for an empty listing and stop. The error's own
    // text is ASCII, so this cannot fail again.
    return error(HttpError(500, "internal_error", "The phone could not write this answer as JSON."));
  }
  Headers all;
  all.reserve(headers.size() + 2);
  all.emplace_back("Content-Type", "application/json; charset=utf-8");
  all.emplace_back("Content-Length", std::to_string(body.size()));
  all.insert(all.end(), headers.begin(), headers.end());
  return head(status, all) + body;
}

nlohmann::json errorBody(const HttpError& error) {
  return {{"error", error.code}, {"message", error.message}};
}

std::string error(const HttpError& error) { return json(error.status, errorBody(error), error.headers); }

std::string chunkHead(std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::array<char, 16> digits{};
  std::size_t count = 0;
  for (std::size_t n = size; n != 0 || count == 0; n >>= 4) {
    digits[count++] = kDigits[n & 0xf];
  }
  std::string head;
  head.reserve(count + 2);
  while (count > 0) head.push_back(digits[--count]);
  head += "\r\n";
  return head;
}

std::string chunk(std::string_view payload) {
  std::string framed = chunkHead(payload.size());
  framed.reserve(framed.size() + payload.size() + chunkEnd.size());
  framed += payload;
  framed += chunkEnd;
  return framed;
}

std::optional<std::int64_t> rangeStart(const std::optional<std::string>& value) {
  if (!value) return std::nullopt;
  // The total is not told: finding it would mean reading the file.
  const HttpError refusal(416, "range_not_satisfiable", "Only a range of the form bytes=<from>- is served.",
                          {{"Content-Range", "bytes */*"}});
  std::string_view text = *value;
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  constexpr std::string_view kPrefix = "bytes=";
  if (!text.starts_with(kPrefix) || !text.ends_with('-') || text.size() < kPrefix.size() + 1) {
    throw refusal;
  }
  const std::string_view digits = text.substr(kPrefix.size(), text.size() - kPrefix.size() - 1);
  // At most 18 digits always fits a signed 64-bit offset.
  if (digits.empty() || digits.size() > 18) throw refusal;
  std::int64_t start = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') throw refusal;
    start = start * 10 + (c - '0');
  }
  return start;
}

}  // namespace lumenvale::Http
