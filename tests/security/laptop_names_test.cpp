// The names and dates a device lists decide where the laptop writes under
// DEST; a hostile device (or one that lies) must not reach outside it.
#include <gtest/gtest.h>

#include <filesystem>

#include "laptop/held_files.h"
#include "support/program.h"

namespace lumenvale::laptop {
namespace {

namespace fs = std::filesystem;

TEST(LaptopNamesTest, NoListedNameOrDatePlacesAFileOutsideDest) {
  lumenvale::testing::TemporaryFolder dest("security-dest");
  HeldFiles held(dest.path());
  const std::string longName = std::string(300, '.') + "/" + std::string(300, 'x');
  const std::vector<std::pair<std::string, std::string>> listed = {
      {"2024-05-01T10:00:00Z", "../../../../etc/passwd"},
      {"2024-05-01T10:00:00Z", "/etc/passwd"},
      {"2024-05-01T10:00:00Z", ".."},
      {"2024-05-01T10:00:00Z", "."},
      {"2024-05-01T10:00:00Z", ""},
      {"2024-05-01T10:00:00Z", "a/../../b.JPG"},
      {"2024-05-01T10:00:00Z", "..\\..\\windows\\b.JPG"},
      {"2024-05-01T10:00:00Z", "....//....//c.JPG"},
      {"2024-05-01T10:00:00Z", std::string("d.JPG\0/../../e", 14)},
      {"2024-05-01T10:00:00Z", "..\n/..\r/f.JPG"},
      {"2024-05-01T10:00:00Z", ".lumenvale"},
      {"2024-05-01T10:00:00Z", longName},
      {"../../../etc", "g.JPG"},
      {"2024/../../../etc", "h.JPG"},
      {"/etc/cron.d", "i.JPG"},
      {"2024-..-01", "j.JPG"},
  };
  const fs::path root = fs::path(dest.path()).lexically_normal();
  int key = 0;
  for (const auto& [created, name] : listed) {
    SCOPED_TRACE("created \"" + created + "\", name \"" + name + "\"");
    const std::string path = held.assign("asset-" + std::to_string(++key) + "/photo", created, name);
    const fs::path relative(path);
    EXPECT_TRUE(relative.is_relative()) << path;
    for (const fs::path& part : relative) {
      EXPECT_NE(part, "..") << path;
      EXPECT_NE(part, ".") << path;
      EXPECT_FALSE(part.string().starts_with(".")) << path;  // never hidden, never the state folder
    }
    const fs::path full = (root / relative).lexically_normal();
    EXPECT_TRUE(full.string().starts_with(root.string() + "/")) << full;
    EXPECT_EQ(path.find('\0'), std::string::npos);
  }
}

// A device lists a file whose name was not UTF-8 with U+FFFD in its place;
// the laptop saves it under that name, and a second one beside it.
TEST(LaptopNamesTest, ANameWithReplacementCharactersIsSavedAsListed) {
  lumenvale::testing::TemporaryFolder dest("security-dest");
  HeldFiles held(dest.path());
  const std::string name = "IMG_\xEF\xBF\xBD\xEF\xBF\xBD.JPG";
  EXPECT_EQ(held.assign("a/photo", "2024-05-01T10:00:00Z", name), "2024/05/" + name);
  EXPECT_EQ(held.assign("b/photo", "2024-05-01T10:00:00Z", name), "2024/05/IMG_\xEF\xBF\xBD\xEF\xBF\xBD (2).JPG");
  // Nothing that reorders or commands what shows the name survives.
  EXPECT_EQ(held.assign("c/photo", "2024-05-01T10:00:00Z", "evil\xE2\x80\xAEgpj.exe"), "2024/05/evilgpj.exe");
  EXPECT_EQ(held.assign("d/photo", "2024-05-01T10:00:00Z",
                        "a\xC2\x9B"
                        "31mb\xFF.JPG"),
            "2024/05/a31mb\xEF\xBF\xBD.JPG");
}

}  // namespace
}  // namespace lumenvale::laptop
