// A choice among a few: filled when on.
import QtQuick
import Lumenvale.Core

Rectangle {
    id: chip
    required property string text
    property bool on: false
    signal clicked()

    implicitWidth: label.implicitWidth + 28
    implicitHeight: 36
    radius: height / 2
    color: on ? Theme.colours.pillDark : Theme.colours.surface
    border.width: on ? 0 : 1
    border.color: Theme.colours.line

    LumenvaleText {
        id: label
        anchors.centerIn: parent
        text: chip.text
        color: chip.on ? Theme.colours.onDark : Theme.colours.ink
        size: 13
        lineHeightPoints: 18
        weight: 500
        wrapMode: Text.NoWrap
    }
    // A finger needs 44 points: the tap reaches 4 beyond the 36 drawn.
    TapHandler {
        margin: 4
        onTapped: chip.clicked()
    }
    activeFocusOnTab: true
    Accessible.role: Accessible.Button
    Accessible.name: chip.text
    Accessible.checked: chip.on
    Keys.onSpacePressed: chip.clicked()
    Keys.onReturnPressed: chip.clicked()
    Keys.onEnterPressed: chip.clicked()
    FocusRing { shown: chip.activeFocus; around: chip.radius }
}
