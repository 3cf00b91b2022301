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

    hub: SampleHub {
        hero: ({ case: "waiting", code: "K7QM-4TXP", secondsLeft: 254, fraction: 254 / 300, countdown: "4:14" })
        allowDelete: true
        pairing: ({ code: "K7QM-4TXP", first: "K7QM", second: "4TXP", left: "4:14" })
        laptopRows: [
            { id: "l1", name: "Maya's MacBook", live: true, day: "May 3, 2024" },
            { id: "l2", name: "Studio iMac", live: false, day: "Jan 14, 2024" }
        ]
        deleteAsk: sample.askCount > 0 ? ({ id: "ask", ids: [], laptop: "Maya's MacBook" }) : ({})
    }
    home: SampleHome {
        onPhone: "4,812"
        safe: "3,608"
        notSafe: "1,204"
        safeCount: 3608
        allCount: 4812
        codeFirst: "K7QM"
        codeSecond: "4TXP"
        addressRows: [{ text: "192.168.1.23:41820", interface: "wlan0" }]
    }
    // The sample's assets are all photos.
    deleteSheet: SampleDeleteSheet {
        count: sample.askCount
        thumbIds: {
            const ids = []
            for (let i = 0; i < Math.min(sample.askCount, 12); ++i) ids.push("sample" + (40 + i))
            return ids
        }
        fromText: "From Maya's MacBook"
        dateLine: sample.askCount === 1 ? "Taken Jun 25, 2024" : "Taken Jun 23, 2024 \u2013 Jun 25, 2024"
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
