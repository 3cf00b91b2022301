// What the app needs before it can serve: the photo folders and the
// network. The photos card's trailing item and the notice follow `access`;
// continuing needs access to at least some photos.
import QtQuick
import Lumenvale.Core
import "../components"

Rectangle {
    id: screen
    property string access: "notAsked"
    readonly property bool granted: access === "limited" || access === "full"
    signal allow()
    signal openSettings()
    signal continueOn()

    color: Theme.colours.bg

    Flickable {
        anchors.fill: parent
        contentHeight: column.height + 48
        Column {
            id: column
            x: 16
            y: 24
            width: parent.width - 32
            spacing: 16

            Tag {
                text: qsTrId("perms.eyebrow")
                tone: "lime"
                icon: "lock"
            }
            Headline {
                width: parent.width
                plain: qsTrId("perms.headline")
                accent: qsTrId("perms.headline.accent")
                after: qsTrId("perms.headline.after")
            }
            LumenvaleText {
                width: parent.width
                text: qsTrId("access.body")
                color: Theme.colours.ink2
                size: 15
                lineHeightPoints: 22
            }
            NeedCard {
                objectName: "photosCard"
                width: parent.width
                icon: "image"
                title: qsTrId("need.photos.title")
                description: qsTrId("need.photos.desc")
                trailing: [
                    LumenvaleButton {
                        objectName: "allow"
                        visible: screen.access === "notAsked"
                        text: qsTrId("need.allow")
                        small: true
                        onClicked: screen.allow()
                    },
                    LumenvaleButton {
                        objectName: "openSettings"
                        visible: screen.access === "denied"
                        text: qsTrId("access.openSettings")
                        variant: "ghost"
                        small: true
                        onClicked: screen.openSettings()
                    },
                    Tag {
                        objectName: "grantedTag"
                        visible: screen.granted
                        text: qsTrId(screen.access === "limited" ? "need.some" : "need.allowed")
                        tone: "lime"
                        icon: "check"
                    }
                ]
            }
            NeedCard {
                width: parent.width
                icon: "wifi"
                title: qsTrId("need.network.title")
                description: qsTrId("need.network.desc")
            }
            Notice {
                objectName: "limitedNotice"
                visible: screen.access === "limited"
                width: parent.width
                title: qsTrId("access.limited.title")
                message: qsTrId("access.limited.body")
                tone: "warn"
                icon: "info"
            }
            Notice {
                objectName: "deniedNotice"
                visible: screen.access === "denied"
                width: parent.width
                title: qsTrId("access.denied.title")
                message: qsTrId("access.denied.body")
                tone: "danger"
                icon: "alert"
            }
            LumenvaleButton {
                objectName: "continue"
                text: qsTrId("perms.continue")
                wide: true
                large: true
                enabled: screen.granted
                onClicked: screen.continueOn()
            }
        }
    }
}
