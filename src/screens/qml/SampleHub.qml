// A stand-in for the hub bridge, for the screenshots' samples and the
// screens' tests: every property the screens read, with a quiet default (a
// device waiting for a laptop, no code yet, nothing paired), and every
// action recorded in `calls` ("forget l2", "answer true") and, where the
// real hub would, shown. Counts and sizes are written as the owner reads
// them. Give a sample or a test only what it changes.
import QtQuick

QtObject {
    property var hero: ({ case: "waiting", code: "", secondsLeft: 0, fraction: 0, countdown: "0:00" })
    property string currentAsset: ""
    property int lateDeleted: 0
    property bool allowDelete: false
    property string theme: "system"
    property var pairing: ({})
    property var laptopRows: []
    property var fingerprint: []
    property var deleteAsk: ({})
    property var calls: []

    function formatBytes(n) { return (n / 1e6).toFixed(0) + " MB" }
    function formatCount(n) { return Number(n).toLocaleString(Qt.locale("en_US"), "f", 0) }
    function dismissLateDeleted() { calls.push("dismissLateDeleted"); lateDeleted = 0 }
    function setAllowDelete(on) { calls.push("allowDelete " + on); allowDelete = on }
    function setTheme(name) { calls.push("theme " + name); theme = name }
    function forget(id) { calls.push("forget " + id) }
    function answerDelete(yes) { calls.push("answer " + yes); deleteAsk = ({}) }
    function welcome() { calls.push("welcome") }
}
