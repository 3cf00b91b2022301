#include "screens/app_flow.h"

namespace lumenvale {

RootScreen rootScreen(bool welcomed, LibraryAccess access, bool setup) {
  if (!welcomed) return RootScreen::welcome;
  if (granted(access) && !setup) return RootScreen::frame;
  return RootScreen::permissions;
}

bool isDark(std::string_view theme, bool systemDark) {
  if (theme == "dark") return true;
  if (theme == "light") return false;
  return systemDark;
}

}  // namespace lumenvale
