// One asset on the whole screen: the picture, a way back, when it was
// taken, its size, and which laptops hold it safely. `asset` is the Photos
// model's description of it: {id, date, width, height, safeOn}. Escape
// and Back close it; the arrow keys ask for the photo before or after.
import QtQuick
import Lumenvale.Core
import "../components"

Rectangle {
    id: viewer
    required property var asset
    signal close()
    signal step(int by)

    readonly property var holders: asset && asset.safeOn ? asset.safeOn : []
    readonly property bool sized: asset && asset.width >= 1 && asset.height >= 1

    color: Theme.colours.black
    focus: true
    Component.onCompleted: forceActiveFocus()
    Keys.onEscapePressed: viewer.close()
    Keys.onBackPressed: viewer.close()
    Keys.onLeftPressed: viewer.step(-1)
    Keys.onRightPressed: viewer.step(1)

    Image {
        objectName: "picture"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.bottom: details.top
        anchors.bottomMargin: 16
        source: viewer.asset && viewer.asset.id ? "image://thumb/" + viewer.asset.id + "/1600" : ""
        sourceSize.width: 1600
        sourceSize.height: 1600
        fillMode: Image.PreserveAspectFit
        asynchronous: true
    }

    RoundButton {
        objectName: "back"
        x: 16
        y: 16
        iconName: "back"
        label: qsTrId("photos.back")
        ground: "#66000000"
        ink: Theme.colours.white
        onClicked: viewer.close()
    }

    Column {
        id: details
        x: 16
        width: parent.width - 32
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 24
        spacing: 12

        LumenvaleText {
            objectName: "dateLine"
            width: parent.width
            text: viewer.asset && viewer.asset.date ? viewer.asset.date : ""
            color: Theme.colours.white
            size: 17
            lineHeightPoints: 22
            weight: 500
        }
        LumenvaleText {
            objectName: "sizeLine"
            width: parent.width
            visible: viewer.sized
            text: viewer.sized ? qsTrId("photo.size").arg(viewer.asset.width).arg(viewer.asset.height) : ""
            color: "#B3FFFFFF"
            size: 13
            lineHeightPoints: 18
        }
        LumenvaleCard {
            objectName: "safeCard"
            width: parent.width
            tone: viewer.holders.length > 0 ? "safe" : "surface"
            Row {
                width: parent.width
                spacing: 12
                IconWell {
                    icon: viewer.holders.length > 0 ? "shield" : "info"
                    ground: viewer.holders.length > 0 ? Theme.colours.lime : Theme.colours.surface2
                    ink: viewer.holders.length > 0 ? Theme.colours.onLime : Theme.colours.ink
                    size: 40
                    iconSize: 20
                }
                Column {
                    width: parent.width - 52
                    spacing: 4
                    anchors.verticalCenter: parent.verticalCenter
                    LumenvaleText {
                        objectName: "safeTitle"
                        width: parent.width
                        text: qsTrId(viewer.holders.length > 0 ? "photo.safe.title" : "photo.not.title")
                        color: Theme.colours.ink
                        size: 15
                        lineHeightPoints: 20
                        weight: 600
                    }
                    LumenvaleText {
                        objectName: "safeBody"
                        width: parent.width
                        text: viewer.holders.length > 0 ? qsTrId("photo.safe.body").arg(viewer.holders.join(", "))
                                                        : qsTrId("photo.not.body")
                        color: Theme.colours.ink2
                        size: 13
                        lineHeightPoints: 18
                    }
                }
            }
        }
    }
}
