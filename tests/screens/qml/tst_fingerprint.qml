// The Laptops tab shows the device's fingerprint, which a pairing laptop
// asks its user to compare: 16 groups of four digits in four aligned rows,
// whole at the narrowest window.
import QtQuick
import QtTest
import Lumenvale.Core
import "../../../src/screens/qml"

Item {
    id: root
    width: 320
    height: 844

    readonly property string printed: "3f9a0c1b2d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718293a4b5c6d7e8"

    QtObject {
        id: fakeHub
        property var pairing: ({ code: "K7QM-4TXP", first: "K7QM", second: "4TXP", left: "4:59" })
        property var laptopRows: []
        property var fingerprint: []
        function forget(id) {}
    }

    Component { id: laptopsComponent; LaptopsTab { anchors.fill: parent; hub: fakeHub } }

    TestCase {
        name: "Fingerprint"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            fakeHub.fingerprint = []
        }

        function test_shown_in_groups_the_laptop_user_can_compare() {
            const tab = createTemporaryObject(laptopsComponent, root)
            compare(findChild(tab, "fingerprintCard").visible, false)  // not loaded yet

            const groups = []
            for (let at = 0; at < 64; at += 4) groups.push(root.printed.substr(at, 4))
            fakeHub.fingerprint = groups
            const card = findChild(tab, "fingerprintCard")
            compare(card.visible, true)
            waitForRendering(tab)
            let shown = ""
            for (let i = 0; i < 16; ++i) shown += findChild(tab, "group-" + i).text
            compare(shown, root.printed)  // the digits the laptop prints, in order

            // Four rows of four, each column starting at the same place.
            const first = findChild(tab, "group-0")
            for (let i = 0; i < 16; ++i) {
                const group = findChild(tab, "group-" + i)
                compare(group.y, findChild(tab, "group-" + (i - i % 4)).y)
                compare(group.x, findChild(tab, "group-" + (i % 4)).x)
                compare(group.width, first.width)
                if (i >= 4) verify(group.y > findChild(tab, "group-" + (i - 4)).y)
            }
            // Whole inside the card at the window's narrowest.
            const grid = findChild(tab, "fingerprint")
            const right = grid.mapToItem(card, grid.width, 0).x
            verify(right <= card.width - 16, "the last column ends at " + right + " of " + card.width)
        }
    }
}
