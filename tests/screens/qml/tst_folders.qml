// The library's folders: the chooser opens where the library is and takes
// the folder the owner is in, not a highlighted sub-folder; the Settings
// tab lists the served folders and removes any but the last.
import QtQuick
import QtTest
import Lumenvale.Core
import "../../../src/screens/qml"

Item {
    id: root
    width: 390
    height: 844

    QtObject {
        id: fakeHub
        property bool allowDelete: false
        property string theme: "system"
    }

    Component {
        id: chooserComponent
        FolderChooser { startFolder: "file:///tmp" }
    }
    Component {
        id: settingsComponent
        SettingsTab { anchors.fill: parent; hub: fakeHub; access: "full" }
    }

    TestCase {
        name: "Folders"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
        }

        function test_the_chooser_takes_the_folder_the_owner_is_in() {
            const chooser = createTemporaryObject(chooserComponent, root)
            const taken = []
            chooser.chosen.connect((folder, more) => taken.push([String(folder), more]))
            chooser.choose(true)
            compare(String(chooser.currentFolder), "file:///tmp")
            // The dialog highlights a sub-folder of its own accord; "Open"
            // still means the folder the owner is in.
            chooser.selectedFolder = "file:///tmp/sub"
            chooser.accept()
            compare(taken, [["file:///tmp", true]])

            // Opened again, it starts over where the library is.
            chooser.choose(false)
            compare(String(chooser.currentFolder), "file:///tmp")
            chooser.reject()
            compare(taken.length, 1)
        }

        function test_settings_lists_the_folders_and_keeps_the_last() {
            const tab = createTemporaryObject(settingsComponent, root,
                                              { folders: ["/home/maya/Pictures", "/media/card/DCIM"] })
            const removed = []
            let adding = 0
            tab.removeFolder.connect(folder => removed.push(folder))
            tab.addFolder.connect(() => ++adding)
            waitForRendering(tab)
            compare(findChild(findChild(tab, "folder-0"), "folderName").text, "/home/maya/Pictures")
            compare(findChild(findChild(tab, "folder-1"), "folderName").text, "/media/card/DCIM")
            compare(findChild(tab, "lastFolder").visible, false)
            mouseClick(findChild(findChild(tab, "folder-1"), "removeFolder"))
            compare(removed, ["/media/card/DCIM"])
            mouseClick(findChild(tab, "addFolder"))
            compare(adding, 1)

            tab.folders = ["/home/maya/Pictures"]
            compare(findChild(findChild(tab, "folder-0"), "removeFolder").visible, false)
            compare(findChild(tab, "lastFolder").visible, true)
            compare(findChild(tab, "lastFolder").text,
                    "This device serves at least one folder. To serve another instead, choose again.")
        }
    }
}
