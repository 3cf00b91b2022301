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
    // What is safe: `safeCount` of `allCount`, once `counted`.
    property bool counted: false
    property int safeCount: 0
    property int allCount: 0
    // The count as the owner reads it ("1,204"); the plain number without.
    property string safeText: String(safeCount)
    property string sentText: ""     // the bytes sent, as the owner reads them
    property string speedText: ""

    readonly property string heroCase: hero && hero.case ? hero.case : "noNetwork"
    // The words of the case, chosen in C++: {eyebrow, icon, tone, state,
    // live, headline, accent}.
    readonly property var texts: Words.hero(heroCase, counted, safeCount, allCount)
    readonly property bool live: texts.live
    // Over a cover the texts are light in both themes, and the scrim under
    // them dark enough for body text on the brightest photo (4.5:1).
    readonly property bool covered: cover.length > 0
    readonly property color ink: covered ? Theme.colours.white : Theme.colours.ink
    readonly property color ink2: covered ? Theme.colours.onCover2 : Theme.colours.ink2
    readonly property color muted: covered ? Theme.colours.onCoverMuted : Theme.colours.muted

    implicitHeight: column.implicitHeight + 40
    radius: 28
    color: Theme.colours.surface

    RoundedPicture {
        objectName: "coverPicture"
        anchors.fill: parent
        visible: card.covered
        assetId: card.cover
        px: 900
        radius: card.radius
    }
    Rectangle {
        objectName: "scrim"
        anchors.fill: parent
        visible: card.covered
        radius: card.radius
        gradient: Gradient {
            GradientStop { position: 0; color: Theme.colours.scrimTop }
            GradientStop { position: 1; color: Theme.colours.scrimBottom }
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
                tone: card.texts.tone
                text: card.texts.eyebrow
                icon: card.texts.icon
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
                        text: card.texts.state
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
            plain: card.texts.headline
            accent: card.texts.accent.length > 0 ? card.texts.accent : (card.hero.laptop || "")
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
                        objectName: "codeLabel"
                        text: qsTrId("code.label")
                        color: card.muted
                        size: 12
                        lineHeightPoints: 16
                        uppercase: true
                        tracking: 1
                    }
                    PairingCode {
                        objectName: "code"
                        first: card.codeFirst
                        second: card.codeSecond
                        ink: card.ink
                        dashInk: card.muted
                        // The code shrinks before the ring may cover it.
                        available: card.width - 40 - ring.width - 12
                    }
                }
                Ring {
                    id: ring
                    objectName: "ring"
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    fraction: card.hero.fraction || 0
                    text: card.hero.countdown || ""
                    ink: card.ink
                    track: card.covered ? Theme.colours.coverTrack : Theme.colours.surface2
                }
            }
            LumenvaleText {
                objectName: "codeHint"
                width: parent.width
                text: qsTrId("code.hint")
                color: card.ink2
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
                text: Words.counted("hero.sent", card.hero.files || 0).arg(card.sentText)
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
                    RoundedPicture {
                        objectName: "currentPicture"
                        anchors.fill: parent
                        assetId: card.currentAsset
                        px: 80
                        radius: parent.radius
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
                        color: card.muted
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
                objectName: "safeFigure"
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
                color: card.ink2
                size: 13
                lineHeightPoints: 18
            }
            LumenvaleText {
                objectName: "notSafeLine"
                width: parent.width
                visible: card.counted && card.allCount > card.safeCount
                text: visible ? Words.counted("hero.connected.notSafe", card.allCount - card.safeCount) : ""
                color: card.ink
                size: 13
                lineHeightPoints: 18
                weight: 500
            }
        }

        LumenvaleText {
            objectName: "offlinePanel"
            visible: card.heroCase === "noNetwork"
            width: parent.width
            text: qsTrId("address.none")
            color: card.ink2
            size: 13
            lineHeightPoints: 18
        }
    }
}
