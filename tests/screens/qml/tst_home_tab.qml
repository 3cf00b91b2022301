// The Home tab bound to stand-ins for the hub and its view state: counters
// as given, notices in order with their actions, address rows that show
// their copied state, and the keep-open reminder only while a laptop is
// present.
import QtQuick
import QtTest
import Lumenvale.Core
import "../../../src/screens/qml"

Item {
    id: root
    width: 390
    height: 844

    SampleHub {
        id: fakeHub
        hero: ({ case: "waiting", code: "ABCD-EFGH", secondsLeft: 200, fraction: 0.66, countdown: "3:20" })
        lateDeleted: 2
        // Counts go through the hub's format: marked, to see that they do.
        function formatCount(n) { return "#" + n }
    }
    SampleHome {
        id: fakeHome
        onPhone: "\u2013"
        safe: "\u2013"
        notSafe: "\u2013"
        counted: false
        safeCount: 0
        allCount: 0
        // The home model looks the file under way up off the main thread.
        currentName: fakeHub.currentAsset.length > 0 ? "IMG_" + fakeHub.currentAsset + ".JPG" : ""
        currentDetail: fakeHub.currentAsset.length > 0 ? "20 KB \u00B7 May 1, 2024" : ""
        codeFirst: "ABCD"
        codeSecond: "EFGH"
        notices: [{ key: "access.limited", tone: "warn", icon: "info", action: "access.choose" },
                  { key: "delete.late", tone: "info", icon: "info", action: "delete.late.ok" }]
        addressRows: [{ text: "192.168.1.5:41820", interface: "wlan0" }, { text: "10.0.0.2:41820", interface: "eth0" }]
    }
    Component { id: tabComponent; HomeTab { anchors.fill: parent; hub: fakeHub; home: fakeHome } }

    TestCase {
        name: "HomeTab"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
        }

        function test_home_tab() {
            const tab = createTemporaryObject(tabComponent, root)
            compare(fakeHome.shownCalls, 1)
            // Notices in their order, with their texts and actions.
            const notices = findChild(tab, "notices")
            compare(notices.count, 2)
            compare(notices.itemAt(0).title, "Some folders cannot be read")
            compare(notices.itemAt(1).message, "2 photos and videos were deleted after the laptop stopped waiting.")
            let chose = 0
            tab.chooseMore.connect(() => ++chose)
            notices.itemAt(0).action()
            notices.itemAt(1).action()
            compare(chose, 1)
            compare(fakeHub.calls, ["dismissLateDeleted"])
            // Not present: no reminder to keep the app open.
            verify(!findChild(tab, "keepOpen").visible)
            fakeHub.hero = { case: "connected", laptop: "Desk" }
            verify(findChild(tab, "keepOpen").visible)
            compare(findChild(tab, "hero").safeText, "#0")  // counts go through the owner's format
            // The file under way, by its name.
            fakeHub.hero = { case: "sending", laptop: "Desk", files: 1, bytes: 10, bytesPerSecond: 5 }
            fakeHub.currentAsset = "7"
            verify(findChild(tab, "current").visible)
            compare(findChild(tab, "currentName").text, "IMG_7.JPG")
            compare(findChild(tab, "currentDetail").text, "20 KB \u00B7 May 1, 2024")
            fakeHub.currentAsset = ""
            verify(!findChild(tab, "current").visible)
            fakeHub.hero = { case: "noNetwork" }
            verify(!findChild(tab, "keepOpen").visible)
            // Copying a row marks that row only.
            const first = findChild(tab, "copy0"), second = findChild(tab, "copy1")
            compare(first.text, "Copy")
            compare(first.iconName, "copy")
            mouseClick(second)
            compare(fakeHome.copies, ["10.0.0.2:41820"])
            compare(second.text, "Copied")
            compare(second.iconName, "check")
            compare(first.text, "Copy")
            let settings = 0
            tab.settings.connect(() => ++settings)
            const settingsButton = findChild(tab, "settingsButton")
            compare(settingsButton.iconName, "gear")  // the header's button carries its gear
            mouseClick(settingsButton)
            compare(settings, 1)
        }
    }
}
