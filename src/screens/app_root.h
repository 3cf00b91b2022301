// The app root as QML sees it: which screen shows ("welcome",
// "permissions" or "frame"), how much of the photo library may be read,
// and the owner's steps through the first screens. It starts the hub's
// server whenever access is there. Main thread.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

#include "screens/app_flow.h"
#include "screens/hub_bridge.h"

namespace lumenvale {

class AppRoot : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString screen READ screen NOTIFY changed)
  Q_PROPERTY(QString access READ access NOTIFY changed)
  Q_PROPERTY(bool granted READ granted NOTIFY changed)
  Q_PROPERTY(QString version READ version CONSTANT)
  Q_PROPERTY(QStringList folders READ folders NOTIFY changed)
  Q_PROPERTY(QUrl chooserStart READ chooserStart NOTIFY changed)

 public:
  // `currentAccess` reads the access as it is now; `name` is the device's
  // name for the server. The bridge must outlive the root.
  AppRoot(HubBridge& hub, std::function<LibraryAccess()> currentAccess, QString name, QObject* parent = nullptr);

  // chooser serves a folder the owner chose, alone or (`more`) beside the
  // others; `version` is the app's version for the Settings tab.
  using Chooser = std::function<void(const QString& folder, bool more)>;
  void setChooser(Chooser chooser) { chooser_ = std::move(chooser); }
  void setVersion(QString version) { version_ = std::move(version); }
  // Folders is what the chooser and the Settings tab need of the library:
  // the folders served now, the way to stop serving one (false when that
  // cannot be done), and the owner's pictures folder.
  struct Folders {
    std::function<std::vector<std::string>()> served;
    std::function<bool(const std::string& folder)> remove;
    std::string pictures;
  };
  void setFolders(Folders folders) { folders_ = std::move(folders); }
  // catalogRebuilt: the photo catalog was found damaged at this start and
  // built again (the Home tab says so).
  void setCatalogRebuilt(bool rebuilt) { catalogRebuilt_ = rebuilt; }
  bool catalogRebuilt() const { return catalogRebuilt_; }

  QString screen() const;
  QString version() const { return version_; }
  QString access() const;  // the QML name of libraryAccess()
  LibraryAccess libraryAccess() const { return access_; }
  bool granted() const { return lumenvale::granted(access_); }
  // folders are the folders served now, in the order they were chosen.
  QStringList folders() const;
  // chooserStart is where the folder chooser opens: the first served folder
  // that is there, else the pictures folder, else the home folder; never
  // the process's working folder, which means nothing to the owner.
  QUrl chooserStart() const;

  // appeared: the window is shown for the first time.
  Q_INVOKABLE void appeared();
  // becameActive: the app is back in front, or the owner changed the
  // folders; the access is read again.
  Q_INVOKABLE void becameActive();
  // continueOn: the owner leaves the permissions screen.
  Q_INVOKABLE void continueOn();
  // folderChosen: the owner picked a folder in the chooser; a URL that is
  // not a local folder is ignored.
  Q_INVOKABLE void folderChosen(const QUrl& folder, bool more);
  // removeFolder stops serving `folder`; the last one is kept.
  Q_INVOKABLE void removeFolder(const QString& folder);

 signals:
  void changed();

 private:
  HubBridge& hub_;
  std::function<LibraryAccess()> currentAccess_;
  QString name_;
  Chooser chooser_;
  Folders folders_;
  QString version_;
  LibraryAccess access_;
  bool setup_;
  bool catalogRebuilt_ = false;
};

}  // namespace lumenvale
