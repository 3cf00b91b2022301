// The rest of the building blocks: the headline's serif accent, switches,
// chips and the tab bar telling what was tapped, and the bar and ring
// clamping what they are given.
import QtQuick
import QtTest
import Lumenvale.Core
import "../../../src/screens/components"

Item {
    id: root
    width: 390
    height: 844

    Component { id: headlineComponent; Headline { width: 358 } }
    Component { id: naturalHeadline; Headline {} }  // as wide as what it draws
    TextMetrics { id: serifMetrics; font.family: Theme.serifFamily; font.italic: true; font.pixelSize: 34 }
    TextMetrics { id: sansMetrics; font.family: Theme.sansFamily; font.italic: true; font.pixelSize: 34 }
    Component { id: switchComponent; LumenvaleSwitch { width: 358; label: "Allow deleting"; description: "A laptop may ask." } }
    Component { id: chipComponent; Chip { text: "Dark" } }
    Component {
        id: keyboardComponent
        Column {
            property var told: []
            LumenvaleButton { objectName: "first"; text: "Allow"; onClicked: parent.told.push("allow") }
            LumenvaleSwitch { objectName: "toggle"; width: 300; label: "Allow deleting"; onToggled: on => parent.told.push("switch " + on) }
            Chip { objectName: "chip"; text: "Dark"; onClicked: parent.told.push("chip") }
        }
    }
    Component { id: progressComponent; Progress { width: 200 } }
    Component { id: ringComponent; Ring { text: "4:59" } }
    Component {
        id: tabBarComponent
        TabBar {
            width: 358
            tabs: [{ value: "home", label: "Home", icon: "home" }, { value: "photos", label: "Photos", icon: "image" },
                   { value: "laptops", label: "Laptops", icon: "laptop" }, { value: "settings", label: "Settings", icon: "gear" }]
            value: "home"
        }
    }
    Component { id: wellComponent; IconWell { icon: "wifi" } }
    Component { id: infoComponent; InfoRow { width: 358; icon: "info"; title: "Title"; detail: "Detail" } }

    TestCase {
        name: "Controls"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            Theme.choice = "light"
        }

        function test_headline_accent_in_the_serif() {
            const headline = createTemporaryObject(headlineComponent, root,
                                                   { plain: "Your photos,", accent: "safe", after: "at home & <b>" })
            verify(headline.text.indexOf("<i>safe</i>") > 0)
            verify(headline.text.indexOf(Theme.serifFamily) > 0)
            verify(headline.text.indexOf("&amp; &lt;b&gt;") > 0)  // texts are never markup
            const plain = createTemporaryObject(headlineComponent, root, { plain: "Only plain" })
            compare(plain.text, "Only plain")
        }

        // What is drawn, not only what the markup names: styled text once
        // drew the accent in a slanted sans.
        function test_headline_accent_is_drawn_in_the_serif() {
            const headline = createTemporaryObject(naturalHeadline, root, { plain: "", accent: "safely" })
            serifMetrics.text = sansMetrics.text = "safely"
            verify(Math.abs(serifMetrics.advanceWidth - sansMetrics.advanceWidth) > 6,
                   "the two faces draw the accent at different widths")
            verify(Math.abs(headline.implicitWidth - serifMetrics.advanceWidth) < 4,
                   "drawn " + headline.implicitWidth + ", serif " + serifMetrics.advanceWidth + ", sans " + sansMetrics.advanceWidth)
        }

        // Without a pointer: Tab moves a visible ring from control to
        // control, and Enter, Return or Space acts on the one that has it.
        function test_tab_moves_a_visible_focus_and_enter_acts() {
            const controls = createTemporaryObject(keyboardComponent, root)
            controls.forceActiveFocus()
            const first = findChild(controls, "first")
            keyClick(Qt.Key_Tab)
            verify(first.activeFocus)
            verify(first.visualFocus)
            keyClick(Qt.Key_Return)
            keyClick(Qt.Key_Tab)
            verify(findChild(controls, "toggle").activeFocus)
            keyClick(Qt.Key_Space)
            keyClick(Qt.Key_Tab)
            verify(findChild(controls, "chip").activeFocus)
            keyClick(Qt.Key_Enter)
            compare(controls.told, ["allow", "switch true", "chip"])
        }

        function test_switch_and_chip_tell_taps() {
            const control = createTemporaryObject(switchComponent, root, { on: false })
            let told = []
            control.toggled.connect(on => told.push(on))
            mouseClick(control)
            compare(told, [true])
            control.on = true
            mouseClick(control)
            compare(told, [true, false])

            const chip = createTemporaryObject(chipComponent, root, { on: true })
            compare(chip.color.toString(), "#0b0b0b")
            let clicks = 0
            chip.clicked.connect(() => ++clicks)
            mouseClick(chip)
            compare(clicks, 1)
        }

        function test_tab_bar_tells_the_value() {
            const bar = createTemporaryObject(tabBarComponent, root)
            let chosen = ""
            bar.chosen.connect(value => chosen = value)
            // The third of four equal items.
            mouseClick(bar, 6 + (bar.width - 12) * 2.5 / 4, bar.height / 2)
            compare(chosen, "laptops")
        }

        function test_bar_and_ring_clamp_data() {
            return [
                { tag: "empty", fraction: 0, shown: 0 },
                { tag: "half", fraction: 0.5, shown: 0.5 },
                { tag: "over", fraction: 1.7, shown: 1 },
                { tag: "under", fraction: -0.2, shown: 0 },
                { tag: "not a number", fraction: NaN, shown: 0 },
            ]
        }
        function test_bar_and_ring_clamp(data) {
            const bar = createTemporaryObject(progressComponent, root, { fraction: data.fraction })
            compare(bar.shown, data.shown)
            compare(bar.children[0].width, 200 * data.shown)
            const ring = createTemporaryObject(ringComponent, root, { fraction: data.fraction })
            compare(ring.shown, data.shown)
        }

        function test_wells_and_rows() {
            const well = createTemporaryObject(wellComponent, root)
            compare(well.width, 44)
            compare(well.color.toString(), "#ebebeb")
            const info = createTemporaryObject(infoComponent, root)
            verify(info.height >= 36)
        }
    }
}
