// The live bar's sweep: where its highlight is follows the time alone.
import QtQuick
import QtTest
import Lumenvale.Core
import "../../../src/screens/components"

Item {
    id: root
    width: 390
    height: 100

    Component { id: barComponent; LiveBar { width: 200; visible: false } }

    TestCase {
        name: "LiveBar"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
        }

        function test_sweep_data() {
            return [
                { tag: "start", elapsed: 0, sweep: 0 },
                { tag: "half", elapsed: 650, sweep: 0.5 },
                { tag: "next round", elapsed: 1300 + 325, sweep: 0.25 },
            ]
        }
        function test_sweep(data) {
            const bar = createTemporaryObject(barComponent, root, { since: new Date(1000000), now: 1000000 + data.elapsed })
            compare(bar.sweep, data.sweep)
            const highlight = findChild(bar, "highlight")
            compare(highlight.x, -60 + 260 * data.sweep)
        }
    }
}
