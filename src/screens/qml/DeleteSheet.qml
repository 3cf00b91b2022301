// The question a laptop's delete request puts to the owner: who asks, how
// many, the first pictures, when they were taken, and the two answers.
// `sheet` is the delete sheet's model (thumbIds, fromText, dateLine, and
// the title and button that name what is asked).
import QtQuick
import Lumenvale.Core
import "../components"

BrandSheet {
    id: root
    required property var sheet
    signal yes()
    signal no()

    // A stray tap beside the sheet answers nothing; Escape and Back keep
    // the photos, as "Keep them" does.
    scrimDismisses: false
    onDismiss: root.no()

    Tag {
        objectName: "from"
        text: root.sheet.fromText
        tone: "dark"
        icon: "laptop"
    }
    LumenvaleText {
        objectName: "title"
        width: parent.width
        text: root.sheet.title
        size: 24
        lineHeightPoints: 30
        weight: 600
    }
    LumenvaleText {
        width: parent.width
        text: qsTrId("delete.ask.body")
        color: Theme.colours.ink2
        size: 15
        lineHeightPoints: 21
    }
    ListView {
        objectName: "strip"
        width: parent.width
        height: 56
        orientation: ListView.Horizontal
        spacing: 4
        clip: true
        interactive: contentWidth > width
        model: root.sheet.thumbIds
        delegate: Rectangle {
            required property string modelData
            width: 56
            height: 56
            radius: 8
            color: Theme.colours.surface2
            RoundedPicture {
                anchors.fill: parent
                assetId: parent.modelData
                px: 160
                radius: parent.radius
            }
        }
    }
    Row {
        objectName: "dates"
        visible: root.sheet.dateLine.length > 0
        spacing: 8
        Icon {
            anchors.verticalCenter: parent.verticalCenter
            name: "shield"
            colour: Theme.colours.ink2
            size: 16
        }
        LumenvaleText {
            objectName: "dateLine"
            anchors.verticalCenter: parent.verticalCenter
            text: root.sheet.dateLine
            color: Theme.colours.ink2
            size: 13
            lineHeightPoints: 18
        }
    }
    LumenvaleText {
        width: parent.width
        text: qsTrId("delete.ask.next")
        color: Theme.colours.muted
        size: 13
        lineHeightPoints: 18
    }
    LumenvaleButton {
        objectName: "confirm"
        wide: true
        variant: "danger"
        text: root.sheet.confirm
        onClicked: root.yes()
    }
    LumenvaleButton {
        objectName: "keep"
        wide: true
        variant: "ghost"
        text: qsTrId("delete.ask.keep")
        onClicked: root.no()
    }
}
