// The app on screen: the device side with the Qt event loop as its main
// thread, the models the screens bind to, and the window. Main thread; needs
// a QGuiApplication for its whole life.
#pragma once

#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <memory>

#include "app/command_line.h"
#include "app/device_side.h"
#include "screens/app_root.h"
#include "screens/delete_sheet_model.h"
#include "screens/desktop_appearance.h"
#include "screens/home_model.h"
#include "screens/hub_bridge.h"
#include "screens/photos_model.h"
#include "screens/qt_main_queue.h"
#include "screens/screen_saver.h"
#include "screens/theme.h"
#include "screens/thumbs.h"
#include "util/failure.h"

namespace lumenvale {

// displayReachable: a Wayland or X11 display, or a Qt platform named
// outright (QT_QPA_PLATFORM), is there to open a window on.
bool displayReachable();

class AppWindow {
 public:
  // Builds everything and opens the window; the server starts once photo
  // access is there. Throws DeviceSide::Failure, or Failure when the
  // screens do not load.
  class Failure : public DescribedFailure {
   public:
    using DescribedFailure::DescribedFailure;
  };
  explicit AppWindow(const Options& options);
  ~AppWindow();
  AppWindow(const AppWindow&) = delete;
  AppWindow& operator=(const AppWindow&) = delete;

  QQuickWindow& window() { return *window_; }
  Hub& hub() { return device_->hub(); }
  AppRoot& root() { return *root_; }

 private:
  QtMainQueue main_;
  ScreenSaverInhibitor screenSaver_;
  std::unique_ptr<DeviceSide> device_;
  Theme theme_;
  std::unique_ptr<DesktopAppearance> appearance_;  // tells theme_
  std::unique_ptr<Thumbs> thumbs_;
  std::unique_ptr<HubBridge> bridge_;
  std::unique_ptr<AppRoot> root_;
  std::unique_ptr<HomeModel> home_;
  std::unique_ptr<PhotosModel> photos_;
  std::unique_ptr<DeleteSheetModel> sheet_;
  std::unique_ptr<QQmlApplicationEngine> engine_;
  QQuickWindow* window_ = nullptr;
  qint64 marksSeen_ = 0;
  qint64 librarySeen_ = 0;
};

// runApp runs the app until its window closes or a stop signal comes, and
// returns the exit status.
int runApp(const Options& options);

}  // namespace lumenvale
