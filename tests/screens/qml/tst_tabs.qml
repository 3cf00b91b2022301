// The Photos, Laptops and Settings tabs, the viewer, the delete sheet and
// the app frame that holds them. The Photos tab runs on a real model over
// sample assets; the hub is a stand-in that records what it is asked.
import QtQuick
import QtTest
import Lumenvale.Core
import "../../../src/screens/qml"

Item {
    id: root
    width: 390
    height: 844

    SampleHub { id: fakeHub }
    SampleHome { id: fakeHome }
    SampleDeleteSheet {
        id: sheetModel
        count: 40
        thumbIds: ["s0", "s1", "s2", "s3", "s4", "s5", "s6", "s7", "s8", "s9", "s10", "s11"]
        fromText: "From Maya's MacBook"
    }

    Component { id: photosComponent; PhotosTab { anchors.fill: parent; hub: fakeHub } }
    Component { id: viewerComponent; Viewer { anchors.fill: parent } }
    Component { id: laptopsComponent; LaptopsTab { anchors.fill: parent; hub: fakeHub } }
    Component { id: settingsComponent; SettingsTab { anchors.fill: parent; hub: fakeHub; access: "full"; version: "2.3.4" } }
    Component { id: sheetComponent; DeleteSheet { sheet: sheetModel } }
    Component { id: sideways; Item { width: 720; height: 360 } }
    Component {
        id: frameComponent
        AppFrame { anchors.fill: parent; hub: fakeHub; home: fakeHome; deleteSheet: sheetModel }
    }

    function rowsOf(list) {
        const rows = []
        for (let i = 0; i < list.count; ++i) rows.push(list.itemAtIndex(i))
        return rows
    }

    TestCase {
        name: "Tabs"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            fakeHub.calls = []
            fakeHub.pairing = ({})
            fakeHub.laptopRows = []
            fakeHub.deleteAsk = ({})
            fakeHub.theme = "system"
            fakeHub.allowDelete = false
            sheetModel.count = 40
            sheetModel.dateLine = ""
        }

        function test_photos_grid_by_month_with_marks_and_badges() {
            const photos = samples.photos(1000, 2, -1)
            const tab = createTemporaryObject(photosComponent, root, { photos: photos })
            tryCompare(photos, "loaded", 300)
            tryCompare(photos, "counted", true)
            compare(photos.done, false)
            const grid = findChild(tab, "grid")
            tryVerify(() => grid.itemAtIndex(2) !== null)
            const first = grid.itemAtIndex(0)
            compare(first.kind, "month")
            compare(first.title, "June 2024")
            const tiles = grid.itemAtIndex(1).tiles
            compare(tiles.length, 3)
            compare(tiles[0].safe, true)   // every second one is safe
            compare(tiles[1].safe, false)
            compare(grid.itemAtIndex(2).tiles[0].badge, "1:15")  // position 3, a video of 75.4 s
            compare(findChild(tab, "summaryText").text, "500 of 1,000 are safe on a laptop")
            compare(findChild(tab, "percentText").text, "50% safe")
            compare(findChild(tab, "filter-notYet").text, "Not yet 500")

            let opened = -1
            tab.opened.connect(position => opened = position)
            waitForRendering(tab)
            mouseClick(grid, 16 + 10, grid.itemAtIndex(1).y - grid.contentY + 10)
            compare(opened, 0)
        }

        function test_photos_filter_that_shows_nothing_says_so() {
            const photos = samples.photos(700, 0, -1)  // nothing safe
            const tab = createTemporaryObject(photosComponent, root, { photos: photos })
            tryCompare(photos, "counted", true)
            waitForRendering(tab)
            mouseClick(findChild(tab, "filter-safe"))
            compare(photos.filter, "safe")
            tryCompare(photos, "done", true)
            compare(photos.loaded, 700)
            const empty = findChild(tab, "emptyText")
            compare(empty.visible, true)
            compare(empty.text, "Nothing here under this filter.")
        }

        function test_photos_empty_library_and_failed_load() {
            const none = createTemporaryObject(photosComponent, root, { photos: samples.photos(0, 0, -1) })
            tryCompare(none.photos, "done", true)
            compare(findChild(none, "emptyText").text, "No photos or videos in the chosen folders yet.")
            none.destroy()
            const failing = samples.photos(1000, 0, 0)
            const tab = createTemporaryObject(photosComponent, root, { photos: failing })
            tryCompare(failing, "done", true)
            compare(failing.loaded, 0)
        }

        function test_viewer_lines_data() {
            return [
                { tag: "safe, sized", asset: { id: "s1", date: "Friday, June 28, 2024 \u00B7 4:28 PM", width: 4032, height: 3024, safeOn: ["Maya's MacBook", "Studio"] },
                  size: "4032 × 3024", title: "Safe on a laptop", body: "Held by Maya's MacBook, Studio." },
                { tag: "not safe, width 0", asset: { id: "s2", date: "taken on a boat", width: 0, height: 3024, safeOn: [] },
                  size: "", title: "Not on a laptop yet", body: "No paired laptop holds this one. Keep it here until one has copied it." }
            ]
        }
        function test_viewer_lines(data) {
            const viewer = createTemporaryObject(viewerComponent, root, { asset: data.asset })
            compare(findChild(viewer, "dateLine").text, data.asset.date)
            compare(findChild(viewer, "sizeLine").visible, data.size.length > 0)
            if (data.size.length > 0) compare(findChild(viewer, "sizeLine").text, data.size)
            compare(findChild(viewer, "safeTitle").text, data.title)
            compare(findChild(viewer, "safeBody").text, data.body)
            let closed = 0
            viewer.close.connect(() => ++closed)
            mouseClick(findChild(viewer, "back"))
            compare(closed, 1)
            // And by keyboard: the arrows step, Escape closes.
            let steps = []
            viewer.step.connect(by => steps.push(by))
            keyClick(Qt.Key_Right)
            keyClick(Qt.Key_Left)
            compare(steps, [1, -1])
            keyClick(Qt.Key_Escape)
            compare(closed, 2)
        }

        function test_laptops_with_nothing_paired() {
            const tab = createTemporaryObject(laptopsComponent, root)
            compare(findChild(tab, "codeCard").visible, false)
            compare(findChild(tab, "none").visible, true)
            compare(findChild(tab, "none").text, "No laptop is paired yet.")
            compare(findChild(tab, "forgetSheet").visible, false)
        }

        function test_laptops_code_rows_and_forget() {
            fakeHub.pairing = { code: "K7QM-4TXP", first: "K7QM", second: "4TXP", left: "0:01" }
            fakeHub.laptopRows = [{ id: "l1", name: "Maya's MacBook", live: true, day: "May 3, 2024" },
                              { id: "l2", name: "Studio iMac", live: false, day: "Jan 14, 2024" }]
            const tab = createTemporaryObject(laptopsComponent, root)
            compare(findChild(tab, "codeCard").visible, true)
            compare(findChild(tab, "codeLeft").text, "Expires in 0:01")
            compare(findChild(tab, "codeFirst").text, "K7QM")
            compare(findChild(tab, "none").visible, false)
            compare(findChild(findChild(tab, "laptop-l1"), "status").text, "Here now")
            compare(findChild(findChild(tab, "laptop-l2"), "status").text, "Paired Jan 14, 2024")

            mouseClick(findChild(findChild(tab, "laptop-l2"), "forget"))
            compare(tab.sheetOpen, true)
            waitForRendering(tab)
            mouseClick(findChild(tab, "forgetCancel"))
            compare(tab.sheetOpen, false)
            compare(fakeHub.calls.length, 0)
            mouseClick(findChild(findChild(tab, "laptop-l2"), "forget"))
            mouseClick(findChild(tab, "forgetConfirm"))
            compare(fakeHub.calls, ["forget l2"])
            compare(tab.sheetOpen, false)
        }

        function test_settings_switch_themes_access_and_version() {
            const tab = createTemporaryObject(settingsComponent, root)
            compare(findChild(tab, "allowDelete").on, false)
            findChild(tab, "allowDelete").toggled(true)
            compare(fakeHub.calls, ["allowDelete true"])
            compare(findChild(tab, "allowDelete").on, true)
            compare(findChild(tab, "theme-system").on, true)
            mouseClick(findChild(tab, "theme-dark"))
            compare(fakeHub.calls[1], "theme dark")
            compare(findChild(tab, "theme-dark").on, true)
            compare(findChild(tab, "theme-system").on, false)
            compare(findChild(tab, "accessTag").text, "Allowed")
            tab.access = "limited"
            compare(findChild(tab, "accessTag").text, "Some folders")
            compare(findChild(tab, "version").text, "Version 2.3.4")
            let asked = 0
            tab.openSettings.connect(() => ++asked)
            mouseClick(findChild(tab, "openSettings"))
            compare(asked, 1)
        }

        // The texts are the model's (tested in C++); the sheet shows them.
        function test_delete_sheet_texts_data() {
            return [
                { tag: "forty", count: 40, thumbs: 12, title: "Delete 40 photos from this device?", confirm: "Move 40 photos to the Trash" },
                { tag: "one", count: 1, thumbs: 1, title: "Delete 1 photo from this device?", confirm: "Move 1 photo to the Trash" }
            ]
        }
        function test_delete_sheet_texts(data) {
            sheetModel.count = data.count
            const saved = sheetModel.thumbIds
            sheetModel.thumbIds = saved.slice(0, data.thumbs)
            const sheet = createTemporaryObject(sheetComponent, root)
            compare(findChild(sheet, "title").text, data.title)
            compare(findChild(sheet, "confirm").text, data.confirm)
            compare(findChild(sheet, "strip").count, data.thumbs)
            compare(findChild(sheet, "from").text, "From Maya's MacBook")
            compare(findChild(sheet, "dates").visible, false)  // not read yet
            sheetModel.dateLine = "Taken May 1, 2024"
            compare(findChild(sheet, "dates").visible, true)
            sheetModel.thumbIds = saved
        }

        // A phone on its side (360 tall): the sheet scrolls, so that both
        // answers can be reached, and Escape answers "Keep them".
        function test_delete_sheet_on_its_side_reaches_both_answers() {
            const landscape = createTemporaryObject(sideways, root)
            const sheet = createTemporaryObject(sheetComponent, landscape)
            const scroll = findChild(sheet, "sheetScroll")
            verify(scroll.interactive, "taller than the window: it scrolls")
            scroll.contentY = scroll.contentHeight - scroll.height
            for (const name of ["confirm", "keep"]) {
                const button = findChild(sheet, name)
                const top = button.mapToItem(landscape, 0, 0).y
                verify(top >= 0 && top + button.height <= landscape.height, name + " at " + top)
            }
            let answers = []
            sheet.no.connect(() => answers.push("keep"))
            sheet.yes.connect(() => answers.push("delete"))
            keyClick(Qt.Key_Escape)
            compare(answers, ["keep"])
            mouseClick(sheet, 10, 5)  // a stray tap on the scrim answers nothing
            compare(answers, ["keep"])
        }

        function test_frame_tabs_and_the_delete_sheet_answers() {
            const frame = createTemporaryObject(frameComponent, root, { photos: samples.photos(10, 0, -1) })
            compare(frame.tab, "home")
            const bar = findChild(frame, "tabBar")
            waitForRendering(frame)
            mouseClick(bar, bar.width * 5 / 8, bar.height / 2)  // the third of four: Laptops
            compare(frame.tab, "laptops")
            mouseClick(bar, bar.width * 7 / 8, bar.height / 2)
            compare(frame.tab, "settings")

            const sheet = findChild(frame, "deleteSheet")
            compare(sheet.visible, false)
            fakeHub.deleteAsk = { id: "q1", ids: ["a"], laptop: "" }
            compare(sheet.visible, true)
            mouseClick(findChild(sheet, "keep"))
            compare(fakeHub.calls, ["answer false"])
            compare(sheet.visible, false)
            fakeHub.deleteAsk = { id: "q2", ids: ["a"], laptop: "" }
            mouseClick(findChild(sheet, "confirm"))
            compare(fakeHub.calls, ["answer false", "answer true"])
        }
    }
}
