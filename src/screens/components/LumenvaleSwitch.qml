// A labelled switch with its description; `toggled(on)` tells a change.
import QtQuick
import Lumenvale.Core

Item {
    id: control
    property bool on: false
    property string label: ""
    property string description: ""
    signal toggled(bool on)

    implicitWidth: 300
    implicitHeight: Math.max(44, track.height, texts.implicitHeight)  // 44: a finger's reach

    Column {
        id: texts
        anchors.left: parent.left
        anchors.right: track.left
        anchors.rightMargin: 12
        spacing: 4
        LumenvaleText {
            width: parent.width
            text: control.label
            size: 15
            lineHeightPoints: 20
            weight: 500
        }
        LumenvaleText {
            width: parent.width
            visible: control.description.length > 0
            text: control.description
            color: Theme.colours.muted
            size: 13
            lineHeightPoints: 18
        }
    }
    Rectangle {
        id: track
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        width: 52
        height: 32
        radius: 16
        objectName: "track"
        // Off is drawn in `muted`, which stands out from every card ground
        // in both themes; the paler greys vanish into a light card.
        color: control.on ? Theme.colours.lime : Theme.colours.muted
        Rectangle {
            width: 26
            height: 26
            radius: 13
            y: 3
            x: control.on ? parent.width - width - 3 : 3
            color: Theme.colours.white
            Behavior on x { NumberAnimation { duration: 120 } }
        }
    }
    TapHandler {
        onTapped: control.toggled(!control.on)
    }
    activeFocusOnTab: true
    Accessible.role: Accessible.CheckBox
    Accessible.name: control.label
    Accessible.checked: control.on
    Keys.onSpacePressed: control.toggled(!control.on)
    Keys.onReturnPressed: control.toggled(!control.on)
    Keys.onEnterPressed: control.toggled(!control.on)
    FocusRing { shown: control.activeFocus; around: 12 }
}
