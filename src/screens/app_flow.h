// The app root's decisions, apart from any toolkit: how much of the photo
// library the app may read, which of the three screens shows, and whether a
// theme means dark. The screens only draw what these say.
#pragma once

#include <string_view>

#include "library/library_access.h"

namespace lumenvale {

enum class RootScreen { welcome, permissions, frame };

// rootScreen: the welcome screen until the owner has started once, then the
// permissions screen until access is granted and the owner continues, then
// the app frame.
RootScreen rootScreen(bool welcomed, LibraryAccess access, bool setup);

// isDark: "dark" and "light" choose; anything else follows the system.
bool isDark(std::string_view theme, bool systemDark);

}  // namespace lumenvale
