// Pictures cut to rounded corners for the screens. A picture id may end in
// "/<w>x<h>r<radius>" (device pixels): the picture is then cropped to fill
// w x h, centred, scaled to it, and its corners made transparent beyond the
// radius. Cut here rather than masked on screen, so that every renderer
// (software and offscreen included) draws the corners round.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <optional>

namespace lumenvale::RoundedPicture {

struct Cut {
  QSize size;
  int radius = 0;
  bool operator==(const Cut&) const = default;
};

// cutOf reads "<w>x<h>r<radius>": sides 1 to 4096, a radius of at most half
// the shorter side. Anything else is no cut.
std::optional<Cut> cutOf(const QString& part);

// cut crops `picture` to fill `cut.size` and rounds its corners; a null
// picture stays null.
QImage cut(const QImage& picture, const Cut& cut);

}  // namespace lumenvale::RoundedPicture
