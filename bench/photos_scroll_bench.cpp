// The Photos tab over 50,000 assets, offscreen with the software renderer:
// how long the model takes to take in each page of 300 as the library
// grows, and how long a frame takes while the grid scrolls from the newest
// month to the oldest. For comparison, the same frames of a plain GridView
// of the same pictures (no months, no marks), the simplest grid Qt Quick
// offers.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <algorithm>
#include <memory>
#include <cstdio>
#include <vector>

#include "screens/photos_model.h"
#include "screens/qml_setup.h"
#include "screens/samples.h"
#include "screens/texts.h"
#include "screens/theme.h"

namespace {

constexpr int kAssets = 50000;
// A quick flick: 600 pixels a frame, a little under one screen.
constexpr double kStep = 600;

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

// frames scrolls `list` (a Flickable) from top to bottom in steps of
// `step` pixels and returns the time of each rendered frame, in ms.
// A list's height is an estimate until its end is near, so the scroll goes
// on until the list says it is at its end.
std::vector<double> frames(QQuickView& view, QQuickItem* list, double step) {
  std::vector<double> times;
  view.grabWindow();
  while (!list->property("atYEnd").toBool()) {
    const double end = list->property("contentHeight").toDouble() + list->property("originY").toDouble() - view.height();
    const double y = std::min(list->property("contentY").toDouble() + step, end);
    QElapsedTimer timer;
    timer.start();
    list->setProperty("contentY", y);
    view.grabWindow();  // polish, sync and render one frame
    times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    QCoreApplication::processEvents();
  }
  return times;
}

void report(const char* what, const std::vector<double>& times) {
  std::printf("%-34s %6zu frames  median %6.2f ms  p95 %6.2f ms  max %6.2f ms\n", what, times.size(),
              percentile(times, 0.5), percentile(times, 0.95), percentile(times, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
  QGuiApplication application(argc, argv);
  if (!lumenvale::installTexts(application)) return 1;
  lumenvale::Theme theme;
  QQmlEngine engine;
  lumenvale::setUpQml(engine, theme, nullptr);
  engine.addImageProvider(QStringLiteral("thumb"), new lumenvale::Samples::Pictures);

  lumenvale::PhotosModel photos(lumenvale::Samples::photos(lumenvale::Samples::assets(kAssets),
                                                           [](std::size_t i) { return i % 3 != 0; }));
  // Pages as the last tile asks for them, until the listing ends.
  photos.appeared();
  std::vector<double> pages;
  QElapsedTimer all;
  all.start();
  while (!photos.done()) {
    QElapsedTimer timer;
    timer.start();
    while (photos.loading()) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    pages.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    photos.more();
  }
  std::printf("%d assets in %zu pages: %.0f ms in all; a page took median %.2f ms, the last ten %.2f ms at most\n",
              photos.loaded(), pages.size(), static_cast<double>(all.elapsed()), percentile(pages, 0.5),
              *std::max_element(pages.end() - std::min<std::ptrdiff_t>(10, static_cast<std::ptrdiff_t>(pages.size())),
                                pages.end()));

  // The tab asks the hub only to write counts.
  QQmlComponent counter(&engine);
  counter.setData("import QtQml\nQtObject { function formatCount(n) { return Number(n).toLocaleString(Qt.locale(\"en_US\"), \"f\", 0) } }",
                  QUrl());
  std::unique_ptr<QObject> hub(counter.create());
  QQuickView tab(&engine, nullptr);
  tab.setInitialProperties({{"photos", QVariant::fromValue<QObject*>(&photos)},
                            {"hub", QVariant::fromValue<QObject*>(hub.get())}});
  tab.setResizeMode(QQuickView::SizeRootObjectToView);
  tab.resize(390, 844);
  tab.setSource(QUrl(QStringLiteral("qrc:/lumenvale/qml/PhotosTab.qml")));
  if (tab.status() != QQuickView::Ready) {
    for (const QQmlError& error : tab.errors()) std::fprintf(stderr, "%s\n", qPrintable(error.toString()));
    return 1;
  }
  tab.show();
  while (photos.loading()) QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  QQuickItem* grid = tab.rootObject()->findChild<QQuickItem*>(QStringLiteral("grid"));
  report("Photos tab, 50,000 assets", frames(tab, grid, kStep));

  QQuickView plain(&engine, nullptr);
  plain.setResizeMode(QQuickView::SizeRootObjectToView);
  plain.resize(390, 844);
  plain.setInitialProperties({{"count", kAssets}});
  plain.setSource(QUrl(QStringLiteral("qrc:/bench/PlainGrid.qml")));
  if (plain.status() != QQuickView::Ready) {
    for (const QQmlError& error : plain.errors()) std::fprintf(stderr, "%s\n", qPrintable(error.toString()));
    return 1;
  }
  plain.show();
  report("plain GridView, 50,000 pictures", frames(plain, plain.rootObject(), kStep));
  return 0;
}
