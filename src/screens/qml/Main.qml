// The app's window: the welcome screen, the permissions screen or the app
// frame, as the root decides, in the owner's theme; and the folder chooser
// that stands for the phone's photo permission.
import QtQuick
import Lumenvale.Core

Window {
    id: window
    required property var hub
    required property var app
    required property var home
    required property var photos
    required property var deleteSheet

    width: 390
    height: 844
    minimumWidth: 320
    minimumHeight: 480
    visible: true
    title: qsTrId("app.name")
    color: Theme.colours.bg

    Component.onCompleted: app.appeared()

    Loader {
        objectName: "screen"
        anchors.fill: parent
        sourceComponent: window.app.screen === "welcome" ? welcome
                       : window.app.screen === "permissions" ? permissions
                       : frame
    }
    Component {
        id: welcome
        WelcomeScreen {
            onStart: window.hub.welcome()
        }
    }
    Component {
        id: permissions
        PermissionsScreen {
            access: window.app.access
            onAllow: chooser.choose(false)
            onOpenSettings: chooser.choose(false)
            onContinueOn: window.app.continueOn()
        }
    }
    Component {
        id: frame
        AppFrame {
            hub: window.hub
            home: window.home
            photos: window.photos
            deleteSheet: window.deleteSheet
            access: window.app.access
            version: window.app.version
            folders: window.app.folders
            onRemoveFolder: folder => window.app.removeFolder(folder)
            onChooseFolder: more => chooser.choose(more)
        }
    }

    FolderChooser {
        id: chooser
        startFolder: window.app.chooserStart
        onChosen: (folder, more) => window.app.folderChosen(folder, more)
    }
}
