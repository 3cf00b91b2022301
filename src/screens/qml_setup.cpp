#include "screens/qml_setup.h"

#include "screens/brand_assets.h"
#include "screens/texts.h"

namespace lumenvale {

namespace {

// engineObject is the object this engine was set up with under `key`.
QObject* engineObject(QQmlEngine* engine, const char* key) {
  QObject* object = engine->property(key).value<QObject*>();
  if (object != nullptr) QQmlEngine::setObjectOwnership(object, QQmlEngine::CppOwnership);
  return object;
}

}  // namespace

void setUpQml(QQmlEngine& engine, Theme& theme, HubBridge* hub) {
  registerFonts();
  engine.addImageProvider(QStringLiteral("icon"), new IconProvider);
  // Each engine reads its own theme and hub (tests make several in turn);
  // the types are registered for the process, once.
  engine.setProperty("lumenvaleTheme", QVariant::fromValue<QObject*>(&theme));
  engine.setProperty("lumenvaleHub", QVariant::fromValue<QObject*>(hub));
  static bool registered = false;
  if (registered) return;
  registered = true;
  qmlRegisterSingletonType<Theme>("Lumenvale.Core", 1, 0, "Theme",
                                  [](QQmlEngine* owner, QJSEngine*) { return engineObject(owner, "lumenvaleTheme"); });
  qmlRegisterSingletonType<Words>("Lumenvale.Core", 1, 0, "Words", [](QQmlEngine*, QJSEngine*) -> QObject* {
    return new Words;  // one per engine, owned by it
  });
  qmlRegisterSingletonType<HubBridge>(
      "Lumenvale.Core", 1, 0, "Hub", [](QQmlEngine* owner, QJSEngine*) { return engineObject(owner, "lumenvaleHub"); });
}

}  // namespace lumenvale
