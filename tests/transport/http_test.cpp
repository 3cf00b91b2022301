#include "transport/http.h"

#include <gtest/gtest.h>

namespace lumenvale {
namespace {

TEST(HttpHead, StatusLineAndHeadersInOrder) {
  EXPECT_EQ(Http::head(404, {}), "HTTP/1.1 404 Not Found\r\n\r\n");
  EXPECT_EQ(Http::head(299, {}), "HTTP/1.1 299 Status\r\n\r\n");
  EXPECT_EQ(Http::head(206, {{"B", "2"}, {"A", "1"}, {"B", "3"}}),
            "HTTP/1.1 206 Partial Content\r\nB: 2\r\nA: 1\r\nB: 3\r\n\r\n");
}

TEST(HttpHead, ReasonTable) {
  const std::vector<std::pair<int, std::string>> table = {
      {200, "OK"}, {206, "Partial Content"}, {400, "Bad Request"}, {401, "Unauthorized"},
      {403, "Forbidden"}, {404, "Not Found"}, {405, "Method Not Allowed"}, {409, "Conflict"},
      {411, "Length Required"}, {413, "Content Too Large"}, {416, "Range Not Satisfiable"},
      {429, "Too Many Requests"}, {431, "Request Header Fields Too Large"},
      {500, "Internal Server Error"}, {503, "Service Unavailable"}, {201, "Status"}, {0, "Status"}};
  for (const auto& [status, phrase] : table) {
    SCOPED_TRACE(status);
    EXPECT_EQ(Http::reason(status), phrase);
  }
}

TEST(HttpHead, Latin1UnlessACharacterIsBeyondIt) {
  // é (U+00E9) travels as the single byte 0xE9.
  EXPECT_EQ(Http::head(200, {{"X", "caf\xC3\xA9"}}), "HTTP/1.1 200 OK\r\nX: caf\xE9\r\n\r\n");
  // With € (U+20AC) anywhere, the whole head is UTF-8, é included.
  EXPECT_EQ(Http::head(200, {{"X", "caf\xC3\xA9"}, {"Y", "\xE2\x82\xAC"}}),
            "HTTP/1.1 200 OK\r\nX: caf\xC3\xA9\r\nY: \xE2\x82\xAC\r\n\r\n");
}

TEST(HttpJson, CompactUtf8WithLengthThenExtraHeaders) {
  EXPECT_EQ(Http::json(200, nlohmann::json::object()),
            "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n"
            "Content-Length: 2\r\n\r\n{}");
  const nlohmann::json value = {
      {"a", "x/y"}, {"b", "\xC3\xA9 \"q\"\n"}, {"c", {1, 2.5, true, nullptr}}};
  const std::string expectedBody = "{\"a\":\"x/y\",\"b\":\"\xC3\xA9 \\\"q\\\"\\n\",\"c\":[1,2.5,true,null]}";
  EXPECT_EQ(Http::json(429, value, {{"Retry-After", "30"}}),
            "HTTP/1.1 429 Too Many Requests\r\nContent-Type: application/json; charset=utf-8\r\n"
            "Content-Length: " + std::to_string(expectedBody.size()) +
                "\r\nRetry-After: 30\r\n\r\n" + expectedBody);
}

TEST(HttpJson, UnserialisableValueGivesAServerErrorNeverASuccess) {
  const nlohmann::json value = {{"name", "\xFF\xFE"}};
  const std::string response = Http::json(200, value, {{"Retry-After", "30"}});
  EXPECT_TRUE(response.starts_with("HTTP/1.1 500 Internal Server Error\r\n")) << response;
  EXPECT_EQ(response.find("Retry-After"), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(response.substr(response.find("\r\n\r\n") + 4)),
            nlohmann::json({{"error", "internal_error"}, {"message", "The phone could not write this answer as JSON."}}));
}

TEST(HttpJson, ErrorBody) {
  const HttpError error(400, "bad_request", "A GET carries no body.", {{"Content-Range", "bytes */*"}});
  const std::string response = Http::error(error);
  EXPECT_TRUE(response.starts_with("HTTP/1.1 400 Bad Request\r\n"));
  EXPECT_NE(response.find("\r\nContent-Range: bytes */*\r\n\r\n"), std::string::npos);
  const std::string body = response.substr(response.find("\r\n\r\n") + 4);
  EXPECT_EQ(nlohmann::json::parse(body),
            nlohmann::json({{"error", "bad_request"}, {"message", "A GET carries no body."}}));
}

TEST(HttpChunk, LowerCaseHexLengthWithoutLeadingZeros) {
  const std::vector<std::pair<std::size_t, std::string>> table = {
      {1, "1"}, {15, "f"}, {16, "10"}, {255, "ff"}, {4096, "1000"}, {1048576, "100000"}};
  for (const auto& [size, prefix] : table) {
    SCOPED_TRACE(size);
    const std::string payload(size, 'z');
    EXPECT_EQ(Http::chunk(payload), prefix + "\r\n" + payload + "\r\n");
    EXPECT_EQ(Http::chunkHead(size) + payload + std::string(Http::chunkEnd), Http::chunk(payload));
  }
  EXPECT_EQ(Http::lastChunk, std::string_view("0\r\n\r\n", 5));
}

TEST(HttpRange, OnlyOpenRangesFromAByte) {
  EXPECT_EQ(Http::rangeStart(std::nullopt), std::nullopt);
  const std::vector<std::pair<std::string, std::int64_t>> served = {
      {"bytes=0-", 0}, {" bytes=100- ", 100}, {"bytes=1048576-", 1048576},
      {"bytes=000000000000000007-", 7}, {"bytes=999999999999999999-", 999999999999999999}};
  for (const auto& [value, start] : served) {
    SCOPED_TRACE(value);
    EXPECT_EQ(Http::rangeStart(value), start);
  }
  const std::vector<std::string> refused = {
      "bytes=-5", "bytes=5-9", "bytes=-", "Bytes=5-", "bytes=5", "bytes=1234567890123456789-",
      "bytes=\xD9\xA3-", "", "bytes=", "bytes=5-,7-", "bytes= 5-", "bytes=+5-"};
  for (const std::string& value : refused) {
    SCOPED_TRACE(value);
    try {
      Http::rangeStart(value);
      ADD_FAILURE() << "expected 416";
    } catch (const HttpError& error) {
      EXPECT_EQ(error.status, 416);
      EXPECT_EQ(error.code, "range_not_satisfiable");
      EXPECT_EQ(error.message, "Only a range of the form bytes=<from>- is served.");
    }
  }
}

}  // namespace
}  // namespace lumenvale
