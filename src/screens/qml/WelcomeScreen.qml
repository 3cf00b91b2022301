// The first screen of the first launch: what Lumenvale does, and a button
// to start.
import QtQuick
import Lumenvale.Core
import "../components"

Rectangle {
    id: screen
    signal start()

    color: Theme.colours.bg

    Column {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        anchors.margins: 24
        spacing: 20

        BrandIcon {
            name: "mark"
            size: 72
        }
        LumenvaleText {
            objectName: "appName"
            text: qsTrId("app.name")
            color: Theme.colours.muted
            size: 13
            lineHeightPoints: 18
            weight: 500
            tracking: 1.2
            uppercase: true
        }
        Headline {
            width: parent.width
            plain: qsTrId("welcome.headline")
            accent: qsTrId("welcome.headline.accent")
        }
        LumenvaleText {
            width: parent.width
            text: qsTrId("welcome.body")
            color: Theme.colours.ink2
            size: 15
            lineHeightPoints: 22
        }
        LumenvaleButton {
            objectName: "start"
            text: qsTrId("welcome.start")
            wide: true
            large: true
            arrow: true
            onClicked: screen.start()
        }
    }
}
