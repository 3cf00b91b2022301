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
                { tag: "connected", hero: { case: "connected", laptop: "Desk" },
                  eyebrow: "Caught up", icon: "shield", tone: "lime", headline: "Everything is", panel: "connectedPanel" },
                { tag: "noNetwork", hero: { case: "noNetwork" },
                  eyebrow: "Offline", icon: "wifi", tone: "warn", headline: "Join a network to", panel: "offlinePanel" },
            ]
        }
        function test_cases(data) {
            const card = createTemporaryObject(cardComponent, root,
                                               { hero: data.hero, codeFirst: "ABCD", codeSecond: "EFGH", safeCount: 1,
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
            if (data.tag === "connected")
                compare(findChild(card, "safeLine").text, "1 photo is safe on Desk.")
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
            compare(findChild(card, "safeLine").text, "4,000 photos are safe on Attic.")
        }
    }
}
