// An icon centred on a rounded square ground.
import QtQuick
import Lumenvale.Core

Rectangle {
    id: well
    required property string icon
    property color ground: Theme.colours.surface2
    property color ink: Theme.colours.ink
    property real size: 44
    property real iconSize: 22

    width: size
    height: size
    radius: 14
    color: ground

    Icon {
        anchors.centerIn: parent
        name: well.icon
        colour: well.ink
        size: well.iconSize
    }
}
