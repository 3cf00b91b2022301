// An icon beside a title and its detail.
import QtQuick
import Lumenvale.Core

Row {
    id: row
    required property string icon
    required property string title
    property string detail: ""

    spacing: 12
    IconWell {
        icon: row.icon
        size: 36
        iconSize: 18
    }
    Column {
        width: row.width - 48
        spacing: 2
        anchors.verticalCenter: parent.verticalCenter
        LumenvaleText {
            width: parent.width
            text: row.title
            size: 15
            lineHeightPoints: 20
            weight: 500
        }
        LumenvaleText {
            width: parent.width
            visible: row.detail.length > 0
            text: row.detail
            color: Theme.colours.muted
            size: 13
            lineHeightPoints: 18
        }
    }
}
