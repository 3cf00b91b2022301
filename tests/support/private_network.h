// A network of the test process's own: the tests that start the device (or
// the app window, which starts one) run in a network namespace where only
// loopback is up, so the ports 41820 to 41829 are theirs whatever else runs
// on the machine, and nothing they serve is seen from outside. The programs
// a test starts inherit it.
#pragma once

#include <string>

namespace lumenvale::testing {

// enterPrivateNetwork moves this process into a new network namespace and
// brings its loopback up; false, with the reason in `why`, when this machine
// allows none (no root and no unprivileged user namespaces). Call it before
// the process starts a thread.
bool enterPrivateNetwork(std::string& why);

// privateNetwork says whether the test's main entered one, and if not, why.
bool privateNetwork(std::string* why = nullptr);

}  // namespace lumenvale::testing
