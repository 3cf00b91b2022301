// A sheet that rises from the bottom over a scrim: a rounded top with a
// handle, its content stacked inside 20 points of padding. Content taller
// than the window scrolls (a phone on its side), so that every answer can
// be reached. Tapping the scrim, Escape and Back ask to dismiss it; while
// shown it holds the keyboard focus.
import QtQuick
import Lumenvale.Core

FocusScope {
    id: sheet
    default property alias content: stack.data
    // Whether a tap on the scrim asks to dismiss (Escape and Back always do).
    property bool scrimDismisses: true
    signal dismiss()

    anchors.fill: parent
    focus: visible
    Keys.onEscapePressed: sheet.dismiss()
    Keys.onBackPressed: sheet.dismiss()
    onVisibleChanged: if (visible) forceActiveFocus()

    Rectangle {
        objectName: "scrim"
        anchors.fill: parent
        color: Theme.colours.scrim
        MouseArea {
            anchors.fill: parent
            onClicked: if (sheet.scrimDismisses) sheet.dismiss()
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
        Flickable {
            objectName: "sheetScroll"
            anchors.fill: parent
            anchors.topMargin: 24
            contentWidth: width
            contentHeight: stack.implicitHeight + 32
            interactive: contentHeight > height
            boundsBehavior: Flickable.StopAtBounds
            clip: true
            Column {
                id: stack
                x: 20
                y: 8
                width: parent.width - 40
                spacing: 12
            }
        }
    }
}
