// A notice: icon and texts side by side on a rounded ground, with an
// optional action. Tones info, success, warn and danger.
import QtQuick
import Lumenvale.Core

Rectangle {
    id: notice
    required property string title
    property string message: ""
    property string tone: "info"
    property string icon: "info"
    property string actionText: ""
    signal action()

    readonly property color accent: tone === "warn" ? Theme.colours.onWarn
                                  : tone === "danger" ? Theme.colours.danger
                                  : Theme.colours.limeStrong
    readonly property color titleInk: tone === "warn" ? Theme.colours.onWarn
                                    : tone === "danger" ? Theme.colours.danger
                                    : Theme.colours.ink
    readonly property color messageInk: tone === "warn" ? Theme.colours.onWarn
                                      : tone === "danger" ? Theme.colours.danger
                                      : Theme.colours.ink2

    implicitHeight: Math.max(iconItem.height, texts.implicitHeight) + 28
    radius: 18
    color: tone === "success" ? Theme.colours.limeSoft
         : tone === "warn" ? Theme.colours.warn
         : tone === "danger" ? Theme.colours.dangerSoft
         : Theme.colours.surface

    Icon {
        id: iconItem
        name: notice.icon
        colour: notice.accent
        size: 20
        x: 14
        y: 14
    }
    Column {
        id: texts
        x: iconItem.x + iconItem.width + 10
        y: 14
        width: notice.width - x - 14
        spacing: 4
        LumenvaleText {
            width: parent.width
            text: notice.title
            color: notice.titleInk
            size: 15
            lineHeightPoints: 20
            weight: 500
        }
        LumenvaleText {
            width: parent.width
            visible: notice.message.length > 0
            text: notice.message
            color: notice.messageInk
            size: 13
            lineHeightPoints: 18
        }
        LumenvaleButton {
            visible: notice.actionText.length > 0
            text: notice.actionText
            variant: "ghost"
            small: true
            onClicked: notice.action()
        }
    }
}
