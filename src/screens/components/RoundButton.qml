// A round icon button with its label for those who cannot see the icon.
import QtQuick
import QtQuick.Templates as T
import Lumenvale.Core

T.Button {
    id: button
    required property string iconName  // "icon" is the button template's own
    property string label: ""
    property color ground: Theme.colours.surface
    property color ink: Theme.colours.ink
    property real size: 44

    implicitWidth: size
    implicitHeight: size
    Accessible.name: label
    opacity: enabled ? 1 : 0.4
    focusPolicy: Qt.StrongFocus
    Keys.onReturnPressed: button.clicked()
    Keys.onEnterPressed: button.clicked()

    background: Rectangle {
        radius: width / 2
        color: button.down ? Qt.darker(button.ground, 1.08) : button.ground
        FocusRing { shown: button.visualFocus; around: parent.radius }
    }
    contentItem: Item {
        Icon {
            anchors.centerIn: parent
            name: button.iconName
            colour: button.ink
            size: button.size * 0.45
        }
    }
}
