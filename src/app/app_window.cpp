#include "app/app_window.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QIcon>
#include <QPalette>
#include <QSocketNotifier>
#include <cstdio>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "app/headless.h"
#include "app/version.h"
#include "platform/device.h"
#include "screens/background.h"
#include "screens/qml_setup.h"
#include "screens/texts.h"

namespace lumenvale {

namespace {

bool systemIsDark() { return QGuiApplication::palette().color(QPalette::Window).lightness() < 128; }

}  // namespace

bool displayReachable() {
  return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
         !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

AppWindow::AppWindow(const Options& options) {
  device_ = std::make_unique<DeviceSide>(options, main_, say, false,
                                         [this](bool awake) { screenSaver_.keepAwake(awake); });
  std::shared_ptr<Hub> hub = device_->sharedHub();
  DeviceSide* device = device_.get();

  // The palette's look at start-up is the first guess; the desktop's
  // colour scheme, while it runs, has the last word.
  const bool guess = systemIsDark();
  theme_.setSystemDark(guess);
  appearance_ = std::make_unique<DesktopAppearance>(QDBusConnection::sessionBus(), guess,
                                                    [this](bool dark) { theme_.setSystemDark(dark); });
  thumbs_ = std::make_unique<Thumbs>(hub->library(), device->library().store());
  bridge_ = std::make_unique<HubBridge>(hub);
  root_ = std::make_unique<AppRoot>(
      *bridge_, [device] { return device->library().photoAccess(); },
      QString::fromStdString(device->name()));
  root_->setVersion(QString::fromLatin1(kVersion));
  root_->setCatalogRebuilt(device->library().recovery().has_value());
  root_->setChooser([this, device](const QString& folder, bool more) {
    if (!device->choose(folder.toStdString(), more)) say("Cannot keep the chosen folders in the settings");
    photos_->foldersChanged();
  });

  AppRoot::Folders folders;
  folders.served = [device] { return device->library().folders(); };
  folders.remove = [this, device](const std::string& folder) {
    const bool removed = device->remove(folder);
    photos_->foldersChanged();
    return removed;
  };
  folders.pictures = Device::picturesFolder();
  root_->setFolders(std::move(folders));

  HomeModel::Sources home;
  home.count = [hub] { return hub->safeCount(); };
  home.firstPage = [hub] { return hub->library().page(std::nullopt, 8).assets; };
  home.copy = [](const QString& text) { QGuiApplication::clipboard()->setText(text); };
  home.describe = [hub](const QString& id) { return describeAsset(hub->library(), id); };
  home_ = std::make_unique<HomeModel>(*bridge_, *root_, std::move(home));

  PhotosModel::Sources photos;
  photos.page = [hub](std::optional<std::string> after, std::int64_t limit) -> std::optional<Page> {
    return hub->library().page(after ? std::optional<std::string_view>(*after) : std::nullopt, limit);
  };
  photos.count = [hub] { return hub->safeCount(); };
  photos.safeOn = [hub](const Asset& asset) { return hub->safeOn(asset); };
  photos_ = std::make_unique<PhotosModel>(std::move(photos));

  sheet_ = std::make_unique<DeleteSheetModel>(*bridge_, [hub](const std::vector<std::string>& ids) {
    return readAsked(hub->library(), ids);
  });

  // The theme follows the owner's choice; the Photos tab, the safe marks.
  theme_.setChoice(bridge_->theme());
  // The counts are made again when an index ends, too.
  marksSeen_ = bridge_->marks();
  librarySeen_ = bridge_->library();
  QObject::connect(bridge_.get(), &HubBridge::changed, [this] {
    theme_.setChoice(bridge_->theme());
    if (bridge_->marks() != marksSeen_ || bridge_->library() != librarySeen_) {
      marksSeen_ = bridge_->marks();
      librarySeen_ = bridge_->library();
      photos_->marksChanged();
    }
  });
  // Back in front, the folders are looked at again and the server started.
  QObject::connect(qGuiApp, &QGuiApplication::applicationStateChanged, root_.get(), [this](Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive) root_->becameActive();
  });

  engine_ = std::make_unique<QQmlApplicationEngine>();
  setUpQml(*engine_, theme_, bridge_.get());
  engine_->addImageProvider(QStringLiteral("thumb"), new ThumbProvider(*thumbs_));
  engine_->setInitialProperties({{"hub", QVariant::fromValue<QObject*>(bridge_.get())},
                                 {"app", QVariant::fromValue<QObject*>(root_.get())},
                                 {"home", QVariant::fromValue<QObject*>(home_.get())},
                                 {"photos", QVariant::fromValue<QObject*>(photos_.get())},
                                 {"deleteSheet", QVariant::fromValue<QObject*>(sheet_.get())}});
  engine_->load(QUrl(QStringLiteral("qrc:/lumenvale/qml/Main.qml")));
  if (engine_->rootObjects().isEmpty()) throw Failure{"the screens did not load"};
  window_ = qobject_cast<QQuickWindow*>(engine_->rootObjects().first());
  if (window_ == nullptr) throw Failure{"the screens did not make a window"};
}

AppWindow::~AppWindow() {
  // The window goes before the models it binds to, and the hub stops
  // before anything it tells is gone.
  engine_.reset();
  device_->hub().stop();
  // Counts and pages still being read use the library, which goes with
  // the device side; a disk that stalls is not waited for past 5 seconds.
  Background::wait(std::chrono::seconds(5));
}

int runApp(const Options& options) {
  static int argc = 1;
  static char name[] = "lumenvale";
  static char* argv[] = {name, nullptr};
  QGuiApplication application(argc, argv);
  QGuiApplication::setApplicationName(QStringLiteral("lumenvale"));
  QGuiApplication::setApplicationDisplayName(QStringLiteral("Lumenvale"));
  // The desktop entry's name, which Wayland shells match the window with,
  // and the mark as the window's icon where no entry is installed.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.lumenvale.Lumenvale"));
  QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/lumenvale/brand/mark.svg")));
  if (!installTexts(application)) {
    std::fprintf(stderr, "lumenvale: the texts did not load\n");
    return 1;
  }
  // SIGINT and SIGTERM end the app as closing its window does: the signal
  // handler only writes a byte, which the event loop reads.
  static int stopPipe[2] = {-1, -1};
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, stopPipe) != 0) {
    std::fprintf(stderr, "lumenvale: cannot set up the stop signals\n");
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = [](int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopPipe[0], &byte, 1);
  };
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  QSocketNotifier stops(stopPipe[1], QSocketNotifier::Read);
  QObject::connect(&stops, &QSocketNotifier::activated, &application, &QGuiApplication::quit);

  try {
    AppWindow app(options);
    // Serving nowhere is of no use to anyone: end, so that a service
    // manager can start the program again once the address is there.
    bool ending = false;
    app.hub().observe([&ending](const HubState& state) {
      if (!state.cannotListen || ending) return;
      ending = true;
      std::fprintf(stderr, "lumenvale: cannot serve laptops: %s\n", state.notListening.c_str());
      QGuiApplication::exit(1);
    });
    return application.exec();
  } catch (const DeviceSide::Failure& failure) {
    std::fprintf(stderr, "lumenvale: %s\n", failure.description.c_str());
  } catch (const AppWindow::Failure& failure) {
    std::fprintf(stderr, "lumenvale: %s\n", failure.description.c_str());
  }
  return 1;
}

}  // namespace lumenvale
