// The design's button: variants lime, dark, ghost (outlined) and danger;
// `large`, `small`, `wide` (the full width), `arrow` (an arrow after the
// label) and `iconName` (an icon before it).
import QtQuick
import QtQuick.Templates as T
import Lumenvale.Core

T.Button {
    id: button
    property string variant: "lime"
    property bool large: false
    property bool small: false
    property bool wide: false
    property bool arrow: false
    property string iconName: ""  // "icon" is the button template's own

    readonly property color ground: variant === "dark" ? Theme.colours.pillDark
                                  : variant === "ghost" ? Theme.colours.bg
                                  : variant === "danger" ? Theme.colours.dangerFill
                                  : Theme.colours.lime
    readonly property color ink: variant === "dark" ? Theme.colours.onDark
                               : variant === "ghost" ? Theme.colours.ink
                               : variant === "danger" ? Theme.colours.onDanger
                               : Theme.colours.onLime

    implicitWidth: wide && parent ? parent.width : contentItem.implicitWidth + (small ? 28 : 40)
    // A small button is drawn 36 high but takes taps over 44, what a
    // finger needs.
    implicitHeight: small ? 44 : large ? 56 : 48
    topInset: small ? 4 : 0
    bottomInset: topInset
    opacity: enabled ? 1 : 0.4
    // Tab reaches it; Space (the template's own), Enter and Return press it.
    focusPolicy: Qt.StrongFocus
    Keys.onReturnPressed: button.clicked()
    Keys.onEnterPressed: button.clicked()

    background: Rectangle {
        radius: height / 2
        color: button.down ? Qt.darker(button.ground, 1.08) : button.ground
        border.width: button.variant === "ghost" ? 1 : 0
        border.color: Theme.colours.line
        FocusRing { shown: button.visualFocus; around: parent.radius }
    }
    contentItem: Row {
        spacing: 8
        Icon {
            visible: button.iconName.length > 0
            anchors.verticalCenter: parent.verticalCenter
            name: button.iconName
            colour: button.ink
            size: button.small ? 16 : 18
        }
        LumenvaleText {
            id: label
            anchors.verticalCenter: parent.verticalCenter
            text: button.text
            color: button.ink
            size: button.small ? 13 : 15
            lineHeightPoints: button.small ? 18 : 20
            weight: 500
            wrapMode: Text.NoWrap
        }
        Icon {
            visible: button.arrow
            anchors.verticalCenter: parent.verticalCenter
            name: "arrow"
            colour: button.ink
            size: 18
        }
    }
    // The label and its arrow sit in the middle, however wide the button.
    leftPadding: (width - contentItem.implicitWidth) / 2
    rightPadding: leftPadding
    topPadding: (height - contentItem.implicitHeight) / 2
    bottomPadding: topPadding
}
