// A ring drawn to `fraction` of a full turn from the top, clockwise, with
// a text in its middle (the pairing countdown).
import QtQuick
import QtQuick.Shapes
import Lumenvale.Core

Item {
    id: ring
    property real fraction: 0
    property string text: ""
    property real thickness: 4
    property color ink: Theme.colours.ink       // the text's colour
    property color track: Theme.colours.surface2  // the part not yet drawn
    readonly property real shown: Math.max(0, Math.min(1, isNaN(fraction) ? 0 : fraction))

    implicitWidth: 56
    implicitHeight: 56

    Shape {
        anchors.fill: parent
        antialiasing: true
        layer.enabled: true
        layer.samples: 4
        ShapePath {
            strokeColor: ring.track
            strokeWidth: ring.thickness
            fillColor: "transparent"
            PathAngleArc {
                centerX: ring.width / 2
                centerY: ring.height / 2
                radiusX: (ring.width - ring.thickness) / 2
                radiusY: radiusX
                startAngle: 0
                sweepAngle: 360
            }
        }
        ShapePath {
            strokeColor: Theme.colours.lime
            strokeWidth: ring.thickness
            fillColor: "transparent"
            capStyle: ShapePath.RoundCap
            PathAngleArc {
                centerX: ring.width / 2
                centerY: ring.height / 2
                radiusX: (ring.width - ring.thickness) / 2
                radiusY: radiusX
                startAngle: -90
                sweepAngle: 360 * ring.shown
            }
        }
    }
    LumenvaleText {
        objectName: "ringText"
        anchors.centerIn: parent
        text: ring.text
        color: ring.ink
        size: 13
        lineHeightPoints: 16
        weight: 500
        wrapMode: Text.NoWrap
    }
}
