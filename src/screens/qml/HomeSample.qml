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
    hub: SampleHub {
        hero: sample.heroSample
        currentAsset: sample.currentSample
    }
    home: SampleHome {
        onPhone: sample.hub.formatCount(sample.allSample)
        safe: sample.hub.formatCount(sample.safeSample)
        notSafe: sample.hub.formatCount(sample.allSample - sample.safeSample)
        safeCount: sample.safeSample
        allCount: sample.allSample
        currentName: sample.hub.currentAsset.length > 0 ? "IMG_4821.HEIC" : ""
        currentDetail: sample.hub.currentAsset.length > 0 ? "2.4 MB \u00B7 May 1, 2024" : ""
        cover: sample.coverSample
        codeFirst: "K7QM"
        codeSecond: "4TXP"
        addressRows: [{ text: "192.168.1.23:41820", interface: "wlan0" }, { text: "10.0.0.4:41820", interface: "eth0" }]
        copied: "10.0.0.4:41820"
    }
}
