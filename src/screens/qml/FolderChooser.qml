// The folder chooser that stands for the phone's photo permission. It opens
// where the library is (or in the pictures folder), never in the process's
// working folder, and "Open" takes the folder the owner is in: a sub-folder
// that happens to be highlighted is not what was chosen, and serving it
// alone would silently shrink the library.
import QtQuick
import QtQuick.Dialogs

FolderDialog {
    id: chooser
    // startFolder is where the chooser opens (the root's chooserStart).
    required property url startFolder
    property bool more: false
    // chosen: the owner took `folder`, beside the others when `more`.
    signal chosen(url folder, bool more)

    title: qsTrId("folder.choose")
    function choose(adding) {
        more = adding
        currentFolder = startFolder
        open()
    }
    onAccepted: chosen(currentFolder, more)
}
