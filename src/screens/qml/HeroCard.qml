// The Home tab's large card: what the device is doing now. Waiting shows
// the pairing code and its countdown; sending the figures and the file
// under way; connected what is safe; without a network how to get one.
import QtQuick
import Lumenvale.Core
import "../components"

Rectangle {
    id: card
    required property var hero       // { case, code, secondsLeft, fraction, countdown, laptop, files, bytes, bytesPerSecond }
    property string cover: ""
    property string codeFirst: ""
    property string codeSecond: ""
    property string currentAsset: ""
    property string currentName: ""   // the name of the file under way
    property string currentDetail: "" // its size and the day it was taken
    property int safeCount: 0
    // Counts as the owner reads them ("1,204"); the plain number without.
    property string safeText: String(safeCount)
    property string filesText: String(hero && hero.files !== undefined ? hero.files : 0)
    property string sentText: ""     // the bytes sent, as the owner reads them
    property string speedText: ""

    readonly property string heroCase: hero && hero.case ? hero.case : "noNetwork"
    readonly property bool live: heroCase === "sending" || heroCase === "connected"
    readonly property color ink: cover.length > 0 ? Theme.colours.white : Theme.colours.ink

    implicitHeight: column.implicitHeight + 40
    radius: 28
    color: Theme.colours.surface
    clip: true

    Image {
        anchors.fill: parent
        visible: card.cover.length > 0
        source: card.cover.length > 0 ? "image://thumb/" + card.cover + "/900/fill" : ""
        fillMode: Image.PreserveAspectCrop
        asynchronous: true
    }
    Rectangle {
        anchors.fill: parent
        visible: card.cover.length > 0
        gradient: Gradient {
            GradientStop { position: 0; color: "#33000000" }
            GradientStop { position: 1; color: "#CC000000" }
        }
    }

    Column {
        id: column
        x: 20
        y: 20
        width: card.width - 40
        spacing: 14

        Row {
            spacing: 8
            Tag {
                objectName: "eyebrow"
                // Offline is no good news: not in the positive colour.
                tone: card.heroCase === "noNetwork" ? "warn" : "lime"
                text: qsTrId(card.heroCase === "waiting" ? "hero.ready"
                           : card.heroCase === "sending" ? "hero.moving"
                           : card.heroCase === "connected" ? "hero.caughtUp" : "hero.offline.eyebrow")
                icon: card.heroCase === "waiting" ? "star"
                    : card.heroCase === "sending" ? "transfer"
                    : card.heroCase === "connected" ? "shield" : "wifi"
            }
            Rectangle {
                objectName: "statePill"
                height: 24
                width: pillRow.implicitWidth + 20
                radius: 12
                color: Theme.colours.glass
                Row {
                    id: pillRow
                    anchors.centerIn: parent
                    spacing: 6
                    Rectangle {
                        width: 8
                        height: 8
                        radius: 4
                        anchors.verticalCenter: parent.verticalCenter
                        color: card.live ? Theme.colours.limeStrong : Theme.colours.wait
                        SequentialAnimation on opacity {
                            running: card.live
                            loops: Animation.Infinite
                            NumberAnimation { to: 0.3; duration: 700 }
                            NumberAnimation { to: 1; duration: 700 }
                        }
                    }
                    LumenvaleText {
                        text: qsTrId(card.heroCase === "waiting" ? "hero.waiting.state"
                                   : card.heroCase === "noNetwork" ? "hero.offline.state" : "hero.connected.state")
                        color: Theme.colours.ink
                        size: 12
                        lineHeightPoints: 16
                        weight: 500
                        wrapMode: Text.NoWrap
                    }
                }
            }
        }

        Headline {
            objectName: "headline"
            width: parent.width
            ink: card.ink
            plain: qsTrId(card.heroCase === "waiting" ? "hero.waiting"
                        : card.heroCase === "sending" ? "hero.sending"
                        : card.heroCase === "connected" ? "hero.connected" : "hero.offline")
            accent: card.heroCase === "sending" ? (card.hero.laptop || "")
                  : qsTrId(card.heroCase === "waiting" ? "hero.waiting.accent"
                         : card.heroCase === "connected" ? "hero.connected.accent" : "hero.offline.accent")
        }

        // Waiting: the code and its countdown.
        Column {
            objectName: "waitingPanel"
            visible: card.heroCase === "waiting"
            width: parent.width
            spacing: 10
            Item {
                width: parent.width
                height: Math.max(code.height, ring.height)
                Column {
                    id: code
                    spacing: 2
                    LumenvaleText {
                        text: qsTrId("code.label")
                        color: Theme.colours.muted
                        size: 12
                        lineHeightPoints: 16
                        uppercase: true
                        tracking: 1
                    }
                    PairingCode {
                        first: card.codeFirst
                        second: card.codeSecond
                        ink: card.ink
                    }
                }
                Ring {
                    id: ring
                    objectName: "ring"
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    fraction: card.hero.fraction || 0
                    text: card.hero.countdown || ""
                }
            }
            LumenvaleText {
                width: parent.width
                text: qsTrId("code.hint")
                color: Theme.colours.ink2
                size: 13
                lineHeightPoints: 18
            }
        }

        // Sending: the figures.
        Column {
            objectName: "sendingPanel"
            visible: card.heroCase === "sending"
            width: parent.width
            spacing: 6
            LumenvaleText {
                objectName: "sent"
                width: parent.width
                text: card.filesText + " " + qsTrId("hero.sent").arg(card.sentText)
                color: card.ink
                size: 17
                lineHeightPoints: 24
                weight: 500
            }
            LumenvaleText {
                objectName: "speed"
                visible: (card.hero.bytesPerSecond || 0) >= 1
                text: qsTrId("hero.speed").arg(card.speedText)
                color: card.ink
                size: 13
                lineHeightPoints: 18
            }
            Row {
                objectName: "current"
                visible: card.currentAsset.length > 0
                width: parent.width
                spacing: 10
                Rectangle {
                    width: 40
                    height: 40
                    radius: 8
                    color: Theme.colours.surface2
                    clip: true
                    Image {
                        anchors.fill: parent
                        source: card.currentAsset.length > 0 ? "image://thumb/" + card.currentAsset + "/80/fill" : ""
                        fillMode: Image.PreserveAspectCrop
                        asynchronous: true
                    }
                }
                Column {
                    width: parent.width - 50
                    spacing: 6
                    anchors.verticalCenter: parent.verticalCenter
                    LumenvaleText {
                        objectName: "currentName"
                        width: parent.width
                        text: card.currentName
                        color: card.ink
                        size: 13
                        lineHeightPoints: 18
                        elide: Text.ElideMiddle
                        wrapMode: Text.NoWrap
                    }
                    LumenvaleText {
                        objectName: "currentDetail"
                        width: parent.width
                        visible: card.currentDetail.length > 0
                        text: card.currentDetail
                        color: Theme.colours.muted
                        size: 12
                        lineHeightPoints: 16
                        wrapMode: Text.NoWrap
                    }
                    LiveBar {
                        width: parent.width
                        visible: card.heroCase === "sending"
                    }
                }
            }
        }

        // Connected: what is safe.
        Column {
            objectName: "connectedPanel"
            visible: card.heroCase === "connected"
            width: parent.width
            spacing: 4
            LumenvaleText {
                text: card.safeText + " " + qsTrId("hero.safe")
                color: card.ink
                size: 17
                lineHeightPoints: 24
                weight: 500
            }
            LumenvaleText {
                objectName: "safeLine"
                width: parent.width
                text: qsTrId(card.safeCount === 1 ? "hero.connected.safe.one" : "hero.connected.safe.other")
                          .arg(card.safeText).arg(card.hero.laptop || "")
                color: Theme.colours.ink2
                size: 13
                lineHeightPoints: 18
            }
        }

        LumenvaleText {
            objectName: "offlinePanel"
            visible: card.heroCase === "noNetwork"
            width: parent.width
            text: qsTrId("address.none")
            color: Theme.colours.ink2
            size: 13
            lineHeightPoints: 18
        }
    }
}
