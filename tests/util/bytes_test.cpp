#include "util/bytes.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

#include "util/text.h"

namespace lumenvale {
namespace {

TEST(Bytes, Hex) {
  EXPECT_EQ(Bytes::hex(std::string("\x00\x0f\xa0\xff", 4)), "000fa0ff");
  EXPECT_EQ(Bytes::hex(""), "");
}

TEST(Bytes, Equal) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  for (const Case& c : {Case{"abc", "abd", false}, Case{"abc", "abcd", false}, Case{"", "", true},
                        Case{"abc", "abc", true}, Case{"\xC3\xA9", "e", false}}) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(Bytes::equal(c.a, c.b), c.equal);
  }
}

TEST(Bytes, RandomHasTheCountAndVaries) {
  EXPECT_EQ(Bytes::random(0), "");
  std::set<std::string> seen;
  for (int i = 0; i < 8; ++i) seen.insert(Bytes::random(32));
  EXPECT_EQ(seen.size(), 8u);
  EXPECT_EQ(Bytes::random(32).size(), 32u);
}

TEST(Bytes, NewUuidIsVersionFourInLowerCase) {
  std::set<std::string> seen;
  for (int i = 0; i < 16; ++i) {
    const std::string uuid = Bytes::newUuid();
    SCOPED_TRACE(uuid);
    ASSERT_EQ(uuid.size(), 36u);
    for (const std::size_t dash : {8u, 13u, 18u, 23u}) EXPECT_EQ(uuid[dash], '-');
    EXPECT_EQ(uuid.find_first_not_of("0123456789abcdef-"), std::string::npos);
    EXPECT_EQ(uuid[14], '4');
    EXPECT_NE(std::string("89ab").find(uuid[19]), std::string::npos);
    seen.insert(uuid);
  }
  EXPECT_EQ(seen.size(), 16u);
}

TEST(Text, AsciiCaseOnlyAndTrailingSlashes) {
  // Only A-Z and a-z change: no locale, no bytes of other characters.
  EXPECT_EQ(Text::asciiLower("Content-LENGTH \xC3\x89t\xC3\xA9 IMG_0001.JPG"),
            "content-length \xC3\x89t\xC3\xA9 img_0001.jpg");
  EXPECT_EQ(Text::asciiUpper("3f2a-\xC3\xA9z"), "3F2A-\xC3\xA9Z");
  EXPECT_TRUE(Text::equalIgnoringAsciiCase("HEIC", "heic"));
  EXPECT_FALSE(Text::equalIgnoringAsciiCase("heic", "heif"));
  EXPECT_FALSE(Text::equalIgnoringAsciiCase("jpg", "jpeg"));
  EXPECT_FALSE(Text::equalIgnoringAsciiCase("\xC3\x89", "\xC3\xA9"));
  const std::pair<const char*, const char*> paths[] = {
      {"/photos///", "/photos"}, {"/photos", "/photos"}, {"///", "/"}, {"/", "/"}, {"", ""}, {"a/b/", "a/b"}};
  for (const auto& [path, kept] : paths) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Text::withoutTrailingSlashes(path), kept);
  }
}

TEST(Text, Latin1AndUtf8) {
  EXPECT_EQ(Text::latin1ToUtf8("caf\xE9\xFF"), "caf\xC3\xA9\xC3\xBF");
  EXPECT_EQ(Text::utf8ToLatin1("caf\xC3\xA9"), "caf\xE9");
  EXPECT_EQ(Text::utf8ToLatin1("\xE2\x82\xAC"), std::nullopt);  // €
  EXPECT_EQ(Text::utf8ToLatin1("\xC3"), std::nullopt);
  const std::vector<std::pair<std::string, bool>> table = {
      {"plain", true},     {"\xC3\xA9", true},      {"\xF0\x9F\x93\xB7", true},  {"\xC3", false},
      {"\xC0\xAF", false}, {"\xED\xA0\x80", false}, {"\xF4\x90\x80\x80", false}, {"\x80", false},
      {"\xE2\x82", false}};
  for (const auto& [bytes, valid] : table) {
    SCOPED_TRACE(Bytes::hex(bytes));
    EXPECT_EQ(Text::isValidUtf8(bytes), valid);
  }
}

TEST(Text, PercentEncoded) {
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"t3f2.17", "", "t3f2.17"},
      {"a b/c?d&e=f", "", "a%20b%2Fc%3Fd%26e%3Df"},
      {"/home/me/Été 1.jpg", "/", "/home/me/%C3%89t%C3%A9%201.jpg"},
      {"-_.~AZaz09", "", "-_.~AZaz09"},
      {std::string("\0\x7f\xff", 3), "", "%00%7F%FF"},
      {"%", "", "%25"},
  };
  for (const auto& [text, kept, encoded] : cases) EXPECT_EQ(Text::percentEncoded(text, kept), encoded) << text;
}

TEST(Text, ParseInteger) {
  const std::vector<std::pair<std::string, std::optional<std::int64_t>>> table = {
      {"0", 0},
      {"+7", 7},
      {"-0", 0},
      {"-12", -12},
      {"007", 7},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775809", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"1.5", std::nullopt},
      {" 1", std::nullopt},
      {"1a", std::nullopt},
      {"--1", std::nullopt},
      {"\xD9\xA3", std::nullopt},
  };
  for (const auto& [text, value] : table) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Text::parseInteger(text), value);
  }
}

}  // namespace
}  // namespace lumenvale
