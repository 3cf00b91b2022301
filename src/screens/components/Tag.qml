// A small label on a capsule, with an optional icon: tones lime, dark,
// soft, card and warn.
import QtQuick
import Lumenvale.Core

Rectangle {
    id: tag
    required property string text
    property string tone: "lime"
    property string icon: ""

    readonly property color ground: tone === "dark" ? Theme.colours.pillDark
                                  : tone === "soft" ? Theme.colours.surface
                                  : tone === "card" ? Theme.colours.surface2
                                  : tone === "warn" ? Theme.colours.warn
                                  : Theme.colours.lime
    readonly property color ink: tone === "dark" ? Theme.colours.onDark
                               : tone === "soft" || tone === "card" ? Theme.colours.ink2
                               : tone === "warn" ? Theme.colours.onWarn
                               : Theme.colours.onLime

    implicitWidth: row.implicitWidth + 20
    implicitHeight: row.implicitHeight + 8
    radius: height / 2
    color: ground

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 6
        Icon {
            visible: tag.icon.length > 0
            name: tag.icon
            colour: tag.ink
            size: 14
            anchors.verticalCenter: parent.verticalCenter
        }
        LumenvaleText {
            text: tag.text
            color: tag.ink
            size: 12
            lineHeightPoints: 16
            weight: 500
            wrapMode: Text.NoWrap
            anchors.verticalCenter: parent.verticalCenter
        }
    }
}
