// `cmake --install` into a scratch root: the programs, what a desktop or a
// phone shell needs to list the app (its entry, its metadata and its icon
// at every size) and the user service, each accepted by the validator its
// readers use.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "support/command.h"
#include "support/program.h"
#include "util/atomic_file.h"

namespace lumenvale {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kAppId = "org.lumenvale.Lumenvale";

// pngSize reads a PNG's width and height from its header, or 0 and 0.
std::pair<std::uint32_t, std::uint32_t> pngSize(const std::string& path) {
  const std::string bytes = AtomicFile::read(path).value_or("");
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0) return {0, 0};
  const auto big = [&](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
  };
  return {big(16), big(20)};
}

// entry reads `key` from the desktop entry's main group.
std::string entry(const std::string& text, const std::string& key) {
  std::smatch found;
  if (!std::regex_search(text, found, std::regex("(^|\n)" + key + "=([^\n]*)"))) return "";
  return found[2];
}

TEST(Install, PutsTheAppWhereLaunchersFindIt) {
  testing::TemporaryFolder root("install");
  const testing::CommandResult installed =
      testing::runCommand({LUMENVALE_CMAKE, "--install", LUMENVALE_BUILD_DIR, "--prefix", root.path()}, 120s);
  ASSERT_EQ(installed.status, 0) << installed.output;
  const std::string share = root.path() + "/share";

  for (const std::string program : {"lumenvale", "lumenvale-laptop"}) {
    EXPECT_TRUE(fs::exists(root.path() + "/bin/" + program)) << program;
  }
  const std::string desktop = share + "/applications/" + kAppId + ".desktop";
  const std::string text = AtomicFile::read(desktop).value_or("");
  ASSERT_FALSE(text.empty()) << desktop;
  // What the entry names is what was installed.
  EXPECT_TRUE(fs::exists(root.path() + "/bin/" + entry(text, "Exec"))) << entry(text, "Exec");
  EXPECT_EQ(entry(text, "Icon"), kAppId);
  EXPECT_NE(entry(text, "X-Purism-FormFactor").find("Mobile"), std::string::npos);
  EXPECT_TRUE(fs::exists(share + "/icons/hicolor/scalable/apps/" + kAppId + ".svg"));
  for (const std::uint32_t size : {16u, 24u, 32u, 48u, 64u, 128u, 256u, 512u}) {
    SCOPED_TRACE(size);
    const std::string png = share + "/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) + "/apps/" + kAppId + ".png";
    EXPECT_EQ(pngSize(png), std::make_pair(size, size)) << png;
  }

  const testing::CommandResult entryChecked = testing::runCommand({"/usr/bin/desktop-file-validate", desktop}, 30s);
  EXPECT_EQ(entryChecked.status, 0) << entryChecked.output;
  EXPECT_EQ(entryChecked.output, "");  // no warning either
  const std::string metainfo = share + "/metainfo/" + kAppId + ".metainfo.xml";
  const testing::CommandResult metaChecked = testing::runCommand({"/usr/bin/appstreamcli", "validate", "--no-net", metainfo}, 30s);
  EXPECT_EQ(metaChecked.status, 0) << metaChecked.output;
  // The metadata launches the entry that was installed, and names both programs.
  const std::string meta = AtomicFile::read(metainfo).value_or("");
  EXPECT_NE(meta.find("<launchable type=\"desktop-id\">" + std::string(kAppId) + ".desktop</launchable>"), std::string::npos);
  EXPECT_NE(meta.find("<binary>lumenvale-laptop</binary>"), std::string::npos);

  // The user service starts the program this install put in place, and
  // systemd reads it without a complaint.
  const std::string unit = share + "/systemd/user/lumenvale.service";
  const std::string service = AtomicFile::read(unit).value_or("");
  EXPECT_NE(service.find("ExecStart=" + root.path() + "/bin/lumenvale --headless\n"), std::string::npos) << service;
  EXPECT_NE(service.find("Type=notify\n"), std::string::npos);
  // The laptop's: a watching service, and a timer for a look an hour, each
  // an instance per copy folder.
  const std::string watcher = AtomicFile::read(share + "/systemd/user/lumenvale-laptop-watch@.service").value_or("");
  EXPECT_NE(watcher.find("ExecStart=" + root.path() + "/bin/lumenvale-laptop watch %f\n"), std::string::npos) << watcher;
  const std::string puller = AtomicFile::read(share + "/systemd/user/lumenvale-laptop-pull@.service").value_or("");
  EXPECT_NE(puller.find("ExecStart=" + root.path() + "/bin/lumenvale-laptop watch --once %f\n"), std::string::npos) << puller;
  testing::TemporaryFolder runtime("install-runtime");
  testing::TemporaryFolder noConfig("install-config");
  ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", noConfig.path().c_str(), 1);
  ::setenv("XDG_DATA_HOME", share.c_str(), 1);  // where systemd finds the templates
  for (const std::string checked : {unit, std::string("lumenvale-laptop-watch@home-anna-Photos.service"),
                                    std::string("lumenvale-laptop-pull@home-anna-Photos.timer"),
                                    std::string("lumenvale-laptop-pull@home-anna-Photos.service")}) {
    SCOPED_TRACE(checked);
    const testing::CommandResult unitChecked = testing::runCommand({"/usr/bin/systemd-analyze", "verify", "--user", checked}, 60s);
    EXPECT_EQ(unitChecked.status, 0) << unitChecked.output;
    EXPECT_EQ(unitChecked.output, "");
  }
  ::unsetenv("XDG_RUNTIME_DIR");
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("XDG_DATA_HOME");
}

