// The terminal front end: loads the identity and the stores, starts the
// server, and prints what the owner needs (fingerprint, port, pairing code)
// one line each, flushed at once. Runs on the main thread until SIGINT or
// SIGTERM.
#pragma once

#include <string>

#include "app/command_line.h"

namespace lumenvale {

// say prints one line to standard output, whole and flushed at once, from
// any thread. The app window says the library's lines the same way, for
// whoever started it from a terminal.
void say(const std::string& line);

// runHeadless returns the process exit status.
int runHeadless(const Options& options);

}  // namespace lumenvale
