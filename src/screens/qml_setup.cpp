#include "screens/qml_setup.h"

#include "screens/brand_assets.h"

namespace lumenvale {

void setUpQml(QQmlEngine& engine, Theme& theme, HubBridge* hub) {
  registerFonts();
  engine.addImageProvider(QStringLiteral("icon"), new IconProvider);
  // Types are registered for the process, not the engine: once.
  static bool registered = false;
  if (registered) return;
  registered = true;
  qmlRegisterSingletonInstance("Lumenvale.Core", 1, 0, "Theme", &theme);
  if (hub != nullptr) qmlRegisterSingletonInstance("Lumenvale.Core", 1, 0, "Hub", hub);
}

}  // namespace lumenvale
