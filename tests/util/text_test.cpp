// Tests of the text helpers that make outside text safe to send as JSON and
// to show: replacement of bytes that are not UTF-8, and the hiding or
// escaping of controls and bidirectional overrides.
#include "util/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumenvale {
namespace {

struct Case {
  const char* name;
  std::string in;
  std::string valid;      // validUtf8
  std::string stored;     // withoutHidden
  std::string printable;  // printable
};

const std::string kFffd = "\xEF\xBF\xBD";

TEST(TextOutside, ValidHiddenAndPrintable) {
  const std::vector<Case> cases = {
      {"plain text is unchanged", "IMG_0001.JPG", "IMG_0001.JPG", "IMG_0001.JPG", "IMG_0001.JPG"},
      {"accents and emoji are unchanged", "Caf\xC3\xA9 \xF0\x9F\x93\xB7", "Caf\xC3\xA9 \xF0\x9F\x93\xB7",
       "Caf\xC3\xA9 \xF0\x9F\x93\xB7", "Caf\xC3\xA9 \xF0\x9F\x93\xB7"},
      {"each stray byte becomes U+FFFD", "a\xFF" "b\xC3", "a" + kFffd + "b" + kFffd, "a" + kFffd + "b" + kFffd,
       "a" + kFffd + "b" + kFffd},
      {"an overlong slash is two stray bytes", "\xC0\xAF", kFffd + kFffd, kFffd + kFffd, kFffd + kFffd},
      {"a surrogate is three stray bytes", "\xED\xA0\x80", kFffd + kFffd + kFffd, kFffd + kFffd + kFffd,
       kFffd + kFffd + kFffd},
      {"a terminal command", "\x1b[2K\rKeep?\x1b[8m", "\x1b[2K\rKeep?\x1b[8m", "[2KKeep?[8m",
       "\\x1b[2K\\x0dKeep?\\x1b[8m"},
      {"line ends, tab, DEL and a C1 control", "a\nb\tc\x7f" "d\xC2\x9B" "e", "a\nb\tc\x7f" "d\xC2\x9B" "e",
       "abcde", "a\\x0ab\\x09c\\x7fd\\x9be"},
      {"a right-to-left override", "evil\xE2\x80\xAEgpj.exe", "evil\xE2\x80\xAEgpj.exe", "evilgpj.exe",
       "evil\\u202egpj.exe"},
      {"isolates, marks and separators", "\xE2\x81\xA6x\xE2\x81\xA9\xE2\x80\x8F\xD8\x9C\xE2\x80\xA8",
       "\xE2\x81\xA6x\xE2\x81\xA9\xE2\x80\x8F\xD8\x9C\xE2\x80\xA8", "x",
       "\\u2066x\\u2069\\u200f\\u061c\\u2028"},
      {"a NUL byte", std::string("a\0b", 3), std::string("a\0b", 3), "ab", "a\\x00b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Text::validUtf8(c.in), c.valid);
    EXPECT_TRUE(Text::isValidUtf8(Text::validUtf8(c.in)));
    EXPECT_EQ(Text::withoutHidden(c.in), c.stored);
    EXPECT_EQ(Text::printable(c.in), c.printable);
  }
}

}  // namespace
}  // namespace lumenvale
