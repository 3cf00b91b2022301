#include "screens/screenshots.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickView>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QVariantMap>
#include <cstdio>
#include <vector>

#include "screens/photos_model.h"
#include "screens/qml_setup.h"
#include "screens/samples.h"
#include "screens/texts.h"
#include "screens/theme.h"

namespace lumenvale {

namespace {

struct Scene {
  const char* name;
  QString source;
  QVariantMap properties;
  bool fullScreen;  // a whole phone screen, else the item at its own height
  QSize size = QSize(390, 844);  // a whole screen's size
};

// Phones as people hold them: a large one, a small one, one on its side.
const QSize kSmall(360, 720);
const QSize kSideways(720, 360);

std::vector<Scene> scenes() {
  const QVariantMap waiting{{"case", "waiting"}, {"code", "K7QM-4TXP"}, {"secondsLeft", 254}, {"fraction", 254 / 300.0},
                            {"countdown", "4:14"}};
  const QVariantMap sending{{"case", "sending"}, {"laptop", "Maya's MacBook"}, {"files", 128}, {"bytes", 734003200},
                            {"bytesPerSecond", 48000000}};
  const QVariantMap connected{{"case", "connected"}, {"laptop", "Maya's MacBook"}};
  const QVariantMap offline{{"case", "noNetwork"}};
  const auto hero = [](const QVariantMap& state) {
    return QVariantMap{{"hero", state},          {"codeFirst", "K7QM"},   {"codeSecond", "4TXP"},
                       {"counted", true},        {"safeCount", 1204},     {"allCount", 1204},
                       {"sentText", "734 MB"},   {"speedText", "48 MB"},  {"width", 358},
                       {"currentAsset", "sample7"}, {"currentName", "IMG_4821.HEIC"},
                       {"currentDetail", "2.4 MB \u00B7 May 1, 2024"}};
  };
  // The same over a photo, as a real library shows it.
  const auto covered = [&hero](const QVariantMap& state, int width) {
    QVariantMap properties = hero(state);
    properties.insert("cover", "sample3");
    properties.insert("width", width);
    return properties;
  };
  const QString home = QStringLiteral("qrc:/lumenvale/qml/HomeSample.qml");
  const QVariantMap onCover{{"coverSample", "sample3"}};
  QVariantMap sendingOnCover = onCover;
  sendingOnCover.insert("heroSample", sending);
  sendingOnCover.insert("currentSample", "sample7");
  QVariantMap connectedBehind{{"heroSample", connected}, {"coverSample", "sample3"}, {"safeSample", 3608}};
  const QVariantMap forget{{"id", "l2"}, {"name", "Studio iMac"}};
  const QString frame = QStringLiteral("qrc:/lumenvale/qml/FrameSample.qml");
  return {
      {"photos", frame, {{"tab", "photos"}}, true},
      {"photos-safe-filter", frame, {{"tab", "photos"}, {"filterSample", "safe"}}, true},
      {"viewer-safe", frame, {{"tab", "photos"}, {"viewing", 4}}, true},
      {"viewer-not-safe", frame, {{"tab", "photos"}, {"viewing", 3}}, true},
      {"laptops", frame, {{"tab", "laptops"}}, true},
      {"laptops-forget", frame, {{"tab", "laptops"}, {"forgetSample", forget}}, true},
      {"settings", frame, {{"tab", "settings"}}, true},
      {"delete-sheet", frame, {{"tab", "home"}, {"askCount", 40}}, true},
      {"delete-sheet-one", frame, {{"tab", "home"}, {"askCount", 1}}, true},
      {"welcome", QStringLiteral("qrc:/lumenvale/qml/WelcomeScreen.qml"), {}, true},
      {"permissions-not-asked", QStringLiteral("qrc:/lumenvale/qml/PermissionsScreen.qml"), {{"access", "notAsked"}}, true},
      {"permissions-limited", QStringLiteral("qrc:/lumenvale/qml/PermissionsScreen.qml"), {{"access", "limited"}}, true},
      {"permissions-denied", QStringLiteral("qrc:/lumenvale/qml/PermissionsScreen.qml"), {{"access", "denied"}}, true},
      {"permissions-full", QStringLiteral("qrc:/lumenvale/qml/PermissionsScreen.qml"), {{"access", "full"}}, true},
      {"home", home, {}, true},
      {"home-connected", home, {{"heroSample", connected}, {"safeSample", 4812}}, true},
      {"home-cover", home, onCover, true},
      {"home-cover-360", home, onCover, true, kSmall},
      {"home-sending-cover-360", home, sendingOnCover, true, kSmall},
      {"home-connected-cover", home, connectedBehind, true},
      {"home-sideways", home, onCover, true, kSideways},
      {"delete-sheet-360", frame, {{"tab", "home"}, {"askCount", 40}}, true, kSmall},
      {"delete-sheet-sideways", frame, {{"tab", "home"}, {"askCount", 40}}, true, kSideways},
      {"laptops-forget-sideways", frame, {{"tab", "laptops"}, {"forgetSample", forget}}, true, kSideways},
      {"hero-waiting", QStringLiteral("qrc:/lumenvale/qml/HeroCard.qml"), hero(waiting), false},
      {"hero-sending", QStringLiteral("qrc:/lumenvale/qml/HeroCard.qml"), hero(sending), false},
      {"hero-connected", QStringLiteral("qrc:/lumenvale/qml/HeroCard.qml"), hero(connected), false},
      {"hero-no-network", QStringLiteral("qrc:/lumenvale/qml/HeroCard.qml"), hero(offline), false},
      {"hero-waiting-cover-328", QStringLiteral("qrc:/lumenvale/qml/HeroCard.qml"), covered(waiting, 328), false},
      {"hero-sending-cover", QStringLiteral("qrc:/lumenvale/qml/HeroCard.qml"), covered(sending, 358), false},
      {"hero-connected-cover", QStringLiteral("qrc:/lumenvale/qml/HeroCard.qml"), covered(connected, 358), false},
      {"hero-no-network-cover-288", QStringLiteral("qrc:/lumenvale/qml/HeroCard.qml"), covered(offline, 288), false},
  };
}

}  // namespace

int renderScreenshots(const std::string& folder) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
  static int argc = 1;
  static char name[] = "lumenvale";
  static char* argv[] = {name, nullptr};
  QGuiApplication application(argc, argv);
  const QDir out(QString::fromStdString(folder));
  if (!out.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "lumenvale: cannot create %s\n", folder.c_str());
    return 1;
  }
  if (!installTexts(application)) {
    std::fprintf(stderr, "lumenvale: the texts did not load\n");
    return 1;
  }
  Theme theme;
  QQmlEngine engine;
  setUpQml(engine, theme, nullptr);
  // The Photos tab reads a real model over sample assets, two of three of
  // them safe; pictures are drawn, not read.
  engine.addImageProvider(QStringLiteral("thumb"), new Samples::Pictures);
  PhotosModel photos(Samples::photos(Samples::assets(600), [](std::size_t i) { return i % 3 != 0; }));
  int written = 0;
  for (const char* appearance : {"light", "dark"}) {
    theme.setChoice(QString::fromLatin1(appearance));
    for (const Scene& scene : scenes()) {
      QQuickView view(&engine, nullptr);
      view.setColor(theme.colour(QStringLiteral("bg")));
      QVariantMap properties = scene.properties;
      if (scene.source.endsWith(QLatin1String("FrameSample.qml"))) {
        properties.insert(QStringLiteral("photos"), QVariant::fromValue<QObject*>(&photos));
      }
      view.setInitialProperties(properties);
      view.setResizeMode(scene.fullScreen ? QQuickView::SizeRootObjectToView : QQuickView::SizeViewToRootObject);
      if (scene.fullScreen) view.resize(scene.size);
      view.setSource(QUrl(scene.source));
      if (view.status() != QQuickView::Ready) {
        for (const QQmlError& error : view.errors()) std::fprintf(stderr, "%s\n", qPrintable(error.toString()));
        return 1;
      }
      view.show();
      // Let pages, images and the first frame arrive.
      QElapsedTimer waited;
      waited.start();
      while ((photos.loading() || !photos.counted()) && waited.elapsed() < 3000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      }
      // Pictures are drawn on threads of their own: give them a moment.
      const int settle = scene.source.endsWith(QLatin1String("FrameSample.qml")) ? 400 : 100;
      for (waited.restart(); waited.elapsed() < settle;) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      const QImage image = view.grabWindow();
      const QString file = out.filePath(QStringLiteral("%1-%2.png").arg(QLatin1String(scene.name), QLatin1String(appearance)));
      if (image.isNull() || !image.save(file)) {
        std::fprintf(stderr, "lumenvale: cannot write %s\n", qPrintable(file));
        return 1;
      }
      std::printf("%s\n", qPrintable(file));
      ++written;
    }
  }
  return written > 0 ? 0 : 1;
}

}  // namespace lumenvale
