#include "screens/texts.h"

#include <QTranslator>
#include <algorithm>
#include <limits>

#include "screens/home_rules.h"
#include "util/format.h"

namespace lumenvale {

bool installTexts(QCoreApplication& application) {
  static QTranslator english;
  static const bool loaded = english.load(QStringLiteral(":/lumenvale/i18n/lumenvale_en.qm"));
  return loaded && application.installTranslator(&english);
}

QString counted(const char* key, qint64 count) {
  // The plural form is picked by the count; the count itself is written as
  // the rest of the app writes counts, not as the locale's %n would.
  return qtTrId(key, static_cast<int>(std::min<qint64>(count, std::numeric_limits<int>::max())))
      .arg(QString::fromStdString(Format::count(count)));
}

QString Words::counted(const QString& key, qint64 count) const {
  return lumenvale::counted(key.toUtf8().constData(), count);
}

QVariantMap Words::hero(const QString& heroCase, bool isCounted, qint64 safe, qint64 all) const {
  std::optional<std::pair<std::int64_t, std::int64_t>> counts;
  if (isCounted) counts = std::pair<std::int64_t, std::int64_t>{safe, all};
  const HomeRules::HeroTexts texts = HomeRules::heroTexts(heroCase.toStdString(), counts);
  const auto look = [](const std::string& key) { return key.empty() ? QString() : qtTrId(key.c_str()); };
  return {{"eyebrow", look(texts.eyebrow)},
          {"icon", QString::fromStdString(texts.icon)},
          {"tone", QString::fromStdString(texts.tone)},
          {"state", look(texts.state)},
          {"live", texts.live},
          {"headline", look(texts.headline)},
          {"accent", look(texts.accent)}};
}

}  // namespace lumenvale
