// The app root's decisions, apart from any toolkit: how much of the photo
// library the app may read, which of the three screens shows, and whether a
// theme means dark. The screens only draw what these say.
#pragma once

#include <string_view>

namespace lumenvale {

enum class PhotoAccess { notAsked, denied, limited, full };

// granted: the app may read at least part of the library.
inline bool granted(PhotoAccess access) { return access == PhotoAccess::limited || access == PhotoAccess::full; }

enum class RootScreen { welcome, permissions, frame };

// rootScreen: the welcome screen until the owner has started once, then the
// permissions screen until access is granted and the owner continues, then
// the app frame.
RootScreen rootScreen(bool welcomed, PhotoAccess access, bool setup);

// isDark: "dark" and "light" choose; anything else follows the system.
bool isDark(std::string_view theme, bool systemDark);

}  // namespace lumenvale
