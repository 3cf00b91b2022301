// A stand-in for the delete sheet's model, for the samples and the tests:
// no question until `count` is set; the texts are the photos' wording.
import QtQuick

QtObject {
    property int count: 0
    property var thumbIds: []
    property string fromText: ""
    property string dateLine: ""
    property string title: qsTrId(count === 1 ? "delete.ask.title.one" : "delete.ask.title.other").arg(count)
    property string confirm: qsTrId(count === 1 ? "delete.ask.confirm.one" : "delete.ask.confirm.other").arg(count)
}
