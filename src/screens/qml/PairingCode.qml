// A pairing code as the owner reads it aloud: its two halves in large
// letters with an en dash between (one part alone when it has no dash).
// Where the row is narrower than the code at full size (a 320-px phone,
// beside the ring), the letters shrink to fit; nothing is ever cut.
import QtQuick
import Lumenvale.Core
import "../components"

Row {
    id: code
    property string first: ""
    property string second: ""
    property color ink: Theme.colours.ink
    property color dashInk: Theme.colours.muted
    property real available: Number.POSITIVE_INFINITY
    // The full size, and the share of it that fits.
    readonly property real fullSize: 36
    readonly property real fullWidth: fullMetrics.advanceWidth + (second.length > 0 ? 2 * 6 : 0)
    readonly property real fit: fullWidth > 0 ? Math.max(0.3, Math.min(1, (available - 2) / fullWidth)) : 1
    readonly property real shownSize: Math.floor(fullSize * fit * 2) / 2
    spacing: 6 * fit

    TextMetrics {
        id: fullMetrics
        font.family: Theme.sansFamily
        font.pixelSize: code.fullSize
        font.weight: 600
        font.letterSpacing: 3
        // The dash is drawn in the regular weight, narrower than this.
        text: code.first + (code.second.length > 0 ? "\u2013" + code.second : "")
    }
    LumenvaleText {
        objectName: "codeFirst"
        text: code.first
        color: code.ink
        size: code.shownSize
        lineHeightPoints: 42 * code.fit
        weight: 600
        tracking: 3 * code.fit
        wrapMode: Text.NoWrap
    }
    LumenvaleText {
        objectName: "codeDash"
        visible: code.second.length > 0
        text: "\u2013"
        color: code.dashInk
        size: code.shownSize
        lineHeightPoints: 42 * code.fit
        wrapMode: Text.NoWrap
    }
    LumenvaleText {
        objectName: "codeSecond"
        visible: code.second.length > 0
        text: code.second
        color: code.ink
        size: code.shownSize
        lineHeightPoints: 42 * code.fit
        weight: 600
        tracking: 3 * code.fit
        wrapMode: Text.NoWrap
    }
}
