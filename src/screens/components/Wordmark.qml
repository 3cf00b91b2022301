// The app's name as drawn (26 points high, read out as the app's name) over
// the tagline in spaced capitals.
import QtQuick
import Lumenvale.Core

Column {
    spacing: 4
    BrandIcon {
        objectName: "wordmark"
        name: "wordmark"
        size: 26
        Accessible.role: Accessible.Graphic
        Accessible.name: qsTrId("app.name")
    }
    LumenvaleText {
        objectName: "tagline"
        text: qsTrId("tagline")
        color: Theme.colours.muted
        size: 11
        lineHeightPoints: 14
        uppercase: true
        tracking: 1
        wrapMode: Text.NoWrap
    }
}
