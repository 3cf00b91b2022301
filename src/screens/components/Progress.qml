// A bar filled to `fraction` (0 to 1; anything outside is clamped).
import QtQuick
import Lumenvale.Core

Rectangle {
    id: bar
    property real fraction: 0
    readonly property real shown: Math.max(0, Math.min(1, isNaN(fraction) ? 0 : fraction))

    implicitWidth: 200
    implicitHeight: 6
    radius: height / 2
    color: Theme.colours.surface2

    Rectangle {
        width: parent.width * bar.shown
        height: parent.height
        radius: parent.radius
        color: Theme.colours.lime
    }
}
