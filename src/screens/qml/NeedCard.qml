// One thing the app needs: an icon, what it is, why, and what the owner
// can do about it now (the trailing item).
import QtQuick
import Lumenvale.Core
import "../components"

LumenvaleCard {
    id: card
    required property string icon
    required property string title
    required property string description
    property alias trailing: trailingSlot.data

    tone: "surface"

    Item {
        width: parent.width
        height: Math.max(well.height, texts.implicitHeight, trailingSlot.implicitHeight)
        IconWell {
            id: well
            icon: card.icon
            anchors.verticalCenter: parent.verticalCenter
        }
        Column {
            id: texts
            anchors.left: well.right
            anchors.leftMargin: 12
            anchors.right: trailingSlot.left
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            spacing: 8
            LumenvaleText {
                width: parent.width
                text: card.title
                size: 15
                lineHeightPoints: 20
                weight: 500
            }
            LumenvaleText {
                width: parent.width
                text: card.description
                color: Theme.colours.ink2
                size: 13
                lineHeightPoints: 18
            }
        }
        // A row lays out only the items that show.
        Row {
            id: trailingSlot
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
        }
    }
}
