// `pull`: copies every resource of the device's library that the copy
// folder does not hold yet, up to four at a time, each checked against the
// device's SHA-256 before it counts as held. A download cut short resumes
// from its last byte while the file's ETag is unchanged; an interrupted pull
// run again fetches no byte twice beyond that.
//
// What DEST holds is never overwritten: a copy the device has a newer
// version of, or one changed on this laptop, is first moved aside under a
// name that says so. A copy that changed or vanished since it was checked
// is fetched again, and a file already in DEST with the device's bytes (a
// photo the device now lists under another id, or one copied by other
// means) is taken as the copy instead of being fetched twice.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "laptop/held_files.h"
#include "laptop/laptop_config.h"

namespace lumenvale::laptop {

struct PullReport {
  std::int64_t copied = 0;      // files downloaded and checked in this run
  std::int64_t held = 0;        // files that were held already (checked again where they looked touched)
  std::int64_t recognised = 0;  // files found in DEST with the device's bytes and kept in place
  std::int64_t fetchedAgain = 0;  // of `copied`: copies that had changed or vanished here
  std::int64_t keptAside = 0;   // earlier versions and changed copies moved aside, never overwritten
  std::int64_t failed = 0;      // files that could not be copied
  std::int64_t left = 0;        // files not tried because the run stopped
  std::int64_t bytes = 0;       // body bytes received in this run
  double seconds = 0;
  // Why the run stopped before the end (the disk is full, the device is
  // gone), in one line; empty when it went through.
  std::string stopped;
};

struct PullOptions {
  int parallel = 4;
  // How long a lost connection is tried again, backing off, before the run
  // stops.
  std::chrono::milliseconds retryFor{60000};
  // say prints one line (a file done, a problem); progress redraws the
  // progress line on a terminal. Either may be empty.
  std::function<void(const std::string&)> say;
  std::function<void(const std::string&)> progress;
};

// pull throws std::runtime_error for what ends the whole run before it
// starts (the device cannot be reached, refuses the listing, or the copy
// folder belongs to another device); a file that fails is reported and
// counted, and what stops a run on the way is in `PullReport::stopped`.
PullReport pull(const PairedDevice& device, HeldFiles& held, const PullOptions& options);

// Progress is what the progress line knows.
struct Progress {
  std::int64_t filesDone = 0;
  std::int64_t filesTotal = 0;
  std::int64_t bytes = 0;          // received so far in this run
  std::int64_t bytesExpected = 0;  // an estimate of the run's total, 0 when there is none yet
  double seconds = 0;
  bool bar = false;  // draw a bar (on a terminal)
};

// progressLine is what the progress line says: files, bytes of the expected
// total, speed and the time left, counted in bytes.
std::string progressLine(const Progress& progress);

// aside is the name a file at `path` moves to when it must make way:
// "2024/05/IMG_0900 (2024-05-01 earlier).MOV"; `taken` refuses names in use.
std::string asideName(const std::string& path, const std::string& label,
                      const std::function<bool(const std::string&)>& taken);

}  // namespace lumenvale::laptop
