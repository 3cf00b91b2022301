// The ring drawn around the control that has the keyboard's focus (moved
// there with Tab), 3 points outside its edge; nothing for a tap.
import QtQuick
import Lumenvale.Core

Rectangle {
    property bool shown: false
    property real around: 0  // the control's own corner radius
    anchors.fill: parent
    anchors.margins: -3
    radius: around + 3
    color: "transparent"
    border.width: 2
    border.color: Theme.colours.limeStrong
    visible: shown
}
