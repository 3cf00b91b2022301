// The first launch's screens: the welcome screen's texts and its start, and
// the permissions screen in each state of photo access.
import QtQuick
import QtTest
import Lumenvale.Core
import "../../../src/screens/qml"

Item {
    id: root
    width: 390
    height: 844

    Component { id: welcomeComponent; WelcomeScreen { anchors.fill: parent } }
    Component { id: permissionsComponent; PermissionsScreen { anchors.fill: parent } }

    TestCase {
        name: "FirstScreens"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
        }

        function test_welcome() {
            const screen = createTemporaryObject(welcomeComponent, root)
            const start = findChild(screen, "start")
            verify(start)
            compare(start.text, "Get started")  // the catalogue's text, not its key
            compare(findChild(screen, "appName").text, "Lumenvale")
            let started = 0
            screen.start.connect(() => ++started)
            mouseClick(start)
            compare(started, 1)
        }

        function test_permissions_data() {
            return [
                { tag: "notAsked", allow: true, openSettings: false, grantedTag: false, limited: false, denied: false, go: false },
                { tag: "denied", allow: false, openSettings: true, grantedTag: false, limited: false, denied: true, go: false },
                { tag: "limited", allow: false, openSettings: false, grantedTag: true, limited: true, denied: false, go: true },
                { tag: "full", allow: false, openSettings: false, grantedTag: true, limited: false, denied: false, go: true },
            ]
        }
        function test_permissions(data) {
            const screen = createTemporaryObject(permissionsComponent, root, { access: data.tag })
            compare(findChild(screen, "allow").visible, data.allow)
            compare(findChild(screen, "openSettings").visible, data.openSettings)
            compare(findChild(screen, "grantedTag").visible, data.grantedTag)
            if (data.grantedTag)
                compare(findChild(screen, "grantedTag").text, data.tag === "limited" ? "Some folders" : "Allowed")
            compare(findChild(screen, "limitedNotice").visible, data.limited)
            compare(findChild(screen, "deniedNotice").visible, data.denied)
            const go = findChild(screen, "continue")
            compare(go.enabled, data.go)
            let continued = 0, allowed = 0
            screen.continueOn.connect(() => ++continued)
            screen.allow.connect(() => ++allowed)
            mouseClick(go)
            if (data.allow) findChild(screen, "allow").clicked()
            compare(allowed, data.allow ? 1 : 0)
            compare(continued, data.go ? 1 : 0)
        }
    }
}
