#include "util/crypto.h"

#include <gtest/gtest.h>

#include "util/bytes.h"
#include "util/text.h"

namespace lumenvale {
namespace {

// Published test vectors: FIPS 180-2, RFC 4231 case 2, RFC 7914 section 11.
TEST(Crypto, KnownVectors) {
  EXPECT_EQ(Bytes::hex(Crypto::sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Bytes::hex(Crypto::hmacSha256("Jefe", "what do ya want for nothing?")),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  EXPECT_EQ(Bytes::hex(Crypto::pbkdf2Sha256("passwd", "salt", 1, 64)),
            "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
            "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783");
}

TEST(Crypto, StreamedDigestMatchesWhole) {
  const std::string data(300000, 'q');
  Crypto::Sha256 digest;
  for (std::size_t at = 0; at < data.size(); at += 65536) digest.update(std::string_view(data).substr(at, 65536));
  EXPECT_EQ(digest.finish(), Crypto::sha256(data));
}

TEST(Crypto, Base64) {
  EXPECT_EQ(Crypto::base64(""), "");
  EXPECT_EQ(Crypto::base64("f"), "Zg==");
  EXPECT_EQ(Crypto::base64("\xfb\xff\xbf"), "+/+/");
  EXPECT_EQ(Crypto::base64Url("\xfb\xff\xbf"), "-_-_");
  EXPECT_EQ(Crypto::base64Url("fo"), "Zm8");
  EXPECT_EQ(Crypto::base64Url(std::string(32, '\0')).size(), 43u);
}

TEST(Text, Graphemes) {
  const std::string accented = "e\xCC\x81";                                   // e + combining acute
  const std::string family = "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // woman ZWJ girl
  EXPECT_EQ(Text::graphemeCount(""), 0u);
  EXPECT_EQ(Text::graphemeCount("abc"), 3u);
  EXPECT_EQ(Text::graphemeCount(accented + accented), 2u);
  EXPECT_EQ(Text::graphemeCount(family), 1u);
  EXPECT_EQ(Text::graphemePrefix("abc", 2), "ab");
  EXPECT_EQ(Text::graphemePrefix(accented + "x", 1), accented);
  EXPECT_EQ(Text::graphemePrefix(family + family, 1), family);
  EXPECT_EQ(Text::graphemePrefix("ab", 5), "ab");
  EXPECT_EQ(Text::graphemePrefix("ab", 0), "");
}

}  // namespace
}  // namespace lumenvale
