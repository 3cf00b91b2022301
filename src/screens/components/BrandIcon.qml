// One of the brand's own drawings ("mark", "wordmark") at `size` points
// high; a wide drawing keeps its shape. The wordmark's letters are drawn in
// `ink`.
import QtQuick
import Lumenvale.Core

Image {
    id: brand
    required property string name
    property real size: 32
    property color ink: Theme.colours.ink

    height: size
    width: implicitWidth > 0 && implicitHeight > 0 ? implicitWidth * size / implicitHeight : size
    sourceSize.height: Math.ceil(size * Screen.devicePixelRatio)
    source: name.length > 0 ? "image://icon/brand-" + name + "/" + ink.toString().replace("#", "") : ""
    fillMode: Image.PreserveAspectFit
    smooth: true
}
