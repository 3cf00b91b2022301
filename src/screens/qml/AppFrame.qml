// The app frame: the chosen tab fills the screen under the tab bar; a
// photo opened in the Photos tab covers everything, and so does the delete
// sheet while a laptop's delete waits for the owner.
import QtQuick
import Lumenvale.Core
import "../components"

Rectangle {
    id: frame
    required property var hub
    required property var home
    required property var photos
    required property var deleteSheet
    property string access: "full"
    property string version: ""
    // chooseFolder asks for the folder chooser: another folder (`more`) or
    // the library's folder anew.
    signal chooseFolder(bool more)
    // The folders the library serves, and the owner's wish to stop one.
    property var folders: []
    signal removeFolder(string folder)

    property string tab: "home"
    property int viewing: -1  // the position open in the viewer, or -1
    readonly property bool asking: hub.deleteAsk.id !== undefined

    color: Theme.colours.bg

    Loader {
        id: content
        objectName: "content"
        anchors.fill: parent
        sourceComponent: frame.tab === "photos" ? null
                       : frame.tab === "laptops" ? laptopsTab
                       : frame.tab === "settings" ? settingsTab
                       : homeTab
    }
    // The Photos tab is made the first time it is shown and then kept, out
    // of sight while another tab shows, so that coming back finds the
    // library where the owner left it instead of listing it anew from the
    // top.
    Loader {
        objectName: "photosContent"
        anchors.fill: parent
        active: false
        visible: frame.tab === "photos"
        onVisibleChanged: if (visible) active = true
        Component.onCompleted: if (visible) active = true
        sourceComponent: photosTab
    }
    Component {
        id: homeTab
        HomeTab {
            hub: frame.hub
            home: frame.home
            onSettings: frame.tab = "settings"
            onChooseMore: frame.chooseFolder(true)
        }
    }
    Component {
        id: photosTab
        PhotosTab {
            photos: frame.photos
            hub: frame.hub
            onOpened: position => frame.viewing = position
        }
    }
    Component {
        id: laptopsTab
        LaptopsTab {
            hub: frame.hub
        }
    }
    Component {
        id: settingsTab
        SettingsTab {
            hub: frame.hub
            access: frame.access
            version: frame.version
            folders: frame.folders
            onOpenSettings: frame.chooseFolder(false)
            onAddFolder: frame.chooseFolder(true)
            onRemoveFolder: folder => frame.removeFolder(folder)
        }
    }

    TabBar {
        objectName: "tabBar"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        anchors.bottomMargin: 8
        visible: !(content.item && content.item.sheetOpen)
        value: frame.tab
        tabs: [
            { value: "home", label: qsTrId("tab.home"), icon: "home" },
            { value: "photos", label: qsTrId("tab.photos"), icon: "image" },
            { value: "laptops", label: qsTrId("tab.laptops"), icon: "laptop" },
            { value: "settings", label: qsTrId("tab.settings"), icon: "gear" }
        ]
        onChosen: value => { frame.viewing = -1; frame.tab = value }
    }

    Loader {
        objectName: "viewer"
        anchors.fill: parent
        active: frame.viewing >= 0
        sourceComponent: Viewer {
            asset: frame.photos.asset(frame.viewing)
            onClose: frame.viewing = -1
            onStep: by => {
                const next = frame.viewing + by
                if (next >= 0 && next < frame.photos.shownCount) frame.viewing = next
            }
        }
    }

    DeleteSheet {
        objectName: "deleteSheet"
        visible: frame.asking
        sheet: frame.deleteSheet
        onYes: frame.hub.answerDelete(true)
        onNo: frame.hub.answerDelete(false)
    }
}
