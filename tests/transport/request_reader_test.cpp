#include "transport/request_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/byte_streams.h"

namespace lumenvale {
namespace {

using testing::PieceSource;
using Transcript = std::vector<std::string>;

std::string show(const HttpRequest& request) {
  std::string text = request.method + " " + request.path;
  for (const auto& [name, value] : request.query) text += " ?" + name + "=" + value;
  for (const auto& [name, value] : request.headers) text += " [" + name + ": " + value + "]";
  if (!request.body.empty()) {
    text += " body[" + std::to_string(request.body.size()) + "]=" + request.body.substr(0, 16);
  }
  return text;
}

// Everything the reader makes of a stream, one line a request, then how it
// ended: "end", "closed", or the refusal's status, code and message.
Transcript transcript(ByteSource& source) {
  RequestReader reader(source);
  Transcript lines;
  try {
    while (std::optional<HttpRequest> request = reader.next()) lines.push_back(show(*request));
    lines.push_back("end");
  } catch (const HttpError& error) {
    lines.push_back(std::to_string(error.status) + " " + error.code + " " + error.message);
  } catch (const ConnectionClosed&) {
    lines.push_back("closed");
  }
  return lines;
}

// Split points to try: all of them for small inputs, the edges and a stride
// through the middle for large ones.
std::vector<std::size_t> splitPoints(std::size_t size) {
  std::vector<std::size_t> points;
  const std::size_t stride = std::max<std::size_t>(509, size / 256);
  for (std::size_t at = 0; at <= size; ++at) {
    const bool edge = at <= 64 || at + 64 >= size;
    if (size <= 4096 || edge || at % stride == 0) points.push_back(at);
  }
  return points;
}

// Feeds `input` split at every point and in small pieces, and expects the same
// transcript every time.
void expectTranscript(const std::string& input, const Transcript& expected) {
  for (std::size_t at : splitPoints(input.size())) {
    SCOPED_TRACE("split at " + std::to_string(at));
    PieceSource source = PieceSource::splitAt(input, at);
    ASSERT_EQ(transcript(source), expected);
  }
  const std::size_t small = input.size() <= 4096 ? 1 : 7;
  SCOPED_TRACE("pieces of " + std::to_string(small));
  PieceSource source = PieceSource::inPiecesOf(input, small);
  EXPECT_EQ(transcript(source), expected);
}

std::string headerLines(int count) {
  std::string lines;
  for (int i = 0; i < count; ++i) lines += "X-H" + std::to_string(i) + ": v\r\n";
  return lines;
}

// A GET whose head, terminator included, is exactly `size` bytes.
std::string getOfHeadSize(std::size_t size) {
  const std::string start = "GET / HTTP/1.1\r\nX-Pad: ";
  const std::string end = "\r\n\r\n";
  return start + std::string(size - start.size() - end.size(), 'p') + end;
}

const std::string kBadLine = "400 bad_request That is not an HTTP/1.1 request line.";
const std::string kBadHeader = "400 bad_request A header line is malformed.";
const std::string kNotNumber = "400 bad_request Content-Length is not a number.";
const std::string kBadQuery = "400 bad_request The query string is malformed.";

struct Case {
  const char* name;
  std::string input;
  Transcript expected;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class ReaderCases : public ::testing::TestWithParam<Case> {};

TEST_P(ReaderCases, SameAtEverySplitPoint) {
  expectTranscript(GetParam().input, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    RequestLine, ReaderCases,
    ::testing::Values(
        Case{"bare_http10", "GET /v1/info HTTP/1.0\r\n\r\n", {"GET /v1/info", "end"}},
        Case{"two_spaces", "GET  /x HTTP/1.1\r\n\r\n", {kBadLine}},
        Case{"empty_first_line", "\r\n\r\n", {kBadLine}},
        Case{"empty_line_before_request", "\r\nGET / HTTP/1.1\r\n\r\n", {kBadLine}},
        Case{"trailing_space", "GET /x HTTP/1.1 \r\n\r\n", {kBadLine}},
        Case{"http2", "GET /x HTTP/2\r\n\r\n", {kBadLine}},
        Case{"lower_case_method", "get /x HTTP/1.1\r\n\r\n", {"405 bad_request Only GET and POST are used."}},
        Case{"put", "PUT /x HTTP/1.1\r\n\r\n", {"405 bad_request Only GET and POST are used."}},
        Case{"relative_target", "GET x HTTP/1.1\r\n\r\n", {"400 bad_request The path must start with /."}},
        Case{"raw_path", "GET /v1/a%20b HTTP/1.1\r\n\r\n", {"GET /v1/a%20b", "end"}},
        Case{"bare_lf_is_no_terminator", "GET / HTTP/1.1\n\n", {"closed"}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Headers, ReaderCases,
    ::testing::Values(
        Case{"no_space_after_colon", "GET / HTTP/1.1\r\nConnection:close\r\n\r\n", {"GET / [connection: close]", "end"}},
        Case{"space_before_colon", "GET / HTTP/1.1\r\nConnection : close\r\n\r\n", {"GET / [connection: close]", "end"}},
        Case{"value_with_colons", "GET / HTTP/1.1\r\nHost: a:1 \t\r\n\r\n", {"GET / [host: a:1]", "end"}},
        Case{"last_value_wins", "GET / HTTP/1.1\r\nA: 1\r\na: 2\r\n\r\n", {"GET / [a: 2]", "end"}},
        Case{"led_by_space", "GET / HTTP/1.1\r\n Connection: close\r\n\r\n", {kBadHeader}},
        Case{"led_by_tab", "GET / HTTP/1.1\r\n\tConnection: close\r\n\r\n", {kBadHeader}},
        Case{"colon_first", "GET / HTTP/1.1\r\n: close\r\n\r\n", {kBadHeader}},
        Case{"no_colon", "GET / HTTP/1.1\r\nConnection close\r\n\r\n", {kBadHeader}},
        Case{"latin1_bytes", "GET / HTTP/1.1\r\nX-\xC9: caf\xE9\xA0\r\n\r\n", {"GET / [x-\xC3\xA9: caf\xC3\xA9]", "end"}},
        Case{"64_names", "GET / HTTP/1.1\r\n" + headerLines(64) + "\r\n", {"GET /" + [] {
               std::string h;
               std::vector<std::string> names;
               for (int i = 0; i < 64; ++i) names.push_back("x-h" + std::to_string(i));
               std::sort(names.begin(), names.end());
               for (const auto& n : names) h += " [" + n + ": v]";
               return h;
             }(), "end"}},
        Case{"65_names", "GET / HTTP/1.1\r\n" + headerLines(65) + "\r\n", {"431 bad_request Too many headers."}},
        Case{"repeats_do_not_count", "GET / HTTP/1.1\r\n" + headerLines(1) + headerLines(1) + "\r\n", {"GET / [x-h0: v]", "end"}},
        // The header count is checked before the method.
        Case{"names_before_method", "PUT / HTTP/1.1\r\n" + headerLines(65) + "\r\n", {"431 bad_request Too many headers."}},
        Case{"head_at_limit", getOfHeadSize(16384), {"GET / [x-pad: " + std::string(16384 - 27, 'p') + "]", "end"}},
        Case{"head_over_limit", getOfHeadSize(16385), {"431 bad_request The request headers are larger than 16 KiB."}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Bodies, ReaderCases,
    ::testing::Values(
        Case{"capital_length_zero_on_get", "GET / HTTP/1.1\r\nCONTENT-LENGTH: 0\r\n\r\n", {"GET / [content-length: 0]", "end"}},
        Case{"get_with_body", "GET / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", {"400 bad_request A GET carries no body."}},
        Case{"same_length_twice", "POST /p HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\nhello", {"POST /p [content-length: 5] body[5]=hello", "end"}},
        Case{"different_lengths", "POST /p HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 05\r\n\r\nhello", {"400 bad_request Two different Content-Length headers."}},
        Case{"plus_sign", "POST /p HTTP/1.1\r\nContent-Length: +5\r\n\r\nhello", {"POST /p [content-length: +5] body[5]=hello", "end"}},
        Case{"minus_zero", "GET / HTTP/1.1\r\nContent-Length: -0\r\n\r\n", {"GET / [content-length: -0]", "end"}},
        Case{"negative", "POST /p HTTP/1.1\r\nContent-Length: -5\r\n\r\n", {kNotNumber}},
        Case{"empty_length", "POST /p HTTP/1.1\r\nContent-Length:\r\n\r\n", {kNotNumber}},
        Case{"letters", "POST /p HTTP/1.1\r\nContent-Length: 5a\r\n\r\n", {kNotNumber}},
        Case{"sign_alone", "POST /p HTTP/1.1\r\nContent-Length: +\r\n\r\n", {kNotNumber}},
        Case{"beyond_64_bits", "POST /p HTTP/1.1\r\nContent-Length: 9223372036854775808\r\n\r\n", {kNotNumber}},
        Case{"largest_64_bit", "POST /p HTTP/1.1\r\nContent-Length: 9223372036854775807\r\n\r\n", {"413 bad_request The body is larger than 1 MiB."}},
        Case{"post_without_length", "POST /p HTTP/1.1\r\n\r\n", {"411 bad_request A POST needs a Content-Length."}},
        Case{"chunked", "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", {"411 bad_request Send a body with a Content-Length, not chunked."}},
        Case{"identity_on_get", "GET / HTTP/1.1\r\nTransfer-Encoding: identity\r\n\r\n", {"411 bad_request Send a body with a Content-Length, not chunked."}},
        Case{"largest_body", "POST /p HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n" + std::string(1048576, 'b'), {"POST /p [content-length: 1048576] body[1048576]=bbbbbbbbbbbbbbbb", "end"}},
        Case{"body_over_limit", "POST /p HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n", {"413 bad_request The body is larger than 1 MiB."}},
        Case{"stream_ends_in_body", "POST /p HTTP/1.1\r\nContent-Length: 5\r\n\r\nhel", {"closed"}},
        Case{"stream_ends_in_head", "GET /v1/info HTTP/1.1\r\nHost: x", {"closed"}},
        Case{"empty_stream", "", {"end"}},
        Case{"pipelined", "POST /a HTTP/1.1\r\nContent-Length: 2\r\n\r\nhiGET /b HTTP/1.1\r\n\r\n", {"POST /a [content-length: 2] body[2]=hi", "GET /b", "end"}},
        Case{"error_after_good_request", "GET /a HTTP/1.1\r\n\r\nPUT /b HTTP/1.1\r\n\r\n", {"GET /a", "405 bad_request Only GET and POST are used."}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Queries, ReaderCases,
    ::testing::Values(
        Case{"encoded_plus", "GET /v1/assets?limit=10&cursor=a%2Bb HTTP/1.1\r\n\r\n", {"GET /v1/assets ?cursor=a+b ?limit=10", "end"}},
        Case{"plus_is_space", "GET /x?q=a+b HTTP/1.1\r\n\r\n", {"GET /x ?q=a b", "end"}},
        Case{"bad_escape", "GET /x?q=%zz HTTP/1.1\r\n\r\n", {kBadQuery}},
        Case{"cut_escape", "GET /x?q=%4 HTTP/1.1\r\n\r\n", {kBadQuery}},
        Case{"lone_percent", "GET /x?q=% HTTP/1.1\r\n\r\n", {kBadQuery}},
        Case{"not_utf8", "GET /x?q=%C3 HTTP/1.1\r\n\r\n", {kBadQuery}},
        Case{"utf8", "GET /x?q=%c3%a9 HTTP/1.1\r\n\r\n", {"GET /x ?q=\xC3\xA9", "end"}},
        Case{"empty_values", "GET /x?a&b= HTTP/1.1\r\n\r\n", {"GET /x ?a= ?b=", "end"}},
        Case{"empty_name", "GET /x?=v HTTP/1.1\r\n\r\n", {"GET /x ?=v", "end"}},
        Case{"empty_pieces", "GET /x?a=1&&b=2& HTTP/1.1\r\n\r\n", {"GET /x ?a=1 ?b=2", "end"}},
        Case{"later_wins", "GET /x?a=1&a=2 HTTP/1.1\r\n\r\n", {"GET /x ?a=2", "end"}},
        Case{"further_question_marks", "GET /x?a=?b=c HTTP/1.1\r\n\r\n", {"GET /x ?a=?b=c", "end"}},
        Case{"empty_query", "GET /x? HTTP/1.1\r\n\r\n", {"GET /x", "end"}},
        // The path is checked before the query.
        Case{"path_before_query", "GET x?q=%zz HTTP/1.1\r\n\r\n", {"400 bad_request The path must start with /."}}),
    [](const auto& info) { return std::string(info.param.name); });

// A refusal consumes nothing past the check that failed: the bytes after it
// are never asked for.
TEST(RequestReader, RefusalReadsNoFurther) {
  struct Refusal {
    const char* name;
    std::vector<std::string> pieces;
    int status;
  };
  const std::vector<Refusal> refusals = {
      {"body_over_limit", {"POST /p HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n", "body"}, 413},
      {"get_with_body", {"GET / HTTP/1.1\r\nContent-Length: 4\r\n\r\n", "body"}, 400},
      {"head_over_limit", {std::string(16385, 'a'), "\r\n\r\n"}, 431},
  };
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.name);
    PieceSource source(refusal.pieces);
    RequestReader reader(source);
    try {
      reader.next();
      ADD_FAILURE() << "expected a refusal";
    } catch (const HttpError& error) {
      EXPECT_EQ(error.status, refusal.status);
    }
    EXPECT_EQ(source.piecesLeft(), 1u);
  }
}

// The owner hears of each head before the body's bytes are asked for, so it
// can give the body its own time limit.
TEST(RequestReader, TellsOfEachHeadBeforeReadingItsBody) {
  const std::string first = "POST /v1/pair HTTP/1.1\r\nContent-Length: 4\r\n\r\n";
  const std::string second = "GET /v1/info HTTP/1.1\r\n\r\n";
  PieceSource source({first, "bo", "dy" + second});
  RequestReader reader(source);
  std::vector<std::size_t> givenAtHead;
  reader.setOnHead([&] { givenAtHead.push_back(source.bytesGiven()); });
  const std::optional<HttpRequest> post = reader.next();
  ASSERT_TRUE(post);
  EXPECT_EQ(post->body, "body");
  const std::optional<HttpRequest> get = reader.next();
  ASSERT_TRUE(get);
  EXPECT_EQ(get->path, "/v1/info");
  EXPECT_FALSE(reader.next());
  // The second head was already in the buffer: told without a receive.
  EXPECT_EQ(givenAtHead, (std::vector<std::size_t>{first.size(), first.size() + 4 + second.size()}));
}

// A stream that never ends its head is refused after at most the limit plus
// one receive, however much more would come.
TEST(RequestReader, EndlessHeadStaysWithinLimit) {
  class Endless : public ByteSource {
   public:
    std::optional<std::string> receive() override {
      given += 65536;
      return std::string(65536, 'x');
    }
    std::size_t given = 0;
  } source;
  RequestReader reader(source);
  EXPECT_THROW(reader.next(), HttpError);
  EXPECT_LE(source.given, RequestReader::kMaxHeadBytes + 65536);
}

// Arbitrary bytes give requests, a refusal or a closed stream, never a crash
// or a hang, and the same answer however the bytes are cut into receives.
TEST(RequestReader, ArbitraryBytesAreReadTheSameInAnyPieces) {
  std::mt19937 random(20261210);
  const std::vector<std::string> tokens = {
      "GET", "POST", " ", "/", "?", "&", "=", "%", "%2", "%41", "+", ":", "\r\n", "\r\n\r\n", "\r",
      "\n", "HTTP/1.1", "HTTP/1.", "Content-Length", "Transfer-Encoding", "0", "3", "-", "\t",
      "\xA0", "\xFF", "abc", "Connection: close"};
  std::uniform_int_distribution<std::size_t> pick(0, tokens.size() - 1);
  std::uniform_int_distribution<int> length(0, 40);
  for (int round = 0; round < 3000; ++round) {
    std::string input;
    for (int n = length(random); n > 0; --n) input += tokens[pick(random)];
    SCOPED_TRACE(::testing::PrintToString(input));
    PieceSource whole({input});
    const Transcript expected = transcript(whole);
    ASSERT_FALSE(expected.empty());
    PieceSource bytes = PieceSource::inPiecesOf(input, 1);
    ASSERT_EQ(transcript(bytes), expected);
    PieceSource halves = PieceSource::splitAt(input, input.size() / 2);
    ASSERT_EQ(transcript(halves), expected);
  }
}

}  // namespace
}  // namespace lumenvale
