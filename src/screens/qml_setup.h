// What every QML engine of the app needs before it loads a screen: the
// shipped fonts, the icon provider, and the `Lumenvale.Core` singletons
// (`Theme`, `Words`, and `Hub` when there is a hub). Main thread; once per process
// for the singletons.
#pragma once

#include <QQmlEngine>

#include "screens/hub_bridge.h"
#include "screens/theme.h"

namespace lumenvale {

void setUpQml(QQmlEngine& engine, Theme& theme, HubBridge* hub);

}  // namespace lumenvale
