#include "app/command_line.h"

#include <gtest/gtest.h>

namespace lumenvale {
namespace {

TEST(CommandLine, AListenAddressIsCheckedBeforeAnythingRuns) {
  struct Case {
    const char* name;
    std::string address;
    bool accepted;
  };
  const Case cases[] = {
      {"loopback", "127.0.0.1", true},
      {"IPv6 loopback", "::1", true},
      {"every address", "::", true},
      {"a host name", "banana", false},
      {"a loose IPv4 form", "127.1", false},
      {"an address with a port", "127.0.0.1:41820", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CommandLine parsed = CommandLine::parse({"--headless", "--listen", c.address});
    ASSERT_EQ(parsed.options.has_value(), c.accepted) << parsed.error;
    if (c.accepted) {
      EXPECT_EQ(parsed.options->listen, c.address);
    } else {
      EXPECT_NE(parsed.error.find("--listen takes a numeric IPv4 or IPv6 address"), std::string::npos);
    }
  }
}

// Each form the program takes, options in any order and as --opt=value,
// and each mistake named.
TEST(CommandLine, ReadsEveryFormAndNamesEachMistake) {
  using Mode = Options::Mode;
  struct Case {
    std::vector<std::string> words;
    std::optional<Mode> mode;  // nothing: refused
    std::string error;
  };
  const std::vector<Case> cases = {
      {{}, Mode::run, ""},
      {{"--headless", "--library", "/a", "--library=/b", "--data", "/d", "--name=Phone", "--listen", "::1"}, Mode::run, ""},
      {{"--help"}, Mode::help, ""},
      {{"-h", "--bogus"}, Mode::help, ""},
      {{"--version"}, Mode::version, ""},
      {{"--screenshots", "/out"}, Mode::screenshots, ""},
      {{"settings", "get", "theme"}, Mode::settingsGet, ""},
      {{"settings", "set", "theme", "dark", "--data", "/d"}, Mode::settingsSet, ""},
      {{"--data=/d", "settings", "set", "allowDelete", "true"}, Mode::settingsSet, ""},
      {{"settings", "--help"}, Mode::help, ""},
      {{"--bogus"}, std::nullopt, "--bogus"},
      {{"--library"}, std::nullopt, "--library"},
      {{"--library", ""}, std::nullopt, "--library needs a folder."},
      {{"--data"}, std::nullopt, "--data"},
      {{"settings"}, std::nullopt, "settings takes \"get KEY\" or \"set KEY VALUE\"."},
      {{"settings", "get"}, std::nullopt, "KEY is required"},
      {{"settings", "set", "theme"}, std::nullopt, "VALUE is required"},
      {{"photos"}, std::nullopt, "photos"},
      {{"--headless", "-q", "--verbose"}, std::nullopt, "--quiet and --verbose"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words));
    const CommandLine parsed = CommandLine::parse(c.words);
    ASSERT_EQ(parsed.options.has_value(), c.mode.has_value()) << parsed.error;
    if (c.mode) {
      EXPECT_EQ(parsed.options->mode, *c.mode);
    } else {
      EXPECT_NE(parsed.error.find(c.error), std::string::npos) << parsed.error;
    }
  }
  const CommandLine full = CommandLine::parse(
      {"--headless", "--library", "/a", "--library=/b", "--data", "/d", "--name=Phone", "--listen", "::1"});
  ASSERT_TRUE(full.options);
  EXPECT_TRUE(full.options->headless);
  EXPECT_EQ(full.options->libraries, (std::vector<std::string>{"/a", "/b"}));
  EXPECT_EQ(full.options->data, "/d");
  EXPECT_EQ(full.options->name, "Phone");
  EXPECT_EQ(full.options->listen, "::1");
  EXPECT_EQ(full.options->verbosity, 0);
  EXPECT_EQ(CommandLine::parse({"--headless", "--quiet"}).options->verbosity, -1);
  EXPECT_EQ(CommandLine::parse({"--headless", "-v"}).options->verbosity, 1);
  const CommandLine set = CommandLine::parse({"settings", "set", "theme", "dark"});
  ASSERT_TRUE(set.options);
  EXPECT_EQ(set.options->settingKey, "theme");
  EXPECT_EQ(set.options->settingValue, "dark");
  // --help says what the program, or the command asked about, takes.
  EXPECT_NE(CommandLine::parse({"--help"}).help.find("--listen ADDRESS"), std::string::npos);
  EXPECT_NE(CommandLine::parse({"settings", "--help"}).help.find("allowDelete true|false"), std::string::npos);
}

}  // namespace
}  // namespace lumenvale
