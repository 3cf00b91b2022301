// Round buttons and the sheet that rises over a scrim.
import QtQuick
import QtTest
import Lumenvale.Core
import "../../../src/screens/components"

Item {
    id: root
    width: 390
    height: 844

    Component { id: roundComponent; RoundButton { iconName: "gear"; label: "Settings" } }
    Component {
        id: sheetComponent
        BrandSheet {
            LumenvaleText { text: "Forget this laptop?" }
            LumenvaleButton { objectName: "inside"; text: "Forget"; variant: "danger" }
        }
    }

    TestCase {
        name: "Sheets"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
        }

        function test_round_button() {
            const button = createTemporaryObject(roundComponent, root)
            compare(button.width, 44)
            compare(button.background.radius, 22)
            compare(button.Accessible.name, "Settings")
            let clicks = 0
            button.clicked.connect(() => ++clicks)
            mouseClick(button)
            compare(clicks, 1)
        }

        function test_sheet_dismisses_from_the_scrim_only() {
            const sheet = createTemporaryObject(sheetComponent, root)
            const panel = findChild(sheet, "panel")
            verify(panel.height < root.height)
            compare(panel.y + panel.height, root.height)  // sits on the bottom edge
            let dismissed = 0
            sheet.dismiss.connect(() => ++dismissed)
            mouseClick(panel, panel.width / 2, 20)
            compare(dismissed, 0)
            mouseClick(sheet, root.width / 2, 10)  // the scrim above the panel
            compare(dismissed, 1)
            let forgot = 0
            findChild(sheet, "inside").clicked.connect(() => ++forgot)
            mouseClick(findChild(sheet, "inside"))
            compare(forgot, 1)
            compare(dismissed, 1)
        }
    }
}
