// Renders the app's mark to the bitmap sizes an icon theme keeps beside the
// scalable one, for the launchers and shells that take only bitmaps:
//   render_icon MARK.svg THEME_FOLDER NAME SIZE...
// writes THEME_FOLDER/<size>x<size>/apps/NAME.png for each size.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: render_icon MARK.svg THEME_FOLDER NAME SIZE...\n");
    return 2;
  }
  QSvgRenderer mark(QString::fromLocal8Bit(argv[1]));
  if (!mark.isValid()) {
    std::fprintf(stderr, "render_icon: %s is not an SVG picture\n", argv[1]);
    return 1;
  }
  for (int i = 4; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size < 8 || size > 1024) {
      std::fprintf(stderr, "render_icon: %s is not a size from 8 to 1024\n", argv[i]);
      return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    mark.render(&painter);
    painter.end();
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
    const QString file = folder + "/" + QString::fromLocal8Bit(argv[3]) + ".png";
    if (!QDir().mkpath(folder) || !image.save(file, "PNG")) {
      std::fprintf(stderr, "render_icon: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
