// A pairing code as the owner reads it aloud: its two halves in large
// letters with an en dash between (one part alone when it has no dash).
import QtQuick
import Lumenvale.Core
import "../components"

Row {
    id: code
    property string first: ""
    property string second: ""
    property color ink: Theme.colours.ink
    spacing: 6
    LumenvaleText {
        objectName: "codeFirst"
        text: code.first
        color: code.ink
        size: 36
        lineHeightPoints: 42
        weight: 600
        tracking: 3
        wrapMode: Text.NoWrap
    }
    LumenvaleText {
        objectName: "codeDash"
        visible: code.second.length > 0
        text: "\u2013"
        color: Theme.colours.muted
        size: 36
        lineHeightPoints: 42
        wrapMode: Text.NoWrap
    }
    LumenvaleText {
        objectName: "codeSecond"
        visible: code.second.length > 0
        text: code.second
        color: code.ink
        size: 36
        lineHeightPoints: 42
        weight: 600
        tracking: 3
        wrapMode: Text.NoWrap
    }
}
