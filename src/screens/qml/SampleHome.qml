// A stand-in for the Home tab's model, for the samples and the tests:
// counted, with nothing under way, no cover, no notice and no address.
// `shown` and `copy` are recorded as the real model would act on them.
import QtQuick

QtObject {
    property string onPhone: "3"
    property string safe: "1"
    property string notSafe: "2"
    property bool counted: true
    property int safeCount: 1
    property int allCount: 3
    property string currentName: ""
    property string currentDetail: ""
    property string cover: ""
    property string codeFirst: ""
    property string codeSecond: ""
    property var notices: []
    property var addressRows: []
    property string copied: ""
    property int shownCalls: 0
    property var copies: []

    function shown() { ++shownCalls }
    function copy(text) { copies.push(text); copied = text }
}
