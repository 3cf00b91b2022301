// `lumenvale --screenshots DIR`: draws every screen built so far, in light
// and in dark, offscreen, into PNG files in DIR, so that anyone can look at
// them without a phone or a display. Runs its own application; call it
// from main() and nowhere else.
#pragma once

#include <string>

namespace lumenvale {

// renderScreenshots returns the process exit status (0, or 1 with the
// reason on standard error).
int renderScreenshots(const std::string& folder);

}  // namespace lumenvale
