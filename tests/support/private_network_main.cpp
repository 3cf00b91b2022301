// The main of the tests that start the device: each runs in a network of
// its own (see private_network.h), or, where the machine allows none, on the
// machine's own loopback, saying so; tests that need particular ports free
// skip themselves then.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/private_network.h"

int main(int argc, char** argv) {
  std::string why;
  if (!lumenvale::testing::enterPrivateNetwork(why)) {
    std::fprintf(stderr, "These tests share the machine's network: %s\n", why.c_str());
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
