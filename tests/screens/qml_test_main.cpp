// Runs the Qt Quick tests of the design system and the screens, offscreen,
// with the app's fonts, icons and theme set up as the app sets them up.
#include <QtQuickTest>

#include <QQmlEngine>

#include <QCoreApplication>

#include "screens/qml_setup.h"
#include "screens/texts.h"
#include "screens/theme.h"

class Setup : public QObject {
  Q_OBJECT

 public slots:
  void qmlEngineAvailable(QQmlEngine* engine) {
    if (!lumenvale::installTexts(*QCoreApplication::instance())) qFatal("The English texts did not load.");
    static lumenvale::Theme theme;
    lumenvale::setUpQml(*engine, theme, nullptr);
  }
};

QUICK_TEST_MAIN_WITH_SETUP(lumenvale_screens, Setup)

#include "qml_test_main.moc"
