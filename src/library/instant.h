// Time as the photo store keeps it, and its one way to and from the
// clock's TimePoint. The other forms of time in the system are each fixed by
// a format someone else reads: milliseconds since 1970 in laptops.json,
// whole microseconds in the catalog, nanoseconds in the laptop's record of
// file times, and the wire's "yyyy-MM-dd'T'HH:mm:ssXXXXX" text.
#pragma once

#include "util/clock.h"

namespace lumenvale {

// An instant as the photo store keeps it: seconds since 2001-01-01 00:00:00
// UTC. Cursors carry its exact bits, so it is never rounded or converted on
// its way from the store to a cursor and back.
using Instant = double;

// 1970-01-01 00:00:00 UTC, the instant used when an asset has no date at all.
inline constexpr Instant kUnixEpoch = -978307200.0;

// instantOf returns the instant of a time, to the whole microsecond below
// it; timeOf(instantOf(t)) gives that microsecond back exactly.
Instant instantOf(TimePoint time);

// timeOf returns the latest whole microsecond whose instant is at or before
// `instant`, so that "created <= instant" means the same in both units. An
// instant beyond what a TimePoint holds (about 1678 to 2262), as a laptop's
// cursor may carry, is held at its ends; NaN reads as 2001.
TimePoint timeOf(Instant instant);

}  // namespace lumenvale
