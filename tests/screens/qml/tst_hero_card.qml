// The Home card in each of its four cases: the eyebrow, the headline, and
// the one panel that belongs to the case.
import QtQuick
import QtTest
import Lumenvale.Core
import "../../../src/screens/qml"

Item {
    id: root
    width: 390
    height: 844

    Component { id: cardComponent; HeroCard { width: 358 } }

    TestCase {
        name: "HeroCard"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
        }

        function test_cases_data() {
            return [
                { tag: "waiting", hero: { case: "waiting", code: "ABCD-EFGH", secondsLeft: 120, fraction: 0.4, countdown: "2:00" },
                  eyebrow: "Ready", icon: "star", tone: "lime", headline: "Pair a laptop to", panel: "waitingPanel" },
                { tag: "sending", hero: { case: "sending", laptop: "Desk", files: 3, bytes: 4096, bytesPerSecond: 100 },
                  eyebrow: "Copying", icon: "transfer", tone: "lime", headline: "Copying to", panel: "sendingPanel" },
                { tag: "connected", hero: { case: "connected", laptop: "Desk" }, counted: true, safe: 1, all: 1,
                  eyebrow: "Caught up", icon: "shield", tone: "lime", headline: "Everything is", panel: "connectedPanel" },
                // Not everything is safe, or not yet counted: never "Everything is copied".
                { tag: "connected, some not safe", hero: { case: "connected", laptop: "Desk" }, counted: true, safe: 1, all: 8,
                  eyebrow: "Not all copied", icon: "info", tone: "dark", headline: "Connected to", panel: "connectedPanel" },
                { tag: "connected, not counted", hero: { case: "connected", laptop: "Desk" }, counted: false, safe: 0, all: 0,
                  eyebrow: "Not all copied", icon: "info", tone: "dark", headline: "Connected to", panel: "connectedPanel" },
                { tag: "connected, nothing here", hero: { case: "connected", laptop: "Desk" }, counted: true, safe: 0, all: 0,
                  eyebrow: "Caught up", icon: "shield", tone: "lime", headline: "Nothing here", panel: "connectedPanel" },
                { tag: "noNetwork", hero: { case: "noNetwork" },
                  eyebrow: "Offline", icon: "wifi", tone: "warn", headline: "Join a network to", panel: "offlinePanel" },
            ]
        }
        function test_cases(data) {
            const card = createTemporaryObject(cardComponent, root,
                                               { hero: data.hero, codeFirst: "ABCD", codeSecond: "EFGH",
                                                 counted: data.counted === undefined ? true : data.counted,
                                                 safeCount: data.safe === undefined ? 1 : data.safe,
                                                 allCount: data.all === undefined ? 1 : data.all,
                                                 sentText: "4.1 kB", speedText: "100 B" })
            compare(findChild(card, "eyebrow").text, data.eyebrow)
            compare(findChild(card, "eyebrow").icon, data.icon)
            compare(findChild(card, "eyebrow").tone, data.tone)
            verify(findChild(card, "headline").text.startsWith(data.headline))
            for (const panel of ["waitingPanel", "sendingPanel", "connectedPanel", "offlinePanel"])
                compare(findChild(card, panel).visible, panel === data.panel, panel)
            if (data.tag === "sending") {
                verify(findChild(card, "headline").text.indexOf("<i>Desk</i>") > 0)  // the laptop is the accent
                compare(findChild(card, "sent").text, "3 files, 4.1 kB sent")
                compare(findChild(card, "speed").text, "100 B/s")
            }
            if (data.tag === "connected") {
                compare(findChild(card, "safeLine").text, "1 photo or video is safe on Desk.")
                verify(!findChild(card, "notSafeLine").visible)
            }
            if (data.tag === "connected, some not safe") {
                verify(findChild(card, "headline").text.indexOf("<i>Desk</i>") > 0)
                compare(findChild(card, "notSafeLine").text, "7 photos and videos are not copied yet.")
            }
            if (data.tag === "waiting") {
                compare(findChild(card, "ring").text, "2:00")
                compare(findChild(card, "codeDash").text, "\u2013")
            }
        }

        function test_code_without_a_dash_is_whole() {
            const card = createTemporaryObject(cardComponent, root,
                                               { hero: { case: "waiting", countdown: "0:00", fraction: 0 }, codeFirst: "ABCDEFGH", codeSecond: "" })
            compare(findChild(card, "codeFirst").text, "ABCDEFGH")
            verify(!findChild(card, "codeDash").visible)
        }

        function test_many_safe_reads_other() {
            const card = createTemporaryObject(cardComponent, root, { hero: { case: "connected", laptop: "Attic" }, safeCount: 4000,
                                                                      safeText: "4,000" })
            compare(findChild(card, "safeLine").text, "4,000 photos and videos are safe on Attic.")
        }

        function test_one_file_is_one_file() {
            const card = createTemporaryObject(cardComponent, root, { hero: { case: "sending", laptop: "Desk", files: 1, bytes: 10 },
                                                                      sentText: "10 B" })
            compare(findChild(card, "sent").text, "1 file, 10 B sent")
        }

        // The code is the one thing the owner must read: at the window's
        // narrowest it shrinks rather than run under the ring.
        function test_the_code_ends_before_the_ring_data() {
            return [{ tag: "390 wide", width: 358 }, { tag: "360 wide", width: 328 }, { tag: "320 wide", width: 288 }]
        }
        function test_the_code_ends_before_the_ring(data) {
            const card = createTemporaryObject(cardComponent, root,
                                               { width: data.width, hero: { case: "waiting", countdown: "4:14", fraction: 0.8 },
                                                 codeFirst: "WWWW", codeSecond: "MMMM" })
            const code = findChild(card, "code")
            const ring = findChild(card, "ring")
            verify(findChild(card, "codeSecond").visible)
            const codeEnd = code.mapToItem(card, code.width, 0).x
            const ringStart = ring.mapToItem(card, 0, 0).x
            verify(codeEnd <= ringStart, "the code ends at " + codeEnd + ", the ring starts at " + ringStart)
            verify(findChild(card, "codeFirst").font.pixelSize >= 18, "still large enough to read")
        }

        // Over a cover, in the light theme too, every text on the card is
        // light on the scrim: 4.5:1 at least over the brightest photo.
        function luminance(c) {
            const channel = v => v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4)
            return 0.2126 * channel(c.r) + 0.7152 * channel(c.g) + 0.0722 * channel(c.b)
        }
        function over(top, below) {
            return Qt.rgba(top.r * top.a + below.r * (1 - top.a), top.g * top.a + below.g * (1 - top.a),
                           top.b * top.a + below.b * (1 - top.a), 1)
        }
        function test_texts_over_a_cover_are_readable_data() {
            return [{ tag: "waiting", hero: { case: "waiting", countdown: "4:14", fraction: 0.8 },
                      names: ["headline", "codeFirst", "codeLabel", "codeHint", "ringText"] },
                    { tag: "sending", hero: { case: "sending", laptop: "Desk", files: 2, bytes: 10, bytesPerSecond: 5 },
                      names: ["sent", "speed", "currentName", "currentDetail"] },
                    { tag: "connected", hero: { case: "connected", laptop: "Desk" }, names: ["safeFigure", "safeLine", "notSafeLine"] },
                    { tag: "noNetwork", hero: { case: "noNetwork" }, names: ["offlinePanel"] }]
        }
        function test_texts_over_a_cover_are_readable(data) {
            const before = Theme.choice
            Theme.choice = "light"
            const card = createTemporaryObject(cardComponent, root,
                                               { hero: data.hero, cover: "cover-1", codeFirst: "ABCD", codeSecond: "EFGH",
                                                 currentAsset: "a1", currentName: "IMG_1.JPG", currentDetail: "2 MB",
                                                 counted: true, safeCount: 1, allCount: 3, sentText: "10 B", speedText: "5 B" })
            // The scrim at its lightest, over a white photo.
            const ground = luminance(over(Theme.colours.scrimTop, Qt.rgba(1, 1, 1, 1)))
            for (const name of data.names) {
                const text = findChild(card, name)
                verify(text !== null, name)
                verify(text.visible, name)
                const ink = luminance(over(text.color, over(Theme.colours.scrimTop, Qt.rgba(1, 1, 1, 1))))
                const contrast = (Math.max(ink, ground) + 0.05) / (Math.min(ink, ground) + 0.05)
                verify(contrast >= 4.5, name + ": " + contrast.toFixed(2) + ":1")
            }
            Theme.choice = before
        }
    }
}
