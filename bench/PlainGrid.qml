// The simplest grid of the same pictures, to measure the Photos tab against.
import QtQuick

GridView {
    required property int count
    model: count
    cellWidth: width / 3
    cellHeight: width / 3
    cacheBuffer: 800
    reuseItems: true
    delegate: Image {
        required property int index
        width: GridView.view.cellWidth - 3
        height: width
        source: "image://thumb/sample" + index + "/256/fill"
        sourceSize.width: 256
        sourceSize.height: 256
        fillMode: Image.PreserveAspectCrop
        asynchronous: true
    }
}
