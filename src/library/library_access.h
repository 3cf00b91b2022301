// How much of the photo library the device may read: one word for the
// folder catalog's report, the screens' choice of what to show, and the
// "access" the laptops read in /v1/info.
#pragma once

namespace lumenvale {

enum class LibraryAccess {
  notAsked,  // no folder chosen
  denied,    // none of the chosen folders can be read
  limited,   // some folder or sub-folder cannot be read
  full,
};

// granted: at least part of the library can be read.
inline bool granted(LibraryAccess access) { return access == LibraryAccess::limited || access == LibraryAccess::full; }

}  // namespace lumenvale
