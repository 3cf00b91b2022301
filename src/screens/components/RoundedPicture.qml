// An asset's picture filling its box with round corners: the picture
// provider crops it to the box and cuts the corners, at the screen's
// pixel density, so that nothing square shows past the radius.
import QtQuick
import QtQuick.Window

Image {
    id: picture
    property string assetId: ""
    property int px: 256      // the size asked of the library
    property real radius: 0
    readonly property real density: Screen.devicePixelRatio > 0 ? Screen.devicePixelRatio : 1
    readonly property int cutWidth: Math.round(width * density)
    readonly property int cutHeight: Math.round(height * density)

    fillMode: Image.Stretch
    asynchronous: true
    source: assetId.length > 0 && cutWidth > 0 && cutHeight > 0
            ? "image://thumb/" + assetId + "/" + px + "/fill/" + cutWidth + "x" + cutHeight + "r"
              + Math.min(Math.round(radius * density), Math.floor(Math.min(cutWidth, cutHeight) / 2))
            : ""
}
