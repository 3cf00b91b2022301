#include "screens/texts.h"

#include <QTranslator>

namespace lumenvale {

bool installTexts(QCoreApplication& application) {
  static QTranslator english;
  static const bool loaded = english.load(QStringLiteral(":/lumenvale/i18n/lumenvale_en.qm"));
  return loaded && application.installTranslator(&english);
}

}  // namespace lumenvale
