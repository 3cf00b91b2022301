// One tile of the month grid: the picture filling a square, a mark that
// says whether a laptop holds it safely, and a video's length.
import QtQuick
import QtQuick.Templates as T
import Lumenvale.Core
import "../components"

T.AbstractButton {
    id: tile
    required property string assetId
    property bool safe: false
    property string badge: ""
    property real size: 120

    implicitWidth: size
    implicitHeight: size
    Accessible.name: qsTrId(safe ? "photo.safe.mark" : "photo.not.mark")

    background: Rectangle {
        color: Theme.colours.surface2  // stays when the picture is missing
        clip: true
        Image {
            anchors.fill: parent
            source: tile.assetId.length > 0 ? "image://thumb/" + tile.assetId + "/256/fill" : ""
            sourceSize.width: 256
            sourceSize.height: 256
            fillMode: Image.PreserveAspectCrop
            asynchronous: true
        }
    }
    contentItem: Item {
        // Safe: a tick on lime. Not yet: an empty ring on a dark disc, told
        // apart by its shape as well as its colour.
        Rectangle {
            objectName: "safeMark"
            readonly property string shape: tile.safe ? "check" : "notSafe"
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.margins: 6
            width: 22
            height: 22
            radius: 11
            color: tile.safe ? Theme.colours.lime : Theme.colours.scrim
            Icon {
                anchors.centerIn: parent
                name: parent.shape
                colour: tile.safe ? Theme.colours.onLime : Theme.colours.white
                size: 14
            }
        }
        Rectangle {
            objectName: "badge"
            visible: tile.badge.length > 0
            anchors.left: parent.left
            anchors.bottom: parent.bottom
            anchors.margins: 6
            width: badgeRow.width + 12
            height: 22
            radius: 11
            color: Theme.colours.scrim
            Row {
                id: badgeRow
                anchors.centerIn: parent
                spacing: 3
                Icon {
                    anchors.verticalCenter: parent.verticalCenter
                    name: "play"
                    colour: Theme.colours.white
                    size: 10
                }
                LumenvaleText {
                    anchors.verticalCenter: parent.verticalCenter
                    text: tile.badge
                    color: Theme.colours.white
                    size: 11
                    lineHeightPoints: 14
                    weight: 600
                    wrapMode: Text.NoWrap
                }
            }
        }
    }
}
