// The Laptops tab: the code for a new laptop with its time left, the
// paired laptops (here now, or the day each was paired) and the sheet that
// forgets one, and the device's fingerprint for the laptop's user to
// compare. It only binds: `hub` gives `pairing` and `laptopRows`, moved on
// once a second in C++, `fingerprint`, and `forget`.
import QtQuick
import Lumenvale.Core
import "../components"

Rectangle {
    id: tab
    required property var hub
    // The laptop whose forget sheet is open: {id, name}, or null.
    property var forgetting: null
    readonly property bool sheetOpen: forgetting !== null

    color: Theme.colours.bg

    Flickable {
        anchors.fill: parent
        contentHeight: column.height + 120  // room above the tab bar
        Column {
            id: column
            x: 16
            y: 16
            width: parent.width - 32
            spacing: 16

            Headline {
                width: parent.width
                plain: qsTrId("laptops.headline")
                accent: qsTrId("laptops.headline.accent")
            }
            LumenvaleText {
                width: parent.width
                text: qsTrId("laptops.body")
                color: Theme.colours.ink2
                size: 15
                lineHeightPoints: 21
            }

            LumenvaleCard {
                objectName: "codeCard"
                visible: tab.hub.pairing.code !== undefined
                width: parent.width
                LumenvaleText {
                    width: parent.width
                    text: qsTrId("pair.new")
                    size: 17
                    lineHeightPoints: 22
                    weight: 600
                }
                LumenvaleText {
                    width: parent.width
                    text: qsTrId("pair.new.body")
                    color: Theme.colours.ink2
                    size: 13
                    lineHeightPoints: 18
                }
                PairingCode {
                    first: tab.hub.pairing.first || ""
                    second: tab.hub.pairing.second || ""
                }
                LumenvaleText {
                    objectName: "codeLeft"
                    width: parent.width
                    text: qsTrId("pair.new.left").arg(tab.hub.pairing.left || "")
                    color: Theme.colours.muted
                    size: 13
                    lineHeightPoints: 18
                }
            }

            LumenvaleCard {
                objectName: "fingerprintCard"
                visible: fingerprint.groups.length > 0
                width: parent.width
                tone: "outline"
                LumenvaleText {
                    width: parent.width
                    text: qsTrId("pair.fingerprint")
                    size: 15
                    lineHeightPoints: 20
                    weight: 600
                }
                LumenvaleText {
                    width: parent.width
                    text: qsTrId("pair.fingerprint.body")
                    color: Theme.colours.ink2
                    size: 13
                    lineHeightPoints: 18
                }
                Fingerprint {
                    id: fingerprint
                    objectName: "fingerprint"
                    groups: tab.hub.fingerprint || []
                }
            }

            LumenvaleText {
                objectName: "none"
                visible: tab.hub.laptopRows.length === 0
                width: parent.width
                text: qsTrId("laptops.none")
                color: Theme.colours.muted
                size: 15
                lineHeightPoints: 20
            }

            Repeater {
                model: tab.hub.laptopRows
                delegate: LumenvaleCard {
                    id: rowCard
                    required property var modelData
                    objectName: "laptop-" + modelData.id
                    width: column.width
                    tone: "outline"
                    Item {
                        width: parent.width
                        height: Math.max(44, names.height, forgetButton.height)
                        IconWell {
                            id: well
                            anchors.verticalCenter: parent.verticalCenter
                            icon: "laptop"
                            ground: rowCard.modelData.live ? Theme.colours.lime : Theme.colours.surface2
                            ink: rowCard.modelData.live ? Theme.colours.onLime : Theme.colours.ink
                        }
                        Column {
                            id: names
                            anchors.left: well.right
                            anchors.leftMargin: 12
                            anchors.right: forgetButton.left
                            anchors.rightMargin: 12
                            anchors.verticalCenter: parent.verticalCenter
                            spacing: 2
                            LumenvaleText {
                                width: parent.width
                                text: rowCard.modelData.name
                                size: 15
                                lineHeightPoints: 20
                                weight: 500
                                elide: Text.ElideRight
                                wrapMode: Text.NoWrap
                            }
                            LumenvaleText {
                                objectName: "status"
                                width: parent.width
                                text: rowCard.modelData.live ? qsTrId("laptop.now")
                                                             : qsTrId("laptop.paired").arg(rowCard.modelData.day)
                                color: rowCard.modelData.live ? Theme.colours.limeStrong : Theme.colours.muted
                                size: 13
                                lineHeightPoints: 18
                            }
                        }
                        LumenvaleButton {
                            id: forgetButton
                            objectName: "forget"
                            anchors.right: parent.right
                            anchors.verticalCenter: parent.verticalCenter
                            text: qsTrId("laptop.forget")
                            variant: "ghost"
                            small: true
                            onClicked: tab.forgetting = { id: rowCard.modelData.id, name: rowCard.modelData.name }
                        }
                    }
                }
            }
        }
    }

    BrandSheet {
        objectName: "forgetSheet"
        visible: tab.forgetting !== null
        onDismiss: tab.forgetting = null
        LumenvaleText {
            width: parent.width
            text: tab.forgetting ? qsTrId("laptop.forget.title").arg(tab.forgetting.name) : ""
            size: 22
            lineHeightPoints: 28
            weight: 600
        }
        LumenvaleText {
            width: parent.width
            text: qsTrId("laptop.forget.body")
            color: Theme.colours.ink2
            size: 15
            lineHeightPoints: 21
        }
        LumenvaleButton {
            objectName: "forgetConfirm"
            wide: true
            variant: "danger"
            text: qsTrId("laptop.forget")
            onClicked: {
                tab.hub.forget(tab.forgetting.id)
                tab.forgetting = null
            }
        }
        LumenvaleButton {
            objectName: "forgetCancel"
            wide: true
            variant: "ghost"
            text: qsTrId("laptop.forget.cancel")
            onClicked: tab.forgetting = null
        }
    }
}
