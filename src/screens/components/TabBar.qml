// The bottom tab bar: one item per tab (value, label, icon); `chosen`
// tells the value tapped.
import QtQuick
import Lumenvale.Core

Rectangle {
    id: bar
    required property var tabs   // [{ value, label, icon }]
    property string value: ""
    signal chosen(string value)

    implicitHeight: 64
    radius: 32
    // Opaque: without a blur behind it (which Qt Quick 6.4 cannot draw),
    // see-through glass let the page's text run through the labels.
    color: Theme.colours.bg
    border.width: 1
    border.color: Theme.colours.line

    Row {
        anchors.fill: parent
        anchors.margins: 6
        Repeater {
            model: bar.tabs
            delegate: Rectangle {
                id: item
                required property var modelData
                readonly property bool selected: modelData.value === bar.value
                width: (bar.width - 12) / bar.tabs.length
                height: parent.height
                radius: height / 2
                color: selected ? Theme.colours.pillDark : "transparent"
                Column {
                    anchors.centerIn: parent
                    spacing: 2
                    Icon {
                        anchors.horizontalCenter: parent.horizontalCenter
                        name: item.modelData.icon
                        colour: item.selected ? Theme.colours.onDark : Theme.colours.ink2
                        size: 20
                    }
                    LumenvaleText {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: item.modelData.label
                        color: item.selected ? Theme.colours.onDark : Theme.colours.ink2
                        size: 11
                        lineHeightPoints: 14
                        weight: 500
                        wrapMode: Text.NoWrap
                    }
                }
                TapHandler {
                    onTapped: bar.chosen(item.modelData.value)
                }
                activeFocusOnTab: true
                Accessible.role: Accessible.PageTab
                Accessible.name: item.modelData.label
                Accessible.selected: item.selected
                Keys.onSpacePressed: bar.chosen(item.modelData.value)
                Keys.onReturnPressed: bar.chosen(item.modelData.value)
                Keys.onEnterPressed: bar.chosen(item.modelData.value)
                FocusRing { shown: item.activeFocus; around: item.radius; anchors.margins: 0 }
            }
        }
    }
}
