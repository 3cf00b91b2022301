// What a person needs to see and reach: every control takes taps over at
// least 44 points, the off switch stands out from its card in both themes,
// a tile that is not safe carries a mark of its own shape, the Photos tab
// keeps its place across tab switches, and the connection card names only
// the laptops the client runs on.
import QtQuick
import QtTest
import Lumenvale.Core
import "../../../src/screens/components"
import "../../../src/screens/qml"

Item {
    id: root
    width: 390
    height: 844

    SampleHub { id: fakeHub }
    SampleHome { id: fakeHome }
    SampleDeleteSheet { id: sheetModel }

    Component { id: smallButton; LumenvaleButton { text: "Forget"; variant: "ghost"; small: true } }
    Component { id: chipComponent; Chip { text: "Dark" } }
    Component { id: bareSwitch; LumenvaleSwitch { width: 80 } }
    Component { id: cardSwitch; LumenvaleCard { width: 358; LumenvaleSwitch { width: parent.width; label: "Allow" } } }
    Component { id: tileComponent; PhotoTile { assetId: ""; size: 120 } }
    Component {
        id: frameComponent
        AppFrame { anchors.fill: parent; hub: fakeHub; home: fakeHome; deleteSheet: sheetModel }
    }

    // contrast is the WCAG contrast ratio of two opaque colours.
    function contrast(a, b) {
        function channel(c) { return c <= 0.03928 ? c / 12.92 : Math.pow((c + 0.055) / 1.055, 2.4) }
        function luminance(c) { return 0.2126 * channel(c.r) + 0.7152 * channel(c.g) + 0.0722 * channel(c.b) }
        const la = luminance(a), lb = luminance(b)
        return (Math.max(la, lb) + 0.05) / (Math.min(la, lb) + 0.05)
    }

    TestCase {
        name: "Reach"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            Theme.choice = "light"
        }
        function cleanup() {
            Theme.choice = "light"
        }

        function test_small_button_chip_and_switch_take_taps_over_44_points() {
            waitForRendering(root)
            const button = createTemporaryObject(smallButton, root, { x: 20, y: 20 })
            verify(button.height >= 44, "a small button is " + button.height + " high")
            verify(button.background.height <= 36)  // still drawn small
            let pressed = 0
            button.clicked.connect(() => ++pressed)
            mouseClick(button, button.width / 2, 1)
            compare(pressed, 1)

            const chip = createTemporaryObject(chipComponent, root, { x: 20, y: 100 })
            let chosen = 0
            chip.clicked.connect(() => ++chosen)
            // 4 points above and below the drawn chip still choose it.
            mouseClick(root, chip.x + chip.width / 2, chip.y - 3)
            mouseClick(root, chip.x + chip.width / 2, chip.y + chip.height + 3)
            compare(chosen, 2)

            const toggle = createTemporaryObject(bareSwitch, root, { x: 20, y: 200 })
            verify(toggle.height >= 44, "a switch is " + toggle.height + " high")
        }

        function test_off_switch_stands_out_from_its_card_data() {
            return [{ tag: "light", theme: "light" }, { tag: "dark", theme: "dark" }]
        }
        function test_off_switch_stands_out_from_its_card(data) {
            Theme.choice = data.theme
            const card = createTemporaryObject(cardSwitch, root)
            const track = findChild(card, "track")
            const ratio = root.contrast(track.color, Theme.colours.surface)
            // 3:1, what a control's edge needs to be seen.
            verify(ratio >= 3, "the off track against its card: " + ratio.toFixed(2) + ":1")
        }

        function test_tiles_mark_both_safe_and_not_safe_by_shape() {
            const tile = createTemporaryObject(tileComponent, root, { safe: false })
            const mark = findChild(tile, "safeMark")
            compare(mark.visible, true)
            const notSafe = mark.shape
            tile.safe = true
            compare(mark.visible, true)
            verify(mark.shape !== notSafe, "both marks are " + notSafe)
            compare(mark.shape, "check")
            compare(tile.Accessible.name, "Safe on a laptop")
        }

        function test_photos_tab_keeps_its_place_across_tabs() {
            const frame = createTemporaryObject(frameComponent, root, { photos: samples.photos(600, 0, -1) })
            frame.tab = "photos"
            let grid = null
            tryVerify(() => (grid = findChild(frame, "grid")) !== null && grid.contentHeight > 3000)
            const tab = grid.parent
            grid.contentY = 1500
            frame.tab = "laptops"
            frame.tab = "home"
            frame.tab = "photos"
            const again = findChild(findChild(frame, "photosContent"), "grid")
            verify(again === grid, "the Photos tab was made anew")
            compare(again.contentY, 1500)
            compare(again.parent, tab)
        }

        function test_the_connection_card_names_the_laptops_it_serves() {
            const platforms = qsTrId("cable.platforms")
            compare(platforms, "Linux laptops")
            verify(platforms.indexOf("macOS") < 0 && platforms.indexOf("Windows") < 0)
        }
    }
}
