// One of the shipped icons, drawn in `colour` at `size` points.
import QtQuick

Image {
    id: icon
    required property string name
    property color colour: "black"
    property real size: 20

    width: size
    height: size
    sourceSize.width: Math.ceil(size * Screen.devicePixelRatio)
    sourceSize.height: Math.ceil(size * Screen.devicePixelRatio)
    // The colour as hex without "#" ("aarrggbb" keeps the opacity); a new
    // colour is a new image.
    source: name.length > 0 ? "image://icon/" + name + "/" + colour.toString().replace("#", "") : ""
    fillMode: Image.PreserveAspectFit
    smooth: true
}
