// The device's certificate fingerprint as a person compares it with what a
// pairing laptop prints: groups of four hex digits in rows of four, every
// digit in a cell of its own width so that the columns line up as they
// would in a fixed-width font.
import QtQuick
import Lumenvale.Core
import "../components"

Grid {
    id: grid
    // groups: the fingerprint in groups of four digits ("3f9a", ...).
    property var groups: []
    readonly property real cell: digitMetrics.advanceWidth("0") + 2

    columns: 4
    columnSpacing: cell
    rowSpacing: 4

    FontMetrics {
        id: digitMetrics
        font.family: Theme.sansFamily
        font.pixelSize: 15
        font.weight: 500
    }

    Repeater {
        model: grid.groups
        delegate: Row {
            id: group
            required property string modelData
            required property int index
            objectName: "group-" + index
            readonly property string text: modelData
            Repeater {
                model: group.modelData.split("")
                delegate: LumenvaleText {
                    required property string modelData
                    width: grid.cell
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.NoWrap
                    text: modelData
                    size: 15
                    lineHeightPoints: 22
                    weight: 500
                }
            }
        }
    }
}
