// Runs the Qt Quick tests of the design system and the screens, offscreen,
// with the app's fonts, icons and theme set up as the app sets them up.
#include <QtQuickTest>

#include <QQmlEngine>

#include <QCoreApplication>

#include <QQmlContext>

#include "screens/photos_model.h"
#include "screens/qml_setup.h"
#include "screens/samples.h"
#include "screens/texts.h"
#include "screens/theme.h"

// Photos models over sample assets for the Photos tab's tests:
// `samples.photos(count, safeEvery, failAfter)` makes one whose every
// `safeEvery`-th asset is safe (none when 0) and whose pages after
// `failAfter` fail (never when negative). The pictures are drawn.
class SampleFactory : public QObject {
  Q_OBJECT

 public:
  Q_INVOKABLE QObject* photos(int count, int safeEvery, int failAfter) {
    auto* model = new lumenvale::PhotosModel(lumenvale::Samples::photos(
        lumenvale::Samples::assets(count),
        [safeEvery](std::size_t i) { return safeEvery > 0 && i % static_cast<std::size_t>(safeEvery) == 0; },
        failAfter));
    QQmlEngine::setObjectOwnership(model, QQmlEngine::JavaScriptOwnership);
    return model;
  }
};

class Setup : public QObject {
  Q_OBJECT

 public slots:
  void qmlEngineAvailable(QQmlEngine* engine) {
    if (!lumenvale::installTexts(*QCoreApplication::instance())) qFatal("The English texts did not load.");
    static lumenvale::Theme theme;
    lumenvale::setUpQml(*engine, theme, nullptr);
    static SampleFactory samples;
    engine->rootContext()->setContextProperty(QStringLiteral("samples"), &samples);
    engine->addImageProvider(QStringLiteral("thumb"), new lumenvale::Samples::Pictures);
  }
};

QUICK_TEST_MAIN_WITH_SETUP(lumenvale_screens, Setup)

#include "qml_test_main.moc"
