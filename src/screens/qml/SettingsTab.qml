// The Settings tab: whether laptops may ask to delete, the colour theme,
// photo access with the way to change it, and the version. It only binds:
// `hub` gives allowDelete and theme and takes their changes; `access` is
// the app's photo access; `openSettings` asks for the folder chooser.
// `folders` are the folders served; `addFolder` asks for the chooser to add
// one and `removeFolder` stops serving one (the last one stays).
import QtQuick
import Lumenvale.Core
import "../components"

Rectangle {
    id: tab
    required property var hub
    required property string access
    property string version: ""
    property var folders: []
    signal openSettings()
    signal addFolder()
    signal removeFolder(string folder)

    color: Theme.colours.bg

    component Section: LumenvaleText {
        width: parent.width
        color: Theme.colours.muted
        size: 12
        lineHeightPoints: 16
        uppercase: true
        tracking: 1
        weight: 600
        topPadding: 8
    }

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
                plain: qsTrId("settings.headline")
            }

            LumenvaleCard {
                width: parent.width
                LumenvaleSwitch {
                    objectName: "allowDelete"
                    width: parent.width
                    label: qsTrId("delete.label")
                    description: qsTrId("delete.desc")
                    on: tab.hub.allowDelete
                    onToggled: on => tab.hub.setAllowDelete(on)
                }
            }

            Section { text: qsTrId("appearance") }
            Row {
                objectName: "themes"
                spacing: 8
                Repeater {
                    model: ["system", "light", "dark"]
                    delegate: Chip {
                        required property string modelData
                        objectName: "theme-" + modelData
                        text: qsTrId("theme." + modelData)
                        on: tab.hub.theme === modelData
                        onClicked: tab.hub.setTheme(modelData)
                    }
                }
            }

            Section { text: qsTrId("permissions") }
            LumenvaleCard {
                width: parent.width
                Item {
                    width: parent.width
                    height: Math.max(44, accessTag.height)
                    InfoRow {
                        anchors.left: parent.left
                        anchors.right: accessTag.left
                        anchors.rightMargin: 12
                        anchors.verticalCenter: parent.verticalCenter
                        icon: "image"
                        title: qsTrId("need.photos.title")
                    }
                    Tag {
                        id: accessTag
                        objectName: "accessTag"
                        anchors.right: parent.right
                        anchors.verticalCenter: parent.verticalCenter
                        text: qsTrId(tab.access === "full" ? "need.allowed" : "need.some")
                        icon: "check"
                    }
                }
                Repeater {
                    objectName: "folders"
                    model: tab.folders
                    delegate: Item {
                        id: folderRow
                        required property string modelData
                        required property int index
                        objectName: "folder-" + index
                        width: parent.width
                        height: Math.max(44, folderName.height)
                        LumenvaleText {
                            id: folderName
                            objectName: "folderName"
                            anchors.left: parent.left
                            anchors.right: removeButton.visible ? removeButton.left : parent.right
                            anchors.rightMargin: 12
                            anchors.verticalCenter: parent.verticalCenter
                            text: folderRow.modelData
                            color: Theme.colours.ink2
                            size: 13
                            lineHeightPoints: 18
                            wrapMode: Text.NoWrap
                            elide: Text.ElideMiddle
                        }
                        LumenvaleButton {
                            id: removeButton
                            objectName: "removeFolder"
                            anchors.right: parent.right
                            anchors.verticalCenter: parent.verticalCenter
                            visible: tab.folders.length > 1
                            variant: "ghost"
                            small: true
                            text: qsTrId("folder.remove")
                            onClicked: tab.removeFolder(folderRow.modelData)
                        }
                    }
                }
                LumenvaleText {
                    objectName: "lastFolder"
                    visible: tab.folders.length === 1
                    width: parent.width
                    text: qsTrId("folder.last")
                    color: Theme.colours.muted
                    size: 13
                    lineHeightPoints: 18
                }
                LumenvaleButton {
                    objectName: "addFolder"
                    variant: "ghost"
                    wide: true
                    text: qsTrId("folder.add")
                    onClicked: tab.addFolder()
                }
                LumenvaleButton {
                    objectName: "openSettings"
                    variant: "ghost"
                    wide: true
                    text: qsTrId("access.openSettings")
                    onClicked: tab.openSettings()
                }
            }

            Section { text: qsTrId("about") }
            LumenvaleCard {
                width: parent.width
                LumenvaleText {
                    objectName: "version"
                    width: parent.width
                    text: qsTrId("about.version").arg(tab.version)
                    size: 15
                    lineHeightPoints: 20
                    weight: 500
                }
                LumenvaleText {
                    width: parent.width
                    text: qsTrId("about.body")
                    color: Theme.colours.ink2
                    size: 13
                    lineHeightPoints: 18
                }
            }
        }
    }
}
