// The Home tab with sample figures, for `--screenshots`: a device that
// waits for a laptop, with counts made and two addresses.
import QtQuick

HomeTab {
    id: sample
    property var heroSample: ({ case: "waiting", code: "K7QM-4TXP", secondsLeft: 254, fraction: 254 / 300, countdown: "4:14" })
    width: 390
    height: 844
    hub: QtObject {
        property var hero: sample.heroSample
        property string currentAsset: ""
        property int lateDeleted: 0
        function formatBytes(n) { return (n / 1e6).toFixed(0) + " MB" }
        function formatCount(n) { return Number(n).toLocaleString(Qt.locale("en_US"), "f", 0) }
        function dismissLateDeleted() {}
    }
    home: QtObject {
        property string onPhone: "4,812"
        property string safe: "3,608"
        property string notSafe: "1,204"
        property bool counted: true
        property int safeCount: 3608
        property int allCount: 4812
        property string currentName: sample.hub.currentAsset.length > 0 ? "IMG_4821.HEIC" : ""
        property string currentDetail: sample.hub.currentAsset.length > 0 ? "2.4 MB \u00B7 May 1, 2024" : ""
        property string cover: ""
        property string codeFirst: "K7QM"
        property string codeSecond: "4TXP"
        property var notices: []
        property var addressRows: [{ text: "192.168.1.23:41820", interface: "wlan0" }, { text: "10.0.0.4:41820", interface: "eth0" }]
        property string copied: "10.0.0.4:41820"
        function shown() {}
        function copy(text) {}
    }
}
