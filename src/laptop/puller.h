// `pull`: copies every resource of the device's library that the copy
// folder does not hold yet, up to four at a time, each checked against the
// device's SHA-256 before it counts as held. A download cut short resumes
// from its last byte while the file's ETag is unchanged; an interrupted pull
// run again fetches no byte twice beyond that.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "laptop/held_files.h"
#include "laptop/laptop_config.h"

namespace lumenvale::laptop {

struct PullReport {
  std::int64_t copied = 0;    // files downloaded and checked in this run
  std::int64_t held = 0;      // files that were held already
  std::int64_t failed = 0;    // files that could not be copied
  std::int64_t bytes = 0;     // body bytes received in this run
  double seconds = 0;
};

struct PullOptions {
  int parallel = 4;
  // say prints one line (a file done, a problem); progress redraws the
  // progress line on a terminal. Either may be empty.
  std::function<void(const std::string&)> say;
  std::function<void(const std::string&)> progress;
};

// pull throws std::runtime_error for what ends the whole run (the device
// cannot be reached, refuses the listing, or the copy folder belongs to
// another device); a file that fails is reported and counted.
PullReport pull(const PairedDevice& device, HeldFiles& held, const PullOptions& options);

// progressLine is what the progress line says: files, bytes, speed and the
// time left, estimated from the average file so far.
std::string progressLine(std::int64_t filesDone, std::int64_t filesTotal, std::int64_t bytes, double seconds);

}  // namespace lumenvale::laptop
