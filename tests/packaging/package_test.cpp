// `make package`: the Debian package CPack builds is accepted by lintian
// without an error or a warning, holds what `cmake --install` puts in
// place, and its programs run from a scratch root it is unpacked into.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/command.h"
#include "support/program.h"

namespace lumenvale {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(Package, LintianAcceptsItAndItsProgramsRun) {
  testing::TemporaryFolder out("package");
  const testing::CommandResult packed = testing::runCommand(
      {LUMENVALE_CPACK, "--config", std::string(LUMENVALE_BUILD_DIR) + "/CPackConfig.cmake", "-B", out.path()}, 300s);
  ASSERT_EQ(packed.status, 0) << packed.output;
  const std::string deb = out.path() + "/lumenvale_" + LUMENVALE_VERSION + "_amd64.deb";
  ASSERT_TRUE(fs::exists(deb)) << packed.output;

  const testing::CommandResult linted =
      testing::runCommand({"/usr/bin/lintian", "--fail-on", "error,warning", deb}, 300s);
  EXPECT_EQ(linted.status, 0) << linted.output;

  testing::TemporaryFolder root("package-root");
  const testing::CommandResult unpacked = testing::runCommand({"/usr/bin/dpkg-deb", "-x", deb, root.path()}, 60s);
  ASSERT_EQ(unpacked.status, 0) << unpacked.output;
  for (const std::string program : {"lumenvale", "lumenvale-laptop"}) {
    SCOPED_TRACE(program);
    const testing::CommandResult version = testing::runCommand({root.path() + "/usr/bin/" + program, "--version"}, 30s);
    EXPECT_EQ(version.status, 0) << version.output;
    EXPECT_EQ(version.output, program + " " + LUMENVALE_VERSION + "\n");
  }
  for (const std::string file :
       {"/usr/share/applications/org.lumenvale.Lumenvale.desktop", "/usr/share/systemd/user/lumenvale.service",
        "/usr/share/man/man1/lumenvale.1.gz", "/usr/share/doc/lumenvale/copyright"}) {
    EXPECT_TRUE(fs::exists(root.path() + file)) << file;
  }
}

}  // namespace
}  // namespace lumenvale
