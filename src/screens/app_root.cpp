#include "screens/app_root.h"

namespace lumenvale {

AppRoot::AppRoot(HubBridge& hub, std::function<PhotoAccess()> currentAccess, QString name, QObject* parent)
    : QObject(parent),
      hub_(hub),
      currentAccess_(std::move(currentAccess)),
      name_(std::move(name)),
      access_(currentAccess_()),
      setup_(!lumenvale::granted(access_)) {
  connect(&hub_, &HubBridge::changed, this, &AppRoot::changed);
}

QString AppRoot::screen() const {
  switch (rootScreen(hub_.welcomed(), access_, setup_)) {
    case RootScreen::welcome: return QStringLiteral("welcome");
    case RootScreen::permissions: return QStringLiteral("permissions");
    case RootScreen::frame: break;
  }
  return QStringLiteral("frame");
}

QString AppRoot::access() const {
  switch (access_) {
    case PhotoAccess::notAsked: return QStringLiteral("notAsked");
    case PhotoAccess::denied: return QStringLiteral("denied");
    case PhotoAccess::limited: return QStringLiteral("limited");
    case PhotoAccess::full: break;
  }
  return QStringLiteral("full");
}

void AppRoot::appeared() {
  if (granted()) hub_.start(name_);
}

void AppRoot::becameActive() {
  access_ = currentAccess_();
  if (!granted()) {
    setup_ = true;  // back to the permissions screen
  } else {
    hub_.start(name_);
  }
  emit changed();
}

void AppRoot::folderChosen(const QUrl& folder, bool more) {
  if (!folder.isLocalFile() || folder.toLocalFile().isEmpty()) return;
  if (chooser_) chooser_(folder.toLocalFile(), more);
  becameActive();
}

void AppRoot::continueOn() {
  if (!granted()) return;
  setup_ = false;
  emit changed();
}

}  // namespace lumenvale
