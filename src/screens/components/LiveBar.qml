// A bar that shows work under way without saying how much is left: its
// highlight sweeps across once every 1.3 seconds, placed by the time since
// `since` (so every live bar on screen moves together).
import QtQuick
import Lumenvale.Core

Rectangle {
    id: bar
    property date since: new Date(0)
    property real now: Date.now()
    readonly property real sweep: ((now - since.getTime()) % 1300) / 1300

    implicitWidth: 200
    implicitHeight: 4
    radius: height / 2
    color: Theme.colours.surface2
    clip: true

    Rectangle {
        objectName: "highlight"
        width: bar.width * 0.3
        height: bar.height
        radius: bar.radius
        x: -width + (bar.width + width) * bar.sweep
        color: Theme.colours.lime
    }
    FrameAnimation {
        running: bar.visible
        onTriggered: bar.now = Date.now()
    }
}