// The manual pages render without a warning, and the completions offer
// what each command takes.
TEST(Install, ManualPagesAndCompletions) {
  testing::TemporaryFolder root("install-manual");
  const testing::CommandResult installed =
      testing::runCommand({LUMENVALE_CMAKE, "--install", LUMENVALE_BUILD_DIR, "--prefix", root.path()}, 120s);
  ASSERT_EQ(installed.status, 0) << installed.output;
  for (const std::string program : {"lumenvale", "lumenvale-laptop"}) {
    SCOPED_TRACE(program);
    const std::string page = root.path() + "/share/man/man1/" + program + ".1.gz";
    const testing::CommandResult rendered =
        testing::runCommand({"/usr/bin/env", "LC_ALL=C.UTF-8", "MANWIDTH=80", "/usr/bin/man", "--warnings", "-l", page}, 30s);
    EXPECT_EQ(rendered.status, 0) << rendered.output;
    EXPECT_NE(rendered.output.find("SYNOPSIS"), std::string::npos);
    EXPECT_EQ(rendered.output.find("warning"), std::string::npos) << rendered.output;
    const testing::CommandResult zsh = testing::runCommand({"/usr/bin/zsh", "-n", root.path() + "/share/zsh/site-functions/_" + program}, 30s);
    EXPECT_EQ(zsh.status, 0) << zsh.output;
  }

  struct Case {
    std::string program;
    std::string function;
    std::vector<std::string> words;  // the last is the word being completed
    std::string offered;             // COMPREPLY, one per line
  };
  const std::vector<Case> cases = {
      {"lumenvale-laptop", "_lumenvale_laptop", {"fr"}, "free\n"},
      {"lumenvale-laptop", "_lumenvale_laptop", {"p"}, "pair\npull\n"},
      {"lumenvale-laptop", "_lumenvale_laptop", {"d"}, "devices\n"},
      {"lumenvale-laptop", "_lumenvale_laptop", {"watch", "/tmp", "--o"}, "--once\n"},
      {"lumenvale-laptop", "_lumenvale_laptop", {"free", "/tmp", "--"}, "--device\n--dry-run\n--older-than\n--keep-recent\n--json\n--quiet\n--verbose\n--help\n--version\n"},
      {"lumenvale-laptop", "_lumenvale_laptop", {"pull", "/tmp", "--parallel", ""}, "1\n2\n4\n8\n16\n"},
      {"lumenvale-laptop", "_lumenvale_laptop", {"-q", "safe", "--j"}, "--json\n"},
      {"lumenvale", "_lumenvale", {"--he"}, "--headless\n--help\n"},
      {"lumenvale", "_lumenvale", {"--v"}, "--verbose\n--version\n"},
      {"lumenvale", "_lumenvale", {"settings", ""}, "get\nset\n"},
      {"lumenvale", "_lumenvale", {"settings", "set", "t"}, "theme\n"},
      {"lumenvale", "_lumenvale", {"--data", "/tmp", "settings", "set", "theme", ""}, "system\nlight\ndark\n"},
      {"lumenvale", "_lumenvale", {"settings", "set", "allowDelete", "t"}, "true\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program + " " + ::testing::PrintToString(c.words));
    std::string words = c.program;
    for (const std::string& word : c.words) words += " '" + word + "'";
    const std::string script = "source '" + root.path() + "/share/bash-completion/completions/" + c.program + "'; COMP_WORDS=(" + words +
                               "); COMP_CWORD=" + std::to_string(c.words.size()) + "; " + c.function +
                               "; printf '%s\\n' \"${COMPREPLY[@]}\"";
    const testing::CommandResult completed = testing::runCommand({"/bin/bash", "--norc", "-c", script}, 30s);
    EXPECT_EQ(completed.status, 0) << completed.output;
    EXPECT_EQ(completed.output, c.offered);
  }
}

}  // namespace
}  // namespace lumenvale
