// A card: its content stacked 8 points apart inside 16 points of padding,
// on a rounded ground: `surface`, `outline` (the page's ground with a
// 1-point line) or `safe` (soft lime).
import QtQuick
import Lumenvale.Core

Rectangle {
    id: card
    property string tone: "surface"
    default property alias content: stack.data

    implicitHeight: stack.implicitHeight + 32
    radius: 24
    color: tone === "outline" ? Theme.colours.bg : tone === "safe" ? Theme.colours.limeSoft : Theme.colours.surface
    border.width: tone === "outline" ? 1 : 0
    border.color: Theme.colours.line

    Column {
        id: stack
        anchors.fill: parent
        anchors.margins: 16
        spacing: 8
    }
}
