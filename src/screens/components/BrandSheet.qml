// A sheet that rises from the bottom over a scrim: a rounded top with a
// handle, its content stacked inside 20 points of padding. Tapping the
// scrim asks to dismiss it.
import QtQuick
import Lumenvale.Core

Item {
    id: sheet
    default property alias content: stack.data
    signal dismiss()

    anchors.fill: parent

    Rectangle {
        objectName: "scrim"
        anchors.fill: parent
        color: Theme.colours.scrim
        MouseArea {
            anchors.fill: parent
            onClicked: sheet.dismiss()
        }
    }
    Rectangle {
        objectName: "panel"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: Math.min(parent.height - 40, stack.implicitHeight + 56)
        radius: 28
        color: Theme.colours.bg
        // Square corners at the bottom edge, under the rounded top.
        Rectangle {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            height: parent.radius
            color: parent.color
        }
        // Taps on the panel stay on the panel.
        MouseArea {
            anchors.fill: parent
        }
        Rectangle {
            anchors.horizontalCenter: parent.horizontalCenter
            y: 10
            width: 36
            height: 5
            radius: 2.5
            color: Theme.colours.line
        }
        Column {
            id: stack
            x: 20
            y: 32
            width: parent.width - 40
            spacing: 12
        }
    }
}
