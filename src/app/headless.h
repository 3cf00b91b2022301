// The terminal front end: loads the identity and the stores, starts the
// server, and prints what the owner needs (fingerprint, port, pairing code)
// one line each, flushed at once. Runs on the main thread until SIGINT or
// SIGTERM.
#pragma once

#include "app/command_line.h"

namespace lumenvale {

// runHeadless returns the process exit status.
int runHeadless(const Options& options);

}  // namespace lumenvale
