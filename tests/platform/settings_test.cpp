// Tests of the owner's settings file: values kept across keys and readers,
// a file changed behind the store's back, and what the command line accepts.
#include "platform/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/program.h"
#include "util/atomic_file.h"

namespace lumenvale {
namespace {

TEST(Settings, KeepsEveryKeyAndReadsTheFileAfresh) {
  testing::TemporaryFolder folder("settings");
  const std::string file = folder.path() + "/config/settings.json";  // its folder is made on the first set
  Settings settings(file);
  EXPECT_EQ(settings.get("allowDelete"), std::nullopt);
  EXPECT_FALSE(settings.allowDelete());

  ASSERT_TRUE(settings.set("allowDelete", true));
  ASSERT_TRUE(settings.set("theme", "dark"));
  EXPECT_TRUE(settings.allowDelete());
  EXPECT_EQ(settings.get("theme"), nlohmann::json("dark"));
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // Another process (the command line) turns deleting off: seen at once.
  Settings other(file);
  ASSERT_TRUE(other.set("allowDelete", false));
  EXPECT_FALSE(settings.allowDelete());
  EXPECT_EQ(settings.get("theme"), nlohmann::json("dark"));

  // Only a Boolean true allows deleting; a broken file is no settings.
  for (const char* content : {"{\"allowDelete\": \"true\"}", "{\"allowDelete\": 1}", "not json", "[true]"}) {
    SCOPED_TRACE(content);
    ASSERT_TRUE(AtomicFile::write(file, content));
    EXPECT_FALSE(settings.allowDelete());
  }
  ASSERT_TRUE(settings.set("allowDelete", true));
  EXPECT_TRUE(settings.allowDelete());
}

TEST(Settings, TheCommandLineSetsOnlyKnownValues) {
  const std::vector<std::tuple<std::string, std::string, std::optional<nlohmann::json>>> cases = {
      {"allowDelete", "true", true},     {"allowDelete", "false", false}, {"allowDelete", "yes", std::nullopt},
      {"allowDelete", "True", std::nullopt}, {"theme", "system", "system"}, {"theme", "light", "light"},
      {"theme", "dark", "dark"},         {"theme", "blue", std::nullopt}, {"welcomed", "true", std::nullopt},
      {"other", "true", std::nullopt},
  };
  for (const auto& [key, text, value] : cases) {
    SCOPED_TRACE(key + " " + text);
    EXPECT_EQ(Settings::valueFor(key, text), value);
  }
  EXPECT_EQ(Settings::defaultFor("allowDelete"), nlohmann::json(false));
  EXPECT_EQ(Settings::defaultFor("theme"), nlohmann::json("system"));
  EXPECT_EQ(Settings::defaultFor("other"), std::nullopt);
  EXPECT_EQ(Settings::path(std::string("/d")), "/d/settings.json");
}

}  // namespace
}  // namespace lumenvale
