// The Home tab: the header, the Home card, the notices, the three
// counters, the addresses, a reminder to keep the app open while a laptop
// is there, how to connect, and a closing line. It only binds: `hub` gives
// the state, `home` the tab's view state and its decisions.
import QtQuick
import Lumenvale.Core
import "../components"

Rectangle {
    id: tab
    required property var hub
    required property var home
    signal settings()
    signal chooseMore()

    readonly property var hero: hub.hero
    readonly property bool present: hero && (hero.case === "sending" || hero.case === "connected")

    color: Theme.colours.bg
    Component.onCompleted: home.shown()

    Flickable {
        anchors.fill: parent
        contentHeight: column.height + 120  // room above the tab bar
        Column {
            id: column
            x: 16
            y: 16
            width: parent.width - 32
            spacing: 16

            // Header: the wordmark and the way to the settings.
            Item {
                width: parent.width
                height: 48
                Wordmark {
                    anchors.verticalCenter: parent.verticalCenter
                }
                LumenvaleButton {
                    objectName: "settingsButton"
                    anchors.right: parent.right
                    anchors.verticalCenter: parent.verticalCenter
                    text: qsTrId("tab.settings")
                    iconName: "gear"
                    variant: "ghost"
                    small: true
                    onClicked: tab.settings()
                }
            }

            HeroCard {
                objectName: "hero"
                width: parent.width
                hero: tab.hero
                cover: tab.home.cover
                codeFirst: tab.home.codeFirst
                codeSecond: tab.home.codeSecond
                currentAsset: tab.hub.currentAsset
                currentName: tab.home.currentName
                currentDetail: tab.home.currentDetail
                counted: tab.home.counted
                safeCount: tab.home.safeCount
                allCount: tab.home.allCount
                safeText: tab.hub.formatCount(tab.home.safeCount)
                sentText: tab.hub.formatBytes(tab.hero && tab.hero.bytes ? tab.hero.bytes : 0)
                speedText: tab.hub.formatBytes(tab.hero && tab.hero.bytesPerSecond ? tab.hero.bytesPerSecond : 0)
            }

            Repeater {
                objectName: "notices"
                model: tab.home.notices
                delegate: Notice {
                    required property var modelData
                    width: column.width
                    title: qsTrId(modelData.key + ".title")
                    message: modelData.key === "delete.late" ? Words.counted("delete.late.body", tab.hub.lateDeleted)
                                                             : qsTrId(modelData.key + ".body")
                    tone: modelData.tone
                    icon: modelData.icon
                    actionText: modelData.action.length > 0 ? qsTrId(modelData.action) : ""
                    onAction: modelData.key === "delete.late" ? tab.hub.dismissLateDeleted() : tab.chooseMore()
                }
            }

            Row {
                objectName: "counters"
                width: parent.width
                spacing: 8
                Repeater {
                    model: [{ key: "stat.onPhone", value: tab.home.onPhone },
                            { key: "stat.safe", value: tab.home.safe },
                            { key: "stat.not", value: tab.home.notSafe }]
                    delegate: LumenvaleCard {
                        required property var modelData
                        width: (column.width - 16) / 3
                        LumenvaleText {
                            text: modelData.value
                            size: 24
                            lineHeightPoints: 28
                            weight: 600
                        }
                        // Two lines' room in every card, so that the three
                        // stand equally tall when one label wraps.
                        LumenvaleText {
                            width: parent.width
                            height: 2 * lineHeight
                            maximumLineCount: 2
                            elide: Text.ElideRight
                            text: qsTrId(modelData.key)
                            color: Theme.colours.muted
                            size: 12
                            lineHeightPoints: 16
                        }
                    }
                }
            }

            LumenvaleCard {
                objectName: "addresses"
                width: parent.width
                tone: "outline"
                LumenvaleText {
                    text: qsTrId("address.label")
                    color: Theme.colours.muted
                    size: 12
                    lineHeightPoints: 16
                    uppercase: true
                    tracking: 1
                }
                LumenvaleText {
                    visible: tab.home.addressRows.length === 0
                    width: parent.width
                    text: qsTrId("address.none")
                    color: Theme.colours.ink2
                    size: 13
                    lineHeightPoints: 18
                }
                Repeater {
                    model: tab.home.addressRows
                    delegate: Column {
                        required property var modelData
                        required property int index
                        width: column.width - 32
                        spacing: 8
                        Rectangle {
                            visible: index > 0
                            width: parent.width
                            height: 1
                            color: Theme.colours.line
                        }
                        Item {
                            width: parent.width
                            height: 36
                            Column {
                                anchors.verticalCenter: parent.verticalCenter
                                LumenvaleText {
                                    text: modelData.text
                                    size: 17
                                    lineHeightPoints: 22
                                    weight: 500
                                }
                                LumenvaleText {
                                    text: modelData.interface.startsWith("wl") ? qsTrId("address.wifi") : modelData.interface
                                    color: Theme.colours.muted
                                    size: 12
                                    lineHeightPoints: 16
                                }
                            }
                            LumenvaleButton {
                                readonly property bool copied: tab.home.copied === modelData.text
                                anchors.right: parent.right
                                anchors.verticalCenter: parent.verticalCenter
                                objectName: "copy" + index
                                text: qsTrId(copied ? "address.copied" : "address.copy")
                                iconName: copied ? "check" : "copy"
                                variant: "ghost"
                                small: true
                                onClicked: tab.home.copy(modelData.text)
                            }
                        }
                    }
                }
            }

            Notice {
                objectName: "keepOpen"
                visible: tab.present
                width: parent.width
                title: qsTrId("keepOpen.title")
                message: qsTrId("keepOpen.body")
                icon: "lock"
            }

            LumenvaleCard {
                objectName: "howToConnect"
                width: parent.width
                Row {
                    spacing: 8
                    LumenvaleText {
                        text: qsTrId("cable.label")
                        size: 17
                        lineHeightPoints: 22
                        weight: 500
                    }
                    Tag {
                        text: qsTrId("cable.platforms")
                        tone: "card"
                    }
                }
                Repeater {
                    model: 4
                    delegate: Row {
                        required property int index
                        spacing: 10
                        width: column.width - 32
                        Rectangle {
                            width: 22
                            height: 22
                            radius: 11
                            color: Theme.colours.lime
                            LumenvaleText {
                                anchors.centerIn: parent
                                text: index + 1
                                color: Theme.colours.onLime
                                size: 12
                                lineHeightPoints: 16
                                weight: 600
                            }
                        }
                        LumenvaleText {
                            width: parent.width - 32
                            text: qsTrId("cable.step" + (index + 1))
                            color: Theme.colours.ink2
                            size: 13
                            lineHeightPoints: 18
                        }
                    }
                }
            }

            LumenvaleText {
                width: parent.width
                horizontalAlignment: Text.AlignHCenter
                text: qsTrId("keepOpen.footer")
                color: Theme.colours.muted
                size: 12
                lineHeightPoints: 16
            }
        }
    }
}
