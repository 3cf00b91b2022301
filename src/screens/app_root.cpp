#include "screens/app_root.h"

#include <QDir>
#include <QFileInfo>

namespace lumenvale {

AppRoot::AppRoot(HubBridge& hub, std::function<LibraryAccess()> currentAccess, QString name, QObject* parent)
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
    case LibraryAccess::notAsked: return QStringLiteral("notAsked");
    case LibraryAccess::denied: return QStringLiteral("denied");
    case LibraryAccess::limited: return QStringLiteral("limited");
    case LibraryAccess::full: break;
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

QStringList AppRoot::folders() const {
  QStringList list;
  if (folders_.served) {
    for (const std::string& folder : folders_.served()) list.append(QString::fromStdString(folder));
  }
  return list;
}

QUrl AppRoot::chooserStart() const {
  QStringList candidates = folders();
  candidates.append(QString::fromStdString(folders_.pictures));
  for (const QString& folder : candidates) {
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return QUrl::fromLocalFile(folder);
  }
  return QUrl::fromLocalFile(QDir::homePath());
}

void AppRoot::removeFolder(const QString& folder) {
  if (!folders_.remove || !folders_.remove(folder.toStdString())) return;
  becameActive();
}

void AppRoot::continueOn() {
  if (!granted()) return;
  setup_ = false;
  emit changed();
}

}  // namespace lumenvale
