// The app frame with sample figures, for `--screenshots`: two laptops (one
// here now), a code with 4:14 left, and, when `asking` is set, a delete
// request for `askCount` photos. `photos` is a real Photos model over
// sample assets; `forgetSample` opens the forget sheet on the Laptops tab.
import QtQuick

AppFrame {
    id: sample
    property int askCount: 0
    property var forgetSample: null
    property string filterSample: "all"
    width: 390
    height: 844
    version: "1.0.0"

    hub: QtObject {
        property var hero: ({ case: "waiting", code: "K7QM-4TXP", secondsLeft: 254, fraction: 254 / 300, countdown: "4:14" })
        property string currentAsset: ""
        property int lateDeleted: 0
        property bool allowDelete: true
        property string theme: "system"
        property var pairing: ({ code: "K7QM-4TXP", first: "K7QM", second: "4TXP", left: "4:14" })
        property var laptopRows: [
            { id: "l1", name: "Maya's MacBook", live: true, day: "May 3, 2024" },
            { id: "l2", name: "Studio iMac", live: false, day: "Jan 14, 2024" }
        ]
        property var deleteAsk: sample.askCount > 0 ? ({ id: "ask", ids: [], laptop: "Maya's MacBook" }) : ({})
        function formatBytes(n) { return (n / 1e6).toFixed(0) + " MB" }
        function formatCount(n) { return Number(n).toLocaleString(Qt.locale("en_US"), "f", 0) }
        function dismissLateDeleted() {}
        function setAllowDelete(on) {}
        function setTheme(theme) {}
        function forget(id) {}
        function answerDelete(yes) {}
    }
    home: QtObject {
        property string onPhone: "4,812"
        property string safe: "3,608"
        property string notSafe: "1,204"
        property bool counted: true
        property int safeCount: 3608
        property int allCount: 4812
        property string currentName: ""
        property string currentDetail: ""
        property string cover: ""
        property string codeFirst: "K7QM"
        property string codeSecond: "4TXP"
        property var notices: []
        property var addressRows: [{ text: "192.168.1.23:41820", interface: "wlan0" }]
        property string copied: ""
        function shown() {}
        function copy(text) {}
    }
    deleteSheet: QtObject {
        property int count: sample.askCount
        property var thumbIds: {
            const ids = []
            for (let i = 0; i < Math.min(sample.askCount, 12); ++i) ids.push("sample" + (40 + i))
            return ids
        }
        property string fromText: "From Maya's MacBook"
        property string dateLine: sample.askCount === 1 ? "Taken Jun 25, 2024" : "Taken Jun 23, 2024 \u2013 Jun 25, 2024"
        // The sample's assets are all photos.
        property string title: qsTrId(sample.askCount === 1 ? "delete.ask.title.one" : "delete.ask.title.other").arg(sample.askCount)
        property string confirm: qsTrId(sample.askCount === 1 ? "delete.ask.confirm.one" : "delete.ask.confirm.other").arg(sample.askCount)
    }

    function openForgetSheet() {
        for (let i = 0; i < sample.children.length; ++i) {
            const child = sample.children[i]
            if (child.objectName === "content" && child.item) child.item.forgetting = sample.forgetSample
        }
    }
    Component.onCompleted: {
        photos.filter = filterSample
        if (forgetSample) Qt.callLater(openForgetSheet)
    }
}
