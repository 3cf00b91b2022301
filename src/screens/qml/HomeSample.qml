// The Home tab with sample figures, for `--screenshots`: a device that
// waits for a laptop, with counts made and two addresses; `coverSample`
// puts a photo behind the card, `currentSample` a file under way, and
// `safeSample` says how many of the 4,812 are safe.
import QtQuick

HomeTab {
    id: sample
    property var heroSample: ({ case: "waiting", code: "K7QM-4TXP", secondsLeft: 254, fraction: 254 / 300, countdown: "4:14" })
    property string coverSample: ""
    property string currentSample: ""
    property int safeSample: 3608
    readonly property int allSample: 4812
    width: 390
    height: 844
    hub: QtObject {
        property var hero: sample.heroSample
        property string currentAsset: sample.currentSample
        property int lateDeleted: 0
        function formatBytes(n) { return (n / 1e6).toFixed(0) + " MB" }
        function formatCount(n) { return Number(n).toLocaleString(Qt.locale("en_US"), "f", 0) }
        function dismissLateDeleted() {}
    }
    home: QtObject {
        property string onPhone: sample.hub.formatCount(sample.allSample)
        property string safe: sample.hub.formatCount(sample.safeSample)
        property string notSafe: sample.hub.formatCount(sample.allSample - sample.safeSample)
        property bool counted: true
        property int safeCount: sample.safeSample
        property int allCount: sample.allSample
        property string currentName: sample.hub.currentAsset.length > 0 ? "IMG_4821.HEIC" : ""
        property string currentDetail: sample.hub.currentAsset.length > 0 ? "2.4 MB \u00B7 May 1, 2024" : ""
        property string cover: sample.coverSample
        property string codeFirst: "K7QM"
        property string codeSecond: "4TXP"
        property var notices: []
        property var addressRows: [{ text: "192.168.1.23:41820", interface: "wlan0" }, { text: "10.0.0.4:41820", interface: "eth0" }]
        property string copied: "10.0.0.4:41820"
        function shown() {}
        function copy(text) {}
    }
}
