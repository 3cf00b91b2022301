// The Photos tab: the headline, how much is safe, the three filters and the
// library by month as a grid of tiles, read page by page. It only binds:
// `photos` is the tab's model (its loading rules, filter and rows), `hub`
// formats counts. A tile tapped tells its position through `opened`.
import QtQuick
import Lumenvale.Core
import "../components"

Rectangle {
    id: tab
    required property var photos
    required property var hub
    signal opened(int position)

    readonly property int gap: 3
    readonly property real tileSize: (list.width - 32 - gap * (photos.columns - 1)) / photos.columns

    color: Theme.colours.bg
    Component.onCompleted: photos.appeared()

    Binding {
        target: tab.photos
        property: "tabWidth"
        value: tab.width
    }

    ListView {
        id: list
        objectName: "grid"
        anchors.fill: parent
        model: tab.photos
        cacheBuffer: 800
        reuseItems: true
        footer: Item { width: 1; height: 120 }  // room above the tab bar
        header: Column {
            x: 16
            width: list.width - 32
            topPadding: 16
            bottomPadding: 8
            spacing: 16

            Headline {
                width: parent.width
                plain: qsTrId("photos.headline")
                accent: qsTrId("photos.headline.accent")
            }

            LumenvaleCard {
                objectName: "summary"
                width: parent.width
                Progress {
                    width: parent.width
                    fraction: tab.photos.allCount > 0 ? tab.photos.safeCount / tab.photos.allCount : 0
                }
                Item {
                    width: parent.width
                    height: Math.max(summaryText.height, percentText.height)
                    LumenvaleText {
                        id: summaryText
                        objectName: "summaryText"
                        width: parent.width - percentText.width - 12
                        text: qsTrId("photos.safe.summary").arg(tab.hub.formatCount(tab.photos.safeCount))
                                                           .arg(tab.hub.formatCount(tab.photos.allCount))
                        size: 15
                        lineHeightPoints: 20
                        weight: 500
                    }
                    LumenvaleText {
                        id: percentText
                        objectName: "percentText"
                        anchors.right: parent.right
                        text: qsTrId("photos.percent").arg(tab.photos.percent)
                        size: 15
                        lineHeightPoints: 20
                        weight: 600
                        wrapMode: Text.NoWrap
                    }
                }
                LumenvaleText {
                    width: parent.width
                    text: qsTrId("photos.freeHint")
                    color: Theme.colours.muted
                    size: 13
                    lineHeightPoints: 18
                }
            }

            Flow {
                objectName: "filters"
                width: parent.width
                spacing: 8
                // Kept in the layout before the counts come, so that the
                // grid under it does not jump when they do.
                opacity: tab.photos.counted ? 1 : 0
                enabled: tab.photos.counted
                Repeater {
                    model: [
                        { value: "all", key: "photos.filter.all", count: tab.photos.allCount },
                        { value: "notYet", key: "photos.filter.not", count: tab.photos.allCount - tab.photos.safeCount },
                        { value: "safe", key: "photos.filter.safe", count: tab.photos.safeCount }
                    ]
                    delegate: Chip {
                        required property var modelData
                        objectName: "filter-" + modelData.value
                        text: qsTrId(modelData.key).arg(tab.hub.formatCount(modelData.count))
                        on: tab.photos.filter === modelData.value
                        onClicked: tab.photos.filter = modelData.value
                    }
                }
            }

            LumenvaleText {
                objectName: "emptyText"
                width: parent.width
                visible: tab.photos.emptyKey.length > 0
                text: visible ? qsTrId(tab.photos.emptyKey) : ""
                color: Theme.colours.muted
                size: 15
                lineHeightPoints: 20
            }
        }

        delegate: Item {
            id: row
            required property string kind
            required property string title
            required property var tiles
            required property bool last
            width: list.width
            height: kind === "month" ? 48 : tab.tileSize + tab.gap

            // The final row asks for the next page as it comes on screen.
            Component.onCompleted: if (last) tab.photos.more()
            onLastChanged: if (last) tab.photos.more()

            LumenvaleText {
                visible: row.kind === "month"
                x: 16
                anchors.bottom: parent.bottom
                anchors.bottomMargin: 10
                text: row.title
                size: 17
                lineHeightPoints: 22
                weight: 600
            }
            // One tile per column, kept while rows are reused: a row that
            // comes back on screen only binds anew.
            Row {
                visible: row.kind === "tiles"
                x: 16
                spacing: tab.gap
                Repeater {
                    model: tab.photos.columns
                    delegate: PhotoTile {
                        required property int index
                        readonly property var entry: index < row.tiles.length ? row.tiles[index] : null
                        visible: entry !== null
                        size: tab.tileSize
                        assetId: entry ? entry.id : ""
                        safe: entry ? entry.safe : false
                        badge: entry ? entry.badge : ""
                        onClicked: if (entry) tab.opened(entry.position)
                    }
                }
            }
        }
    }
}
