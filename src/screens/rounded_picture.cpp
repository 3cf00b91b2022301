#include "screens/rounded_picture.h"

#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>

namespace lumenvale::RoundedPicture {

std::optional<Cut> cutOf(const QString& part) {
  static const QRegularExpression shape(QStringLiteral("^([0-9]{1,4})x([0-9]{1,4})r([0-9]{1,4})$"));
  const QRegularExpressionMatch match = shape.match(part);
  if (!match.hasMatch()) return std::nullopt;
  const int width = match.captured(1).toInt();
  const int height = match.captured(2).toInt();
  const int radius = match.captured(3).toInt();
  if (width < 1 || height < 1 || width > 4096 || height > 4096) return std::nullopt;
  if (radius * 2 > std::min(width, height)) return std::nullopt;
  return Cut{QSize(width, height), radius};
}

QImage cut(const QImage& picture, const Cut& cut) {
  if (picture.isNull()) return {};
  const QImage filled = picture.scaled(cut.size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
  const QRect middle((filled.width() - cut.size.width()) / 2, (filled.height() - cut.size.height()) / 2,
                     cut.size.width(), cut.size.height());
  QImage shaped(cut.size, QImage::Format_ARGB32_Premultiplied);
  shaped.fill(Qt::transparent);
  QPainter painter(&shaped);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath outline;
  outline.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(cut.size)), cut.radius, cut.radius);
  painter.setClipPath(outline);
  painter.drawImage(QPoint(0, 0), filled, middle);
  painter.end();
  return shaped;
}

}  // namespace lumenvale::RoundedPicture
