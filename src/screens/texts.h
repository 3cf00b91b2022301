// The app's texts, looked up by localisation key ("welcome.start") through
// qtTrId / qsTrId; English is the one catalogue so far. Main thread, once.
#pragma once

#include <QCoreApplication>

namespace lumenvale {

// installTexts loads the catalogue into the application; false when it is
// missing (keys would then show as themselves).
bool installTexts(QCoreApplication& application);

}  // namespace lumenvale
