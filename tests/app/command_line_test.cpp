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

}  // namespace
}  // namespace lumenvale
